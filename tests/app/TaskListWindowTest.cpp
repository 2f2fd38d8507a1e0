// The task list and the description panel, driven through the window's controls.
#include "WindowHarness.h"

using namespace morvex;

class TaskListWindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Window> w;

private slots:
    void init() { w = std::make_unique<Window>(); }
    void cleanup() {
        QVERIFY2(w->services.AllAnswered(), "a dialog came unexpectedly or not at all");
        w.reset();
    }

    void emptyListShowsAnEmptyLockedPanel() {
        for (const char* text : {"destinationString", "audioInfoString", "timeInfoString",
                                 "sizeInfoString", "stateInfoString"})
            QVERIFY2(w->Text(text).isEmpty(), text);
        QCOMPARE(w->Get<QComboBox>("sourceEnd")->count(), 0);
        for (const char* control : {"startButton", "removeFileButton", "destinationString",
                                    "setDestinationButton", "sourceEnd", "setType", "setFormat"})
            QVERIFY2(!w->Enabled(control), control);
        QVERIFY(w->Enabled("addFileButton"));
        QCOMPARE(w->Progress(), 0);
        w->controller.setDestination(); // nothing to set: no panel
    }

    void addingThroughThePanelSelectsTheNewTask() {
        const QString take = w->Take("take1.wav", 2, 48000 * 2);
        w->Add(take);
        const OpenPanelOptions& panel = w->services.openPanels.at(0);
        QCOMPARE(panel.title, QStringLiteral("Select start file for new task"));
        QCOMPARE(panel.prompt, QStringLiteral("Add"));
        QCOMPARE(panel.fileTypes, QStringList{QStringLiteral("wav")});
        QVERIFY(panel.directory.isEmpty() && !panel.allowsMultipleSelection);

        QCOMPARE(w->Rows(), 1);
        QCOMPARE(w->Name(0), take);
        QCOMPARE(w->SelectedRow(), 0);
        QCOMPARE(w->Icon(0), QStringLiteral("Problem"));
        QCOMPARE(w->controller.mainWindow()->focusWidget(), w->Get("setDestinationButton"));
        QCOMPARE(w->Get<QComboBox>("sourceEnd")->itemText(0), QStringLiteral("take1.wav"));
        QCOMPARE(w->Text("audioInfoString"), QStringLiteral("2 channels, 48000 Hz"));
        QCOMPARE(w->Text("timeInfoString"), QStringLiteral("00:00:02"));
        QCOMPARE(w->Text("stateInfoString"),
                 QStringLiteral("No output directory and file name selected."));
        QVERIFY(w->Enabled("removeFileButton") && w->Enabled("setType"));
        QVERIFY(!w->Enabled("startButton"));
    }

    void secondPanelAddAsksForThePreviousDestination() {
        w->Add(w->Take("a.wav"));
        w->services.alertAnswers = {kAlertSecondButton, kAlertFirstButton};
        w->Click("addFileButton"); // "Cancel": nothing
        w->services.saveAnswers.push_back(Chosen(w->Out("Gig.WAV")));
        w->Click("addFileButton"); // "OK": the destination panel instead of a new task
        QCOMPARE(w->services.alerts.size(), size_t{2});
        QCOMPARE(w->services.alerts[0].messageText,
                 QStringLiteral("No output selected for previous task."));
        QCOMPARE(w->services.alerts[0].informativeText,
                 QStringLiteral("Please select directory and basic file name!"));
        QCOMPARE(w->services.alerts[0].buttons, (QStringList{"OK", "Cancel"}));
        QCOMPARE(w->services.openPanels.size(), size_t{1});
        QCOMPARE(w->Rows(), 1);
        QCOMPARE(w->Text("destinationString"), w->Out("Gig")); // ".WAV" cut off
        QCOMPARE(w->Icon(0), QString());
        QVERIFY(w->Enabled("startButton"));

        // With a destination shown the panel opens again, in the folder of the last start file.
        w->Add(w->Take("b.wav"));
        QCOMPARE(w->services.openPanels.at(1).directory, QString::fromStdString(w->dir.Path()));
        QCOMPARE(w->Rows(), 2);
    }

    void refusedAndCancelledAdds() {
        w->services.openAnswers.push_back({kPanelCancelled, "/", {}});
        w->Click("addFileButton");
        QCOMPARE(w->Rows(), 0);

        // A failed add still remembers the folder of the chosen file.
        w->services.alertAnswers = {kAlertFirstButton, kAlertFirstButton};
        testtake::WriteFile(w->dir.File("short.wav"), testtake::Bytes(44, 0));
        w->Add(w->Out("short.wav"));
        QCOMPARE(w->Rows(), 0);
        QCOMPARE(w->services.alerts.at(0).messageText,
                 QStringLiteral("File could not be added to list."));
        QCOMPARE(w->services.alerts.at(0).informativeText,
                 QStringLiteral("Selected input file is too small."));
        QVERIFY(w->services.alerts.at(0).buttons.isEmpty());
        w->Add(w->Out("missing.wav"));
        QCOMPARE(w->services.openPanels.back().directory, QString::fromStdString(w->dir.Path()));
        QCOMPARE(w->services.alerts.back().informativeText,
                 QStringLiteral("Can not open selected input file."));
    }

    void dropsAppendTheFirstFileWithoutAsking() {
        const QString a = w->Take("a.wav"), b = w->Take("b.wav"), c = w->Take("c.wav");
        QVERIFY(w->Drop({a}));
        QVERIFY(w->Drop({b, c, a})); // no destination check, only the first file
        QCOMPARE(w->Rows(), 2);
        QCOMPARE(w->Name(1), b);
        QCOMPARE(w->SelectedRow(), 1);
        QVERIFY(!w->Drop({"http://example.com/x.wav"})); // not a local file: refused
        QCOMPARE(w->Rows(), 2);

        QMimeData empty;
        empty.setUrls({});
        QVERIFY(w->Model()->dropMimeData(&empty, Qt::CopyAction, -1, -1, {}));
        QCOMPARE(w->Rows(), 2);
    }

    void doubleClickInTheTableAddsATask() {
        w->services.openAnswers.push_back(Chosen(w->Take("a.wav")));
        QTest::mouseDClick(w->Table()->viewport(), Qt::LeftButton);
        QCOMPARE(w->Rows(), 1);
    }

    void thirtyTasksAtMost() {
        const QString take = w->Take("a.wav");
        for (int i = 0; i < 30; ++i)
            w->Drop({take});
        QCOMPARE(w->Rows(), 30);
        w->SetDestination(w->Out("last"));
        w->services.alertAnswers = {kAlertFirstButton, kAlertFirstButton};
        w->Add(take);
        w->Drop({take});
        QCOMPARE(w->Rows(), 30);
        QCOMPARE(w->controller.entryCount(), 30);
        QCOMPARE(w->services.alerts.size(), size_t{2});
        for (const AlertOptions& alert : w->services.alerts)
            QCOMPARE(alert.informativeText, QStringLiteral("Maximum number of tasks reached."));
    }

    void removingKeepsASensibleSelection() {
        const QString a = w->Take("a.wav"), b = w->Take("b.wav"), c = w->Take("c.wav");
        for (const QString& take : {a, b, c})
            w->Drop({take});
        w->SelectRow(1);
        w->Click("removeFileButton"); // the middle one: the same row, now the next task
        QCOMPARE(w->Rows(), 2);
        QCOMPARE(w->SelectedRow(), 1);
        QCOMPARE(w->Name(1), c);
        w->Click("removeFileButton"); // the last one: the new last task
        QCOMPARE(w->SelectedRow(), 0);
        QCOMPARE(w->Name(0), a);
        QCOMPARE(w->Get<QComboBox>("sourceEnd")->itemText(0), QStringLiteral("a.wav"));
        w->Click("removeFileButton"); // the only one: empty list and panel
        QCOMPARE(w->Rows(), 0);
        QCOMPARE(w->SelectedRow(), -1);
        QCOMPARE(w->controller.entryIndex(), -1);
        QVERIFY(w->Text("audioInfoString").isEmpty() && !w->Enabled("removeFileButton"));
        w->Drop({b});
        QCOMPARE(w->SelectedRow(), 0);
        QCOMPARE(w->Text("audioInfoString"), QStringLiteral("2 channels, 48000 Hz"));
    }

    void emptySelectionKeepsThePanel() {
        w->Drop({w->Take("a.wav", 4)});
        w->Table()->selectionModel()->clearSelection();
        QCOMPARE(w->controller.entryIndex(), 0);
        QCOMPARE(w->Text("audioInfoString"), QStringLiteral("4 channels, 48000 Hz"));
    }

    void destinationPanelOpensWhereItMakesSense() {
        w->Drop({w->Take("a.wav")});
        w->Drop({w->Take("b.wav")});
        w->SetDestination(w->Out("sub/one"));
        const SavePanelOptions& first = w->services.savePanels.at(0);
        QCOMPARE(first.title,
                 QStringLiteral("Chose output directory and basic file name for conversion"));
        QCOMPARE(first.prompt, QStringLiteral("Chose"));
        QVERIFY(first.directory.isEmpty());
        w->SetDestination(w->Out("sub/two")); // has one: its folder
        QCOMPARE(w->services.savePanels.at(1).directory, w->Out("sub"));
        w->SelectRow(0);
        w->services.saveAnswers.push_back({kPanelCancelled, "/elsewhere", {}});
        w->Click("setDestinationButton"); // none yet: the last accepted panel's folder
        QCOMPARE(w->services.savePanels.at(2).directory, w->Out("sub"));
        QVERIFY(w->Text("destinationString").isEmpty());
    }

    void sharedDestinationMarksTheLaterTask() {
        w->Drop({w->Take("a.wav")});
        w->SetDestination(w->Out("Gig"));
        w->Drop({w->Take("b.wav")});
        w->SetDestination(w->Out("Gig.wav"));
        QCOMPARE(w->Icon(1), QStringLiteral("Error"));
        QCOMPARE(w->Icon(0), QString());
        QCOMPARE(w->Text("stateInfoString"), QStringLiteral("Output file name is already in use."));
        QVERIFY(!w->Enabled("startButton"));
        QVERIFY(w->Enabled("setDestinationButton")); // a failed task stays editable
    }

    void sourceEndTypeAndFormatRefillThePanel() {
        w->Drop({w->RecorderTake(3, 3, 3, 4800, 1u << 30)}); // each file claims 1 GiB
        auto* sourceEnd = w->Get<QComboBox>("sourceEnd");
        QCOMPARE(sourceEnd->count(), 3);
        QCOMPARE(sourceEnd->itemText(2), QStringLiteral("MKZ03_03.WAV"));
        QCOMPARE(sourceEnd->currentIndex(), 2);
        QCOMPARE(w->Text("timeInfoString"), QStringLiteral("03:06:24"));
        QCOMPARE(w->Text("sizeInfoString"), QStringLiteral("1.00 GB per file, 3.00 GB total"));

        w->Choose("sourceEnd", 0);
        QCOMPARE(w->controller.worker().GetSourceEndIndex(0), 0);
        QCOMPARE(w->Text("timeInfoString"), QStringLiteral("01:02:08"));
        QCOMPARE(w->Text("sizeInfoString"), QStringLiteral("0.33 GB per file, 1.00 GB total"));

        w->SetDestination(w->Out("Gig"));
        w->Choose("setType", 1); // pairs of 3 channels
        QCOMPARE(w->controller.worker().GetDestinationType(0), 1);
        QCOMPARE(w->Icon(0), QStringLiteral("Problem"));
        QCOMPARE(w->Text("stateInfoString"),
                 QStringLiteral("Missmatch: 2 channel format / odd channel count."));
        QVERIFY(!w->Enabled("startButton"));
        w->Choose("setType", 2);
        w->Choose("sourceEnd", 1);
        QCOMPARE(w->Text("sizeInfoString"),
                 QStringLiteral("2.00 GB per file (RF64), 2.00 GB total"));
        w->Choose("setFormat", 1);
        QCOMPARE(w->controller.worker().GetDestinationFormat(0), 1);
        QCOMPARE(w->Text("sizeInfoString"), QStringLiteral("2.00 GB per file, 2.00 GB total"));
        QCOMPARE(w->Icon(0), QString());
        QVERIFY(w->Enabled("startButton"));

        // Another task shows its own settings; going back shows these again.
        w->Drop({w->Take("b.wav")});
        QCOMPARE(w->Get<QComboBox>("setType")->currentIndex(), 0);
        w->SelectRow(0);
        QCOMPARE(w->Get<QComboBox>("setType")->currentIndex(), 2);
        QCOMPARE(w->Get<QComboBox>("setFormat")->currentIndex(), 1);
        QCOMPARE(sourceEnd->currentIndex(), 1);
    }
};

QTEST_MAIN(TaskListWindowTest)
#include "TaskListWindowTest.moc"
