// The real dialogs behind the services: what they show and how their answers are reported.
#include "QtToolkitServices.h"
#include "TempDir.h"
#include "TestTake.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace morvex;

namespace {

// Acts on the next modal dialog of type D as soon as it is up.
template <class D> void WhenUp(std::function<void(D*)> act) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        if (auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget())) {
            poll->deleteLater();
            poll->stop();
            act(dialog);
        }
    });
    poll->start(10);
}

QAbstractButton* Button(QMessageBox* box, const QString& title) {
    for (QAbstractButton* button : box->buttons())
        if (button->text() == title)
            return button;
    return nullptr;
}

} // namespace

class QtServicesTest : public QObject {
    Q_OBJECT
    QtToolkitServices services;
    const AlertOptions question{QStringLiteral("Do you really want to exit this application?"),
                                QStringLiteral("Settings will be lost."),
                                {QStringLiteral("OK"), QStringLiteral("Cancel")}};

private slots:
    void alertAnswersByButtonOrderAndDismissingIsCancel() {
        QString shown;
        WhenUp<QMessageBox>([&](QMessageBox* box) {
            shown = box->text() + QLatin1Char('|') + box->informativeText();
            Button(box, QStringLiteral("OK"))->click();
        });
        QCOMPARE(services.runAlert(nullptr, question), kAlertFirstButton);
        QCOMPARE(shown, question.messageText + QLatin1Char('|') + question.informativeText);
        WhenUp<QMessageBox>(
            [](QMessageBox* box) { Button(box, QStringLiteral("Cancel"))->click(); });
        QCOMPARE(services.runAlert(nullptr, question), kAlertSecondButton);
        // Escape or the close box must not count as "OK", which would quit or stop a run.
        WhenUp<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
        QCOMPARE(services.runAlert(nullptr, question), kAlertSecondButton);
        WhenUp<QMessageBox>([](QMessageBox* box) { box->close(); });
        QCOMPARE(services.runAlert(nullptr, question), kAlertSecondButton);
        WhenUp<QMessageBox>([](QMessageBox* box) { box->buttons().first()->click(); });
        QCOMPARE(services.runAlert(nullptr, {QStringLiteral("File could not be added to list."),
                                             QStringLiteral("Maximum number of tasks reached."),
                                             {}}),
                 kAlertFirstButton);
    }

    void openPanelReportsTheFileAndItsFolder() {
        TempDir dir;
        const QString take = QString::fromStdString(dir.File("MKZ01_01.WAV"));
        testtake::WriteFile(take.toStdString(), testtake::MakeWav({}, {0, 0, 0, 0}));
        QString title, prompt;
        WhenUp<QFileDialog>([&](QFileDialog* panel) {
            title = panel->windowTitle();
            prompt = panel->labelText(QFileDialog::Accept);
            panel->selectFile(take);
            static_cast<QDialog*>(panel)->accept(); // as the accept button does
        });
        const PanelAnswer chosen =
            services.runOpenPanel(nullptr, {QStringLiteral("Select start file for new task"),
                                            QStringLiteral("Add"),
                                            QString::fromStdString(dir.Path()),
                                            {QStringLiteral("wav")}});
        QCOMPARE(title, QStringLiteral("Select start file for new task"));
        QCOMPARE(prompt, QStringLiteral("Add"));
        QCOMPARE(chosen.result, kPanelChosen);
        QCOMPARE(chosen.filenames, QStringList{take});
        QCOMPARE(chosen.directory, QString::fromStdString(dir.Path()));

        WhenUp<QFileDialog>([](QFileDialog* panel) { panel->reject(); });
        QCOMPARE(services.runSavePanel(nullptr, {}).result, kPanelCancelled);
    }
};

QTEST_MAIN(QtServicesTest)
#include "QtServicesTest.moc"
