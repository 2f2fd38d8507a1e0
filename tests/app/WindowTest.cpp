// The main window driven through its controls, with dialogs answered by a script.
#include "MorvexAppDelegate.h"
#include "QtToolkitServices.h"
#include "WindowHarness.h"

using namespace morvex;
using namespace Qt::StringLiterals;

const QString kSettings = u"sourceEnd destinationString setDestinationButton setType setFormat"_s;
const QString kAllButStart = u"addFileButton removeFileButton "_s + kSettings;
const QString kAll = u"addFileButton removeFileButton startButton "_s + kSettings;
const QString kOpenPanel = u"Select start file for new task"_s;
const QString kSavePanel = u"Choose output directory and basic file name for conversion"_s;

class WindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<Window> w;

private slots:
    void init() { w = std::make_unique<Window>(); }
    void cleanup() {
        const ScriptedServices& s = w->services;
        QVERIFY2(s.unanswered == 0 && s.panels.empty() && s.answers.empty(),
                 "a dialog came unexpectedly or not at all");
        w.reset();
    }

    void addingByPanelAndDrop() {
        const QUrl a = w->Take(1), b = w->Take(2), c = w->Take(3);
        w->services.panels.push_back(Chosen(a.toLocalFile()));
        QTest::mouseDClick(w->Table()->viewport(), Qt::LeftButton);
        QCOMPARE(w->Icons(), QStringList{u"Problem"_s});
        QCOMPARE(w->Text("stateInfoString"), u"No output directory and file name selected."_s);
        QCOMPARE(w->Enabled(), kAllButStart);

        // The last task has no destination: adding asks for one instead ("Cancel", then "OK").
        w->services.answers = {kAlertSecondButton, kAlertFirstButton};
        w->Click("addFileButton");
        w->Pick(w->Out("Gig.WAV"), "addFileButton");
        QCOMPARE(w->Text("destinationString"), w->Out("Gig"));
        w->Pick(b.toLocalFile(), "addFileButton");

        // Drops append their first local file and ask nothing, though b has no destination.
        QVERIFY(w->Drop({c, a}));
        QVERIFY(!w->Drop({QUrl(u"http://example.com/x.wav"_s)}));
        QCOMPARE(w->Model()->rowCount(), 3);
        QCOMPARE(w->Model()->index(2, 1).data().toString(), c.toLocalFile());
        QCOMPARE(w->Selected(), 2);
        for (int row = 3; row < 30; ++row)
            w->Drop({a});
        w->Pick(w->Out("last"));
        w->services.answers = {kAlertFirstButton, kAlertFirstButton};
        w->Pick(a.toLocalFile(), "addFileButton");
        w->Drop({a});
        QCOMPARE(w->Model()->rowCount(), 30);
        const QString question = u"No output selected for previous task.|"
                                 "Please select directory and basic file name!|OK|Cancel"_s;
        const QString full = u"File could not be added to list.|Maximum number of tasks reached."_s;
        QCOMPARE(w->services.asked, (QStringList{kOpenPanel, question, question, kSavePanel,
                                                 kOpenPanel, kSavePanel, kOpenPanel, full, full}));
    }

    void removingKeepsASelection() {
        for (const int channels : {2, 6, 4, 8})
            w->Drop({w->Take(channels, 1, channels)});
        w->Table()->selectionModel()->clearSelection(); // an empty selection keeps the task
        QCOMPARE(w->Text("audioInfoString"), u"8 channels, 48000 Hz"_s);
        w->Click("removeFileButton"); // the last one: the new last task
        QCOMPARE(w->Selected(), 2);
        QCOMPARE(w->Text("audioInfoString"), u"4 channels, 48000 Hz"_s);
        w->SelectRow(0);
        w->Click("removeFileButton"); // another: the same row, now the next task
        QCOMPARE(w->Selected(), 0);
        QCOMPARE(w->Text("audioInfoString"), u"6 channels, 48000 Hz"_s);
        w->Click("removeFileButton");
        w->Click("removeFileButton"); // the only one: an empty, locked panel
        QCOMPARE(w->Selected(), -1);
        QCOMPARE(w->Text("audioInfoString"), QString());
        QCOMPARE(w->Enabled(), u"addFileButton"_s);
    }

    void panelFollowsSourceEndTypeFormatAndDestination() {
        w->Drop({w->Take(3, 3, 3, 1u << 30)}); // each file claims 1 GiB
        auto* sourceEnd = w->Get<QComboBox>("sourceEnd");
        QCOMPARE(sourceEnd->currentText(), u"MKZ03_03.WAV"_s);
        QCOMPARE(w->Text("timeInfoString"), u"03:06:24"_s);
        QCOMPARE(w->Text("sizeInfoString"), u"1.00 GB per file, 3.00 GB total"_s);
        w->Choose("sourceEnd", 0);
        QCOMPARE(w->Text("timeInfoString"), u"01:02:08"_s);
        QCOMPARE(w->Text("sizeInfoString"), u"0.33 GB per file, 1.00 GB total"_s);
        w->Pick(w->Out("Gig"));

        w->Choose("setType", 1); // pairs of 3 channels
        QCOMPARE(w->Icons(), QStringList{u"Problem"_s});
        QCOMPARE(w->Text("stateInfoString"), u"Mismatch: 2 channel format / odd channel count."_s);
        QCOMPARE(w->Enabled(), kAllButStart);
        w->Choose("setType", 2);
        w->Choose("sourceEnd", 1);
        QCOMPARE(w->Text("sizeInfoString"), u"2.00 GB per file (RF64), 2.00 GB total"_s);
        w->Choose("setFormat", 1);
        QCOMPARE(w->Text("sizeInfoString"), u"2.00 GB per file, 2.00 GB total"_s);
        QCOMPARE(w->Icons(), QStringList{QString()});
        QCOMPARE(w->Enabled(), kAll);

        // A second task shows its own settings; taking the first one's name fails it, editably.
        w->Drop({w->Take(4)});
        w->Pick(w->Out("Gig.wav"));
        QCOMPARE(w->Icons(), (QStringList{QString(), u"Error"_s}));
        QCOMPARE(w->Text("stateInfoString"), u"Output file name is already in use."_s);
        QCOMPARE(w->Get<QComboBox>("setType")->currentIndex(), 0);
        QCOMPARE(w->Enabled(), kAllButStart);
        w->SelectRow(0);
        QCOMPARE(w->Get<QComboBox>("setType")->currentIndex(), 2);
        QCOMPARE(w->Get<QComboBox>("setFormat")->currentIndex(), 1);
        QCOMPARE(sourceEnd->currentIndex(), 1);
    }

    void runStopAndPause() {
        w->Drop({w->Take(1, 60)});
        w->Pick(w->Out("long"));
        w->Choose("setType", 1);
        w->Choose("setFormat", 1);
        w->Drop({w->Take(2, 1, 4)});
        w->Pick(w->Out("mono"));
        w->Drop({w->Take(3)});
        w->Pick(w->Out("taken"));
        testtake::WriteFile(w->dir.File("taken_01.wav"), {1, 2, 3}); // in the way of its output
        w->Click("startButton");
        QCOMPARE(w->Text("startButton"), u"Stop"_s);
        QCOMPARE(w->Enabled(), u"startButton"_s);
        for (int tick = 0; tick < 20; ++tick) { // the running icon turns a frame every 4 ticks
            w->Tick();
            QCOMPARE(w->Icons(), (QStringList{u"Doing%1"_s.arg(tick / 4 % 4 + 1), {}, {}}));
        }
        QVERIFY(w->Exists("long_01.caf") && w->Text("progressIndicator") != u"0%"_s);
        QVERIFY(w->Text("stateInfoString").startsWith(u"Conversion running, "_s));
        w->services.answers = {kAlertFirstButton, kAlertSecondButton};
        w->Click("startButton"); // "OK"
        w->Click("startButton"); // already agreed: not asked again
        w->Tick(2);
        QVERIFY(!w->Exists("long_01.caf"));
        QCOMPARE(w->Text("startButton"), u"Start"_s);
        QCOMPARE(w->Icons(), QStringList(3));
        QCOMPARE(w->Text("stateInfoString"), u"File(s) prepared for conversion."_s);

        w->Click("startButton"); // from the stopped task again, its icon turning on where it was
        w->Tick();
        QCOMPARE(w->Icons().first(), u"Doing2"_s);
        w->Drop({w->Take(4)}); // joins the list, not the run
        QCOMPARE(w->Icons().at(3), QString());

        // On the timer now; nothing moves while the stop question is open, though ticks come.
        w->controller.conversionTimer().start();
        const auto shown = [&] {
            return w->Icons() << w->Text("progressIndicator") << w->Text("stateInfoString");
        };
        bool held = false;
        w->services.whileOpen = [&] {
            const QStringList before = shown();
            w->Tick(8);
            held = !w->controller.conversionTimer().isActive() && shown() == before;
        };
        w->Click("startButton"); // "Cancel"
        QVERIFY(held && w->controller.conversionTimer().isActive());
        QCOMPARE(w->services.asked.mid(3), QStringList(2, u"Do you really want to stop "
                                                          "conversion?|Output files of current "
                                                          "task will be deleted.|OK|Cancel"_s));
        QTRY_VERIFY_WITH_TIMEOUT(!w->controller.isConversionRunning(), 60000);
        QCOMPARE(w->Icons(), (QStringList{u"Done"_s, u"Done"_s, u"Error"_s, u"Problem"_s}));
        QVERIFY(!w->Model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(w->Selected(), 2);
        QCOMPARE(w->Text("stateInfoString"), u"Output file can not be created."_s);
        QCOMPARE(w->Text("progressIndicator"), u"0%"_s);
        QVERIFY(w->Exists("long_01.caf") && w->Exists("mono_04.wav"));
        w->SelectRow(0);
        QCOMPARE(w->Text("stateInfoString"), u"Conversion done."_s);
        QCOMPARE(w->Enabled(), u"addFileButton removeFileButton"_s); // the late task lacks one
    }

    void closingAsksAboutUnfinishedWork() {
        w->Drop({w->Take(1)});
        w->services.answers = {kAlertSecondButton, kAlertFirstButton};
        QVERIFY(!w->controller.mainWindow()->close()); // "Cancel": stays, with its list
        QVERIFY(w->controller.mainWindow()->isVisible() && w->Model()->rowCount() == 1);
        w->Pick(w->Out("short"));
        w->Click("startButton");
        for (int i = 0; i < 1000 && w->controller.isConversionRunning(); ++i)
            w->Tick();
        QVERIFY(w->controller.windowShouldClose()); // all done: nothing to lose, not asked

        // During a run "OK" deletes the unfinished task's outputs, not the finished ones'.
        w->Drop({w->Take(2, 200)});
        w->Pick(w->Out("long"));
        w->Click("startButton");
        for (int i = 0; i < 1000 && !w->Exists("long_02.wav"); ++i)
            w->Tick();
        QVERIFY(w->Exists("long_02.wav") && w->controller.mainWindow()->close());
        QVERIFY(!w->Exists("long_01.wav") && w->Exists("short_01.wav"));
        const QString exit = u"Do you really want to exit this application?|"_s;
        QCOMPARE(w->services.asked,
                 (QStringList{exit + u"Settings will be lost.|OK|Cancel"_s, kSavePanel, kSavePanel,
                              exit + u"Conversion is still running!|OK|Cancel"_s}));

        // The application ends with its window; an empty list closes without a question.
        ScriptedServices none;
        QTimer::singleShot(0, qApp, &QApplication::closeAllWindows);
        QCOMPARE(RunMorvexApplication(*qobject_cast<QApplication*>(qApp), none), 0);
        QVERIFY(none.asked.isEmpty());
    }

    void realAlertTakesEscapeAsCancel() { // as "OK" it would stop a run or quit unfinished work
        QtToolkitServices real;
        for (const auto& [key, answer] :
             {std::pair{Qt::Key_Return, kAlertFirstButton}, {Qt::Key_Escape, kAlertSecondButton}}) {
            QTimer::singleShot(0,
                               [key] { QTest::keyClick(QApplication::activeModalWidget(), key); });
            QCOMPARE(real.runAlert(nullptr, {u"Stop?"_s, {}, {u"OK"_s, u"Cancel"_s}}), answer);
        }
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
