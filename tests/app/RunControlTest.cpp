// Conversion runs, stopping, closing and the application shell, driven through the window.
#include "MorvexAppDelegate.h"
#include "StateImages.h"
#include "WindowHarness.h"

#include <QApplication>
#include <QPushButton>

using namespace morvex;

namespace {

bool Exists(const QString& path) {
    return QFileInfo::exists(path);
}

} // namespace

class RunControlTest : public QObject {
    Q_OBJECT

private slots:
    void startWithoutTasksDoesNothing() {
        Window w;
        w.controller.startConversion();
        QVERIFY(!w.controller.isConversionRunning());
        QCOMPARE(w.Get<QPushButton>("startButton")->text(), QStringLiteral("Start"));
    }

    void wholeRunShowsIconsFilesAndTexts() {
        Window w(true);
        w.Drop({w.Take("mono.wav", 4)});
        w.SetDestination(w.Out("mono"));
        w.Drop({w.RecorderTake(7, 40)});
        w.SetDestination(w.Out("pairs"));
        w.Choose("setType", 1);
        w.Choose("setFormat", 1);
        w.Drop({w.Take("taken.wav")});
        w.SetDestination(w.Out("taken"));
        testtake::WriteFile(w.dir.File("taken_01.wav"), {1, 2, 3});

        QSet<QString> frames;
        QObject::connect(&w.controller.conversionTimer(), &QTimer::timeout, [&] {
            if (w.Icon(1).startsWith(QLatin1String("Doing")))
                frames << w.Icon(1);
        });
        w.Click("startButton");
        QCOMPARE(w.Get<QPushButton>("startButton")->text(), QStringLiteral("Stop"));
        for (const char* locked :
             {"addFileButton", "removeFileButton", "setType", "sourceEnd", "setDestinationButton"})
            QVERIFY2(!w.Enabled(locked), locked);
        QVERIFY(w.Enabled("startButton"));
        QTRY_VERIFY_WITH_TIMEOUT(!w.controller.isConversionRunning(), 60000);

        QCOMPARE(frames.size(), 4); // the running icon turned through all four frames
        QCOMPARE(w.Get<QPushButton>("startButton")->text(), QStringLiteral("Start"));
        QCOMPARE(w.Icon(0), QStringLiteral("Done"));
        QCOMPARE(w.Icon(1), QStringLiteral("Done"));
        QCOMPARE(w.Icon(2), QStringLiteral("Error"));
        QVERIFY(!w.Model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(w.SelectedRow(), 2);
        QCOMPARE(w.Text("stateInfoString"), QStringLiteral("Output file can not be created."));
        QCOMPARE(w.Progress(), 0);
        for (const char* out : {"mono_01.wav", "mono_04.wav", "pairs_01.caf"})
            QVERIFY2(Exists(w.Out(out)), out);
        QVERIFY(!Exists(w.Out("mono_05.wav")) && !Exists(w.Out("pairs_02.caf")));
        QCOMPARE(QFileInfo(w.Out("taken_01.wav")).size(), 3); // never overwritten

        w.SelectRow(0);
        QCOMPARE(w.Text("stateInfoString"), QStringLiteral("Conversion done."));
        QVERIFY(!w.Enabled("setType") && !w.Enabled("setDestinationButton"));
        QVERIFY(w.Enabled("removeFileButton") && w.Enabled("addFileButton"));
        QVERIFY(w.Enabled("startButton")); // the failed task may be tried again
    }

    void runningIconTurnsAndKeepsItsPhaseAcrossRuns() {
        Window w;
        w.Drop({w.RecorderTake(1, 40)});
        w.SetDestination(w.Out("out"));
        w.Click("startButton");
        for (int tick = 0; tick < 20; ++tick) {
            w.Tick();
            QCOMPARE(w.Icon(0), QStringLiteral("Doing%1").arg(tick / 4 % 4 + 1));
        }
        w.services.alertAnswers = {kAlertFirstButton};
        w.Click("startButton");
        w.Tick(2); // the stop tick shows one more frame
        QVERIFY(!w.controller.isConversionRunning());
        w.Click("startButton");
        w.Tick();
        QCOMPARE(w.Icon(0), QStringLiteral("Doing2")); // frame 21 of the cycle, not frame 0
    }

    void stopAsksThenDeletesTheRunningTasksOutputs() {
        Window w;
        w.Drop({w.Take("short.wav")});
        w.SetDestination(w.Out("short"));
        w.Drop({w.RecorderTake(1, 40)});
        w.SetDestination(w.Out("long"));
        w.Click("startButton");
        for (int i = 0; i < 50 && w.Icon(1).isEmpty(); ++i)
            w.Tick();
        w.Tick(2);
        QCOMPARE(w.Icon(0), QStringLiteral("Done"));
        QVERIFY(Exists(w.Out("long_01.wav")));
        QCOMPARE(w.SelectedRow(), 1);
        QVERIFY(w.Text("stateInfoString").startsWith(QLatin1String("Conversion running, ")));
        w.SelectRow(0); // the run takes the selection back on its next tick
        QCOMPARE(w.Text("stateInfoString"), QStringLiteral("Conversion done."));
        w.Tick();
        QCOMPARE(w.SelectedRow(), 1);

        w.services.alertAnswers = {kAlertSecondButton, kAlertFirstButton};
        w.Click("startButton"); // "Cancel"
        QVERIFY(!w.controller.isStopRequested());
        w.Tick();
        QVERIFY(Exists(w.Out("long_01.wav")));
        w.Click("startButton"); // "OK"
        w.Click("startButton"); // already agreed: no second question
        const AlertOptions& question = w.services.alerts.at(0);
        QCOMPARE(question.messageText, QStringLiteral("Do you really want to stop convertion?"));
        QCOMPARE(question.informativeText,
                 QStringLiteral("Output files of current task will be deleted."));
        QCOMPARE(w.services.alerts.size(), size_t{2});

        w.Tick();
        QVERIFY(!Exists(w.Out("long_01.wav")) && !Exists(w.Out("long_02.wav")));
        QCOMPARE(w.Get<QPushButton>("startButton")->text(), QStringLiteral("Stop"));
        w.Tick();
        QCOMPARE(w.Get<QPushButton>("startButton")->text(), QStringLiteral("Start"));
        QCOMPARE(w.Icon(1), QString());
        QCOMPARE(w.Text("stateInfoString"), QStringLiteral("File(s) prepared for conversion."));
        QVERIFY(Exists(w.Out("short_01.wav")));

        w.Click("startButton"); // converts the stopped task again, skips the done one
        QVERIFY(w.RunToEnd());
        QCOMPARE(w.Icon(1), QStringLiteral("Done"));
        QVERIFY(Exists(w.Out("long_02.wav")));
    }

    void stopQuestionHoldsTheRun() {
        Window w(true);
        w.Drop({w.RecorderTake(1, 60)});
        w.SetDestination(w.Out("out"));
        w.Click("startButton");
        QTRY_VERIFY(w.Progress() > 0);

        int progressBefore = -1, progressAfter = -2;
        QString stateBefore, stateAfter;
        bool timerActive = true;
        w.services.whileOpen = [&] {
            progressBefore = w.Progress();
            stateBefore = w.Text("stateInfoString");
            QTest::qWait(400); // eight ticks' worth of event processing
            progressAfter = w.Progress();
            stateAfter = w.Text("stateInfoString");
            timerActive = w.controller.conversionTimer().isActive();
        };
        w.services.alertAnswers = {kAlertSecondButton};
        w.Click("startButton");
        w.services.whileOpen = nullptr;
        QCOMPARE(progressAfter, progressBefore);
        QCOMPARE(stateAfter, stateBefore);
        QVERIFY(!timerActive);
        QVERIFY(w.controller.conversionTimer().isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!w.controller.isConversionRunning(), 60000);
        QCOMPARE(w.Icon(0), QStringLiteral("Done"));
    }

    void taskDroppedDuringARunWaitsForTheNextRun() {
        Window w;
        w.Drop({w.RecorderTake(1, 10)});
        w.SetDestination(w.Out("out"));
        w.Click("startButton");
        w.Tick(2);
        w.Drop({w.Take("late.wav")});
        QCOMPARE(w.Rows(), 2);
        QCOMPARE(w.Icon(1), QString()); // waiting, not "no destination", while a run goes on
        QVERIFY(!w.Enabled("setDestinationButton") && !w.Enabled("removeFileButton"));
        QVERIFY(w.RunToEnd());
        QCOMPARE(w.Icon(0), QStringLiteral("Done"));
        QCOMPARE(w.Icon(1), QStringLiteral("Problem"));
    }

    void closingAsksOnlyAboutUnfinishedWork() {
        Window empty;
        QVERIFY(empty.controller.mainWindow()->close());
        QVERIFY(empty.services.alerts.empty());

        Window done;
        done.Drop({done.Take("a.wav")});
        done.SetDestination(done.Out("a"));
        done.Click("startButton");
        QVERIFY(done.RunToEnd());
        QVERIFY(done.controller.mainWindow()->close());
        QVERIFY(done.services.alerts.empty());

        Window idle;
        idle.Drop({idle.Take("a.wav")});
        idle.services.alertAnswers = {kAlertSecondButton, kAlertFirstButton};
        QVERIFY(!idle.controller.mainWindow()->close());
        QVERIFY(idle.controller.mainWindow()->isVisible());
        QCOMPARE(idle.Rows(), 1);
        QVERIFY(idle.controller.mainWindow()->close());
        QCOMPARE(idle.services.alerts.at(0).messageText,
                 QStringLiteral("Do you really want to exit this application?"));
        QCOMPARE(idle.services.alerts.at(0).informativeText,
                 QStringLiteral("Settings will be lost."));
        QCOMPARE(idle.services.alerts.at(0).buttons, (QStringList{"OK", "Cancel"}));
    }

    void closingDuringARunDeletesOnlyTheUnfinishedOutputs() {
        Window w(true);
        w.Drop({w.Take("short.wav")});
        w.SetDestination(w.Out("short"));
        w.Drop({w.RecorderTake(1, 200)});
        w.SetDestination(w.Out("long"));
        w.Click("startButton");
        QTRY_VERIFY(Exists(w.Out("long_02.wav")));
        w.services.alertAnswers = {kAlertFirstButton};
        QVERIFY(w.controller.mainWindow()->close());
        QCOMPARE(w.services.alerts.at(0).informativeText,
                 QStringLiteral("Conversion is still running!"));
        QVERIFY(!Exists(w.Out("long_01.wav")) && !Exists(w.Out("long_02.wav")));
        QVERIFY(Exists(w.Out("short_01.wav")));
        QVERIFY(!w.controller.conversionTimer().isActive());
    }

    void applicationEndsWithItsWindowAndForgetsTheList() {
        ScriptedServices services;
        TempDir dir;
        const std::string take = dir.File("a.wav");
        testtake::WriteFile(take, testtake::MakeWav({}, testtake::PatternSamples(100, 2, 2)));
        services.alertAnswers = {kAlertSecondButton, kAlertFirstButton};
        int rowsAtSecondLaunch = -1;
        bool keptOpenOnCancel = false;
        QTimer guard; // never let a broken close hang the suite
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, qApp, &QCoreApplication::quit);

        const auto onWindow = [](const std::function<void(QMainWindow*)>& act) {
            QTimer::singleShot(0, [act] {
                for (QWidget* top : QApplication::topLevelWidgets())
                    if (top->objectName() == QLatin1String("_mainWindow") && top->isVisible())
                        act(static_cast<QMainWindow*>(top));
            });
        };
        onWindow([&](QMainWindow* window) {
            auto* table = window->findChild<QTableView*>("_FileListTableView");
            table->model()->dropMimeData(
                [&] {
                    auto* mime = new QMimeData;
                    mime->setUrls({QUrl::fromLocalFile(QString::fromStdString(take))});
                    mime->setParent(window);
                    return mime;
                }(),
                Qt::CopyAction, -1, -1, {});
            QCoreApplication::processEvents();
            window->close(); // "Cancel"
            keptOpenOnCancel = window->isVisible() && table->model()->rowCount() == 1;
            window->findChild<QPushButton*>("exitButton")->click(); // "OK"
        });
        guard.start(10000);
        QCOMPARE(RunMorvexApplication(*qobject_cast<QApplication*>(qApp), services), 0);
        QVERIFY(guard.isActive());
        QVERIFY(keptOpenOnCancel);
        QCOMPARE(services.alerts.size(), size_t{2});

        onWindow([&](QMainWindow* window) {
            rowsAtSecondLaunch =
                window->findChild<QTableView*>("_FileListTableView")->model()->rowCount();
            window->close(); // nothing to lose: no question
        });
        QCOMPARE(RunMorvexApplication(*qobject_cast<QApplication*>(qApp), services), 0);
        QVERIFY(guard.isActive());
        QCOMPARE(rowsAtSecondLaunch, 0);
        QVERIFY(services.AllAnswered());
    }

