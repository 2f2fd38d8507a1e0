// Builds the picture of the main window for the documentation: the real window and controller
// with a few tasks in different states, halfway through a run. Not a test; run it under an X
// server, e.g. xvfb-run -a ./morvex_screenshot /tmp/Recordings docs/screenshot.png
#include "WindowHarness.h"

#include <QApplication>
#include <QDir>

using namespace morvex;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 3) {
        qWarning("usage: morvex_screenshot <empty folder for takes and outputs> <picture.png>");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const QString takes = root + QStringLiteral("/Gig 2024-05-11");
    const QString outputs = root + QStringLiteral("/Mix");
    QDir().mkpath(outputs);

    ScriptedServices services;
    auto controller = std::make_unique<MorvexController>(services);
    controller->conversionTimer().stop();
    QMainWindow* window = controller->mainWindow();
    window->resize(1020, 500);
    window->show();

    const auto add = [&](const QString& start, const QString& destination, int type) {
        services.panels.push_back(Chosen(start));
        controller->addFile();
        if (destination.isEmpty())
            return;
        services.panels.push_back(Chosen(outputs + QLatin1Char('/') + destination));
        controller->setDestination();
        window->findChild<QComboBox*>(QStringLiteral("setType"))->setCurrentIndex(type);
        controller->typeChanged();
    };
    add(WriteTake(takes, 1, 3, 8, 48000, 24), QStringLiteral("Soundcheck"), 0);
    add(WriteTake(takes, 2, 2, 4, 48000, 24), QStringLiteral("Ambience"), 1);
    add(WriteTake(takes, 3, 2, 16, 240000, 24), QStringLiteral("Set1"), 0);
    // Of the third take only the channels in use, its silent ones left out.
    QTest::keyClicks(window->findChild<QWidget*>(QStringLiteral("channelsString")), "1-12\r");
    QTest::keyClick(window->findChild<QWidget*>(QStringLiteral("setSkipSilent")), Qt::Key_Space);
    add(WriteTake(takes, 4, 1, 16, 48000, 24), QStringLiteral("Set2"), 2);
    controller->setStepBudgetMs(0); // a step a tick: the run stops about halfway, not past it
    controller->startConversion();
    // A file that came into the way after Start had checked the outputs: the second task cannot
    // create its files.
    testtake::WriteFile((outputs + QStringLiteral("/Ambience_01.wav")).toStdString(), {0});
    // Into the third task, about halfway.
    for (int tick = 0; tick < 400; ++tick) {
        controller->timerAction();
        double fraction = 0.0;
        int entry = 0;
        controller->worker().GetConversionInfo(&fraction, &entry);
        if (entry == 2 && fraction > 0.45)
            break;
    }
    QTest::qWait(200);
    controller->timerAction(); // a redraw is due by now: the bar and the state as they are
    if (!window->grab().save(QString::fromLocal8Bit(argv[2])))
        return 1;
    return 0;
}