    void windowDefinitionHoldsTheOutletsAndImages() {
        Window w;
        QCOMPARE(w.Get<QComboBox>("setType")->count(), 3);
        QCOMPARE(w.Get<QComboBox>("setFormat")->itemText(0), QStringLiteral("WAV"));
        QCOMPARE(w.Get<QComboBox>("setFormat")->itemText(1), QStringLiteral("CAF"));
        QCOMPARE(w.Model()->headerData(0, Qt::Horizontal, TaskTableModel::IdentifierRole),
                 QVariant(QStringLiteral("Icon")));
        QCOMPARE(w.Model()->headerData(1, Qt::Horizontal, TaskTableModel::IdentifierRole),
                 QVariant(QStringLiteral("Name")));

        QList<QImage> doing;
        for (const char* name :
             {"Done", "Problem", "Error", "Doing1", "Doing2", "Doing3", "Doing4"}) {
            const QIcon icon = LoadImageNamed(QString::fromLatin1(name));
            QVERIFY2(!icon.isNull(), name);
            if (QByteArray(name).startsWith("Doing"))
                doing << icon.pixmap(20).toImage();
        }
        for (int a = 0; a < 4; ++a)
            for (int b = a + 1; b < 4; ++b)
                QVERIFY(doing[a] != doing[b]); // four distinct frames of the turn
        QVERIFY(LoadImageNamed(QStringLiteral("Nothing")).isNull());
    }
};

QTEST_MAIN(RunControlTest)
#include "RunControlTest.moc"
