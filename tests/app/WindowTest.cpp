// The main window driven through its controls, with dialogs answered by a script.
#include "MorvexAppDelegate.h"
#include "QtToolkitServices.h"
#include "WindowHarness.h"

#include <cerrno>
#include <cstring>
#include <sndfile.h>
#include <sys/statvfs.h>

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

        // A drop of one file appends it and asks nothing, though b has no destination.
        QVERIFY(w->Drop({c}));
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
                                 "Please select directory and basic file name!|[OK]|Cancel"_s;
        const QString full =
            u"File could not be added to list.|Maximum number of tasks reached.\n"_s +
            a.toLocalFile();
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

        // A second task shows its own settings. The first one's name is free for WAV files (the
        // first writes CAF); as CAF it fails the second task, editably.
        w->Drop({w->Take(4)});
        w->Pick(w->Out("Gig.wav"));
        QCOMPARE(w->Icons(), QStringList(2));
        w->Choose("setFormat", 1);
        QCOMPARE(w->Icons(), (QStringList{QString(), u"Error"_s}));
        QCOMPARE(w->Text("stateInfoString"), u"Output file name is already in use."_s);
        QCOMPARE(w->Get<QComboBox>("setType")->currentIndex(), 0);
        QCOMPARE(w->Enabled(), kAllButStart);
        QCOMPARE(w->Text("startHoldString"), u"Start waits for task 2 (MKZ04_01.WAV): Output file "
                                             "name is already in use."_s);
        w->SelectRow(0);
        QCOMPARE(w->Get<QComboBox>("setType")->currentIndex(), 2);
        QCOMPARE(w->Get<QComboBox>("setFormat")->currentIndex(), 1);
        QCOMPARE(sourceEnd->currentIndex(), 1);
    }

    void runStopAndPause() {
        w->controller.setStepBudgetMs(0); // one step a tick: the run is looked at between steps
        w->Drop({w->Take(1, 60)});
        w->Pick(w->Out("long"));
        w->Choose("setType", 1);
        w->Choose("setFormat", 1);
        w->Drop({w->Take(2, 1, 4)});
        w->Pick(w->Out("mono"));
        w->Drop({w->Take(3)});
        w->Pick(w->Out("taken"));
        w->Click("startButton");
        QCOMPARE(w->Text("startButton"), u"Stop"_s);
        QCOMPARE(w->Enabled(), u"startButton"_s);
        QStringList frames; // the running icon turns a frame at a time, by time, not by ticks
        for (int frame = 0; frame < 5; ++frame) {
            w->Tick(3);
            frames << w->Icons().first();
            QCOMPARE(w->Icons().mid(1), QStringList(2));
            QTest::qWait(RunPacer::kIconFrameMs + 10);
        }
        QCOMPARE(frames,
                 (QStringList{u"Doing1"_s, u"Doing2"_s, u"Doing3"_s, u"Doing4"_s, u"Doing1"_s}));
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

        w->Click("startButton"); // from the stopped task again, its icon turning
        // In the way of the third task's output, after the check on Start.
        testtake::WriteFile(w->dir.File("taken_01.wav"), {1, 2, 3});
        w->Tick();
        QVERIFY(w->Icons().first().startsWith(u"Doing"_s));
        QCOMPARE(w->controller.conversionTimer().interval(), RunPacer::kRunTickMs);
        w->Drop({w->Take(4)}); // joins the list, not the run
        QCOMPARE(w->Icons().at(3), QString());

        // On the timer and its budget now; nothing moves while the stop question is open, though
        // ticks come.
        w->controller.setStepBudgetMs(RunPacer::kStepBudgetMs);
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
        QCOMPARE(w->services.asked.mid(3),
                 QStringList(2, u"Do you really want to stop conversion?|The output files of the "
                                "running task (MKZ01_01.WAV) will be deleted.|OK|[Cancel]"_s));
        QTRY_VERIFY_WITH_TIMEOUT(!w->controller.isConversionRunning(), 60000);
        QCOMPARE(w->Icons(), (QStringList{u"Done"_s, u"Done"_s, u"Error"_s, u"Problem"_s}));
        QVERIFY(!w->Model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(w->Selected(), 2);
        QCOMPARE(w->Text("stateInfoString"), u"Output file can not be created."_s);
        QCOMPARE(w->Text("noteInfoString"), w->Out("taken_01.wav") + u": File exists"_s);
        QCOMPARE(w->Text("progressIndicator"), u"0%"_s);
        QVERIFY(w->Exists("long_01.caf") && w->Exists("mono_04.wav"));
        w->SelectRow(0);
        QCOMPARE(w->Text("stateInfoString"), u"Conversion done."_s);
        QCOMPARE(w->Enabled(), u"addFileButton removeFileButton"_s); // the late task lacks one
        QCOMPARE(w->controller.conversionTimer().interval(), RunPacer::kIdleTickMs);
    }

    // A tick makes as many steps as its budget allows, yet ends wherever the window has to show
    // something: each task's start (its row selected, its icon turning) and each task's end.
    void ticksBatchStepsButStopAtEveryTask() {
        for (const int take : {1, 2, 3}) {
            w->Drop({w->Take(take, 60)}); // 60 files: at least 60 steps a task
            w->Pick(w->Out(qPrintable(u"t%1"_s.arg(take))));
        }
        w->Click("startButton");
        int ticks = 0;
        int done = 0;
        QList<int> seenRunning;
        while (w->controller.isConversionRunning() && ticks < 1000) {
            w->Tick();
            ++ticks;
            const int doneNow = int(w->Icons().count(u"Done"_s));
            QVERIFY2(doneNow - done <= 1, "a tick ran past the end of a task");
            done = doneNow;
            const int row = w->Selected();
            if (row >= 0 && w->Icons().at(row).startsWith(u"Doing"_s) && !seenRunning.contains(row))
                seenRunning << row;
        }
        QCOMPARE(w->Icons(), QStringList(3, u"Done"_s));
        QCOMPARE(seenRunning, (QList<int>{0, 1, 2}));
        QVERIFY2(ticks < 90, qPrintable(u"%1 ticks for 180 files"_s.arg(ticks)));
    }

    void filesGivenToTheProgram() {
        const QUrl a = w->Take(1), b = w->Take(2);
        const QString gone = w->Out("gone.wav");
        const QString refused = u"File could not be added to list.|"_s;
        const auto cannotOpen = [&](const QString& file, int error) {
            return refused + u"Can not open selected input file.\n%1: %2"_s.arg(
                                 file, QString::fromLocal8Bit(std::strerror(error)));
        };
        // A folder gives the takes in it, one task a take, as the command line's folder mode.
        const QString card = w->Out("card");
        WriteTake(card, 8, 1, 2, 480);
        WriteTake(card, 7, 2, 2, 480); // its second file is no take of its own
        WriteTake(card, 9, 1, 2, 480); // renamed with another separator: a take all the same
        QVERIFY(QFile::rename(card + u"/MKZ09_01.WAV"_s, card + u"/MKZ09-01.WAV"_s));
        testtake::WriteFile(w->dir.File("card/notes.txt"), {1});
        QDir().mkpath(w->Out("empty"));
        // Relative names are taken from the folder the program started in.
        const QString startedIn = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(w->dir.Path()));
        w->services.answers = {kAlertFirstButton, kAlertFirstButton};
        w->services.whileOpen = [&] { w->Table()->setFocus(); }; // as a real alert takes it
        w->controller.openFiles(
            {u"card"_s, a.toLocalFile(), b.fileName(), u"gone.wav"_s, u"empty"_s});
        QDir::setCurrent(startedIn);
        QCOMPARE(w->services.asked, (QStringList{cannotOpen(gone, ENOENT),
                                                 refused +
                                                     u"No take in this folder (no file named like "
                                                     "MKZ01_01.WAV).\n"_s +
                                                     w->Out("empty")}));
        QCOMPARE(w->controller.mainWindow()->focusWidget(), w->Get("setDestinationButton"));
        w->services.whileOpen = nullptr;
        QVERIFY(w->Drop({QUrl::fromLocalFile(card)}));
        QStringList names; // not asked for the first one's destination
        for (int row = 0; row < w->Model()->rowCount(); ++row)
            names << QFileInfo(w->Model()->index(row, 1).data().toString()).fileName();
        QCOMPARE(names, (QStringList{u"MKZ07_01.WAV"_s, u"MKZ08_01.WAV"_s, u"MKZ09-01.WAV"_s,
                                     u"MKZ01_01.WAV"_s, u"MKZ02_01.WAV"_s, u"MKZ07_01.WAV"_s,
                                     u"MKZ08_01.WAV"_s, u"MKZ09-01.WAV"_s}));
        QCOMPARE(w->Model()->index(4, 1).data().toString(), b.toLocalFile());
        QCOMPARE(w->Get<QComboBox>("sourceEnd")->count(), 1);
        w->SelectRow(0);
        QCOMPARE(w->Get<QComboBox>("sourceEnd")->count(), 2);

        // Beyond 30 tasks, each file is refused on its own.
        w->services.asked.clear();
        w->services.answers = {kAlertFirstButton, kAlertFirstButton};
        w->controller.openFiles(QStringList(24, a.toLocalFile()));
        QCOMPARE(w->Model()->rowCount(), 30);
        QCOMPARE(
            w->services.asked,
            QStringList(2, refused + u"Maximum number of tasks reached.\n"_s + a.toLocalFile()));

        // The program's own start: files after the window has shown, then the usual exit question.
        w->controller.mainWindow()->hide(); // the loop ends with the last window shown
        ScriptedServices started;
        started.answers = {kAlertFirstButton, kAlertFirstButton};
        started.whileOpen = [&started] {
            if (started.asked.size() == 1)
                QTimer::singleShot(0, qApp, &QApplication::closeAllWindows);
        };
        QCOMPARE(
            RunMorvexApplication(*qobject_cast<QApplication*>(qApp), started,
                                 {w->dir.Path().c_str() + u"/MKZ09_01.WAV"_s, a.toLocalFile()}),
            0);
        QCOMPARE(started.asked, (QStringList{cannotOpen(w->Out("MKZ09_01.WAV"), ENOENT),
                                             u"Do you really want to exit this application?|"
                                             "Settings will be lost.|[OK]|Cancel"_s}));
    }

    void shortcutsWorkAndShowInTooltips() {
        const std::pair<const char*, QString> keys[] = {{"addFileButton", u"(Ctrl+O)"_s},
                                                        {"removeFileButton", u"(Del)"_s},
                                                        {"startButton", u"(Ctrl+Return)"_s},
                                                        {"exitButton", u"(Ctrl+Q)"_s}};
        for (const auto& [button, key] : keys)
            QVERIFY2(w->Get(button)->toolTip().endsWith(key), button);
        QMainWindow* window = w->controller.mainWindow();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        const auto press = [&](int key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
            QTest::keyClick(w->Table(), static_cast<Qt::Key>(key), modifiers);
        };

        press(Qt::Key_Delete, Qt::NoModifier); // locked buttons: nothing happens, nothing asked
        press(Qt::Key_Return);
        QVERIFY(!w->controller.isConversionRunning());
        for (int take : {1, 2}) {
            w->services.panels.push_back(Chosen(w->Take(take).toLocalFile()));
            press(Qt::Key_O);
            w->Pick(w->Out(take == 1 ? "one" : "two"));
        }
        QCOMPARE(w->Model()->rowCount(), 2);
        w->Table()->setFocus();
        press(Qt::Key_Delete, Qt::NoModifier);
        QCOMPARE(w->Model()->rowCount(), 1);

        // Start and Stop alike: the button's text changes, its key stays.
        press(Qt::Key_Return);
        QCOMPARE(w->Text("startButton"), u"Stop"_s);
        w->services.answers = {kAlertSecondButton, kAlertSecondButton};
        press(Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
        QVERIFY(w->controller.isConversionRunning());
        press(Qt::Key_Q); // "Cancel": the window stays
        QVERIFY(window->isVisible());
        QCOMPARE(w->services.asked.mid(4),
                 (QStringList{u"Do you really want to stop conversion?|The output files of the "
                              "running task will be deleted.|OK|[Cancel]"_s,
                              u"Do you really want to exit this application?|Conversion is still "
                              "running: the output files of the running task will be "
                              "deleted.|OK|[Cancel]"_s}));
    }

    void nameClashesAreRecheckedAtOnce() {
        w->Drop({w->Take(1)});
        w->Pick(w->Out("Gig"));
        w->Drop({w->Take(2)});
        w->Pick(w->Out("Gig"));
        QCOMPARE(w->Icons(), (QStringList{QString(), u"Error"_s}));
        QVERIFY(!w->Get("startButton")->isEnabled());
        w->Choose("setFormat", 1); // other files: no clash
        QCOMPARE(w->Icons(), QStringList(2));
        w->Choose("setFormat", 0);
        QCOMPARE(w->Icons(), (QStringList{QString(), u"Error"_s}));

        w->SelectRow(0); // the first one moves: the second's clash is gone
        w->Pick(w->Out("Other"));
        QCOMPARE(w->Icons(), QStringList(2));
        QVERIFY(w->Get("startButton")->isEnabled());
        w->Pick(w->Out("Gig")); // and back: shown on the task set, at once
        QCOMPARE(w->Icons(), (QStringList{u"Error"_s, QString()}));
        QCOMPARE(w->Text("stateInfoString"), u"Output file name is already in use."_s);
        QVERIFY(!w->Get("startButton")->isEnabled());

        w->SelectRow(1);
        w->Click("removeFileButton"); // the other half of the clash removed
        QCOMPARE(w->Icons(), QStringList(1));
        QCOMPARE(w->Text("stateInfoString"), u"File(s) prepared for conversion."_s);
        QVERIFY(w->Get("startButton")->isEnabled());
    }

    // The outputs' place is checked when a destination is chosen and again on Start: a problem
    // needs attention and keeps Start off, and the window says which task holds it.
    void outputsCheckedBeforeStart() {
        const QString hold = u"Start waits for task %1 (MKZ0%1_01.WAV): %2"_s;
        const QString cannot = u"Output file can not be created."_s;
        w->Drop({w->Take(1)});
        QCOMPARE(w->Text("startHoldString"),
                 hold.arg(1).arg(u"No output directory and file name selected."_s));
        QVERIFY(w->Get("startButton")->toolTip().endsWith(w->Text("startHoldString")));
        testtake::WriteFile(w->dir.File("taken_02.wav"), {1});
        testtake::WriteFile(w->dir.File("file"), {1});
        const QString error = u"%1: %2"_s;
        const std::pair<const char*, QString> places[] = {
            {"missing/Gig",
             error.arg(w->Out("missing"), QString::fromLocal8Bit(std::strerror(ENOENT)))},
            {"file/Gig", error.arg(w->Out("file"), QString::fromLocal8Bit(std::strerror(ENOTDIR)))},
            {"taken",
             error.arg(w->Out("taken_02.wav"), QString::fromLocal8Bit(std::strerror(EEXIST)))},
        };
        for (const auto& [base, problem] : places) {
            w->Pick(w->Out(base));
            QCOMPARE(w->Icons(), QStringList{u"Problem"_s});
            QCOMPARE(w->Text("stateInfoString"), cannot);
            QCOMPARE(w->Text("noteInfoString"), problem);
            QCOMPARE(w->Text("startHoldString"), hold.arg(1).arg(problem));
            QCOMPARE(w->Enabled(), kAllButStart);
        }
        w->Pick(w->Out("Gig"));
        QCOMPARE(w->Icons(), QStringList(1));
        QCOMPARE(w->Text("startHoldString"), QString());
        QCOMPARE(w->Enabled(), kAll);

        // More audio than the file system holds (sparse files whose headers claim 4 GB each).
        struct statvfs disk {};
        QVERIFY(statvfs(w->dir.Path().c_str(), &disk) == 0);
        const uint64_t free = uint64_t{disk.f_bavail} * disk.f_frsize;
        const uint32_t claimed = 4000000000u;
        const int files = int(free / claimed) + 2;
        if (files > kMaxTakeFiles)
            QSKIP("the file system has more room than a take can fill");
        w->Drop({w->Take(2, files, 2, claimed)});
        w->Pick(w->Out("big"));
        QCOMPARE(w->Icons(), (QStringList{QString(), u"Problem"_s}));
        const QString noRoom = w->dir.Path().c_str() + u": "_s +
                               QString::fromLocal8Bit(std::strerror(ENOSPC)) + u" ("_s;
        QVERIFY2(w->Text("noteInfoString").startsWith(noRoom),
                 qPrintable(w->Text("noteInfoString")));
        w->Choose("sourceEnd", 0); // one file fits
        QCOMPARE(w->Icons(), QStringList(2));

        // Checked again on Start: an output that came into the way since keeps the run off.
        testtake::WriteFile(w->dir.File("big_01.wav"), {1});
        w->Click("startButton");
        QVERIFY(!w->controller.isConversionRunning());
        QCOMPARE(w->Icons(), (QStringList{QString(), u"Problem"_s}));
        QCOMPARE(w->Text("startHoldString"),
                 hold.arg(2).arg(error.arg(w->Out("big_01.wav"),
                                           QString::fromLocal8Bit(std::strerror(EEXIST)))));
        QVERIFY(!w->Get("startButton")->isEnabled());
        QFile::remove(w->Out("big_01.wav"));
        w->SelectRow(0);
        w->Click("removeFileButton"); // removing a task checks again too
        QCOMPARE(w->Icons(), QStringList(1));
        QVERIFY(w->Get("startButton")->isEnabled());
    }

    void takeWarningShownWithTheTask() {
        const QUrl start = w->Take(5, 2);
        // The take's third file in another format: not part of the take, and the user is told.
        testtake::WriteFile(w->dir.File("MKZ05_03.WAV"),
                            testtake::MakeWav(testtake::WavFormat{4, 16}, testtake::Bytes(64, 1)));
        w->Drop({w->Take(6)});
        QCOMPARE(w->Text("noteInfoString"), QString());
        QVERIFY(w->Get("noteInfoString")->isHidden());
        w->Drop({start});
        QCOMPARE(w->Get<QComboBox>("sourceEnd")->count(), 2);
        const QString note = w->Text("noteInfoString");
        QVERIFY2(note.startsWith(u"MKZ05_03.WAV is not part of the take: "_s), qPrintable(note));
        QVERIFY(w->Get("noteInfoString")->isVisibleTo(w->controller.mainWindow()));
        for (int column : {0, 1})
            QVERIFY(w->Model()
                        ->index(1, column)
                        .data(Qt::ToolTipRole)
                        .toString()
                        .endsWith(u"\n"_s + note));
        QCOMPARE(w->Model()->index(0, 1).data(Qt::ToolTipRole).toString(), w->Out("MKZ06_01.WAV"));
        w->SelectRow(0);
        QVERIFY(w->Get("noteInfoString")->isHidden());
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

        // During a run "OK" deletes the unfinished task's outputs, not the finished ones'. Closed
        // between two steps, so that the task is surely unfinished.
        w->controller.setStepBudgetMs(0);
        w->Drop({w->Take(2, 200)});
        w->Pick(w->Out("long"));
        w->Click("startButton");
        for (int i = 0; i < 1000 && !w->Exists("long_02.wav"); ++i)
            w->Tick();
        QVERIFY(w->Exists("long_02.wav") && w->controller.mainWindow()->close());
        QVERIFY(!w->Exists("long_01.wav") && w->Exists("short_01.wav"));
        const QString exit = u"Do you really want to exit this application?|"_s;
        QCOMPARE(
            w->services.asked,
            (QStringList{exit + u"Settings will be lost.|[OK]|Cancel"_s, kSavePanel, kSavePanel,
                         exit + u"Conversion is still running: the output files of the "
                                "running task (MKZ02_01.WAV) will be deleted.|OK|[Cancel]"_s}));

        // The application ends with its window; an empty list closes without a question.
        ScriptedServices none;
        QTimer::singleShot(0, qApp, &QApplication::closeAllWindows);
        QCOMPARE(RunMorvexApplication(*qobject_cast<QApplication*>(qApp), none), 0);
        QVERIFY(none.asked.isEmpty());
    }

    // However small the window system makes the window (some ignore its minimum), it grows
    // back to where every control has the room it needs, with a note of several lines shown.
    void smallestWindowKeepsEveryControlUsable() {
        const QUrl start = w->Take(5, 2);
        testtake::WriteFile(w->dir.File("MKZ05_03.WAV"),
                            testtake::MakeWav(testtake::WavFormat{4, 16}, testtake::Bytes(64, 1)));
        w->Drop({start});
        w->Pick(w->Out("missing/Gig"));
        QMainWindow* window = w->controller.mainWindow();
        struct : QObject {
            QList<QSize> sizes;
            bool eventFilter(QObject*, QEvent* event) override {
                if (event->type() == QEvent::Resize)
                    sizes << static_cast<QResizeEvent*>(event)->size();
                return false;
            }
        } resizes;
        window->installEventFilter(&resizes);
        window->windowHandle()->resize(400, 250); // the window system's resize comes later
        QTRY_VERIFY(resizes.sizes.contains(QSize(400, 250)));
        QTRY_VERIFY(window->width() >= window->minimumWidth() &&
                    window->height() >= window->minimumHeight());
        QCoreApplication::processEvents();
        QStringList cramped;
        for (QWidget* control : window->findChildren<QWidget*>()) {
            const QSize need = control->minimumSizeHint().expandedTo(control->minimumSize());
            if (control->isVisibleTo(window) && !control->objectName().startsWith(u"qt_"_s) &&
                (control->width() < need.width() || control->height() < need.height()))
                cramped << control->objectName();
        }
        QCOMPARE(cramped.join(u" "_s), QString());
        QVERIFY(w->Text("noteInfoString").count(u'\n') >= 1);
    }

    // Add… opens where the last take was added, Choose… where the last destination went (at
    // first the take's own folder) and proposes the take's name.
    void panelsOpenWhereTheWorkIs() {
        const QString cardA = w->Out("cardA"), cardB = w->Out("cardB"), out = w->Out("out");
        QDir().mkpath(out);
        w->Pick(WriteTake(cardA, 1, 1, 2, 480), "addFileButton");
        w->Pick(out + u"/Gig"_s);
        w->Drop({QUrl::fromLocalFile(WriteTake(cardB, 2, 1, 2, 480))});
        w->Pick(out + u"/Other"_s);
        w->Pick(WriteTake(cardA, 3, 1, 2, 480), "addFileButton");
        w->Pick(out + u"/Third"_s);
        w->SelectRow(0);
        w->services.panels.push_back({}); // its own destination again: cancelled
        w->Click("setDestinationButton");
        QCOMPARE(w->services.places,
                 (QStringList{QString(), cardA + u"|MKZ01_01"_s, out + u"|MKZ02_01"_s, cardB,
                              out + u"|MKZ03_01"_s, out + u"|Gig"_s}));
    }

    // The real panels: Add… offers every file besides WAV files; Choose… shows the name proposed.
    void realPanelsShowWhatTheyAreGiven() {
        QtToolkitServices real;
        const QString folder = QString::fromStdString(w->dir.Path());
        QStringList filters;
        QStringList chosen;
        const auto look = [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            filters = dialog->nameFilters();
            chosen = dialog->selectedFiles();
            dialog->reject();
        };
        QTimer::singleShot(0, look);
        QCOMPARE(real.runOpenPanel(nullptr, {u"Add"_s, {}, folder, {u"wav"_s}}).result,
                 kPanelCancelled);
        QCOMPARE(filters, (QStringList{u"WAV files (*.wav *.WAV *.Wav)"_s, u"All files (*)"_s}));
        QTimer::singleShot(0, look);
        real.runSavePanel(nullptr, {u"Choose"_s, {}, folder, u"MKZ01_01"_s});
        QCOMPARE(chosen, QStringList{folder + u"/MKZ01_01"_s});
    }

    // Return takes the default button, Escape the last ("Cancel" in every question): the stop and
    // exit-during-run questions default to "Cancel", as their "OK" deletes files.
    void realAlertTakesReturnAsDefaultAndEscapeAsCancel() {
        QtToolkitServices real;
        const std::tuple<Qt::Key, int, int> cases[] = {{Qt::Key_Return, 0, kAlertFirstButton},
                                                       {Qt::Key_Return, 1, kAlertSecondButton},
                                                       {Qt::Key_Escape, 0, kAlertSecondButton}};
        for (const auto& [key, defaultButton, answer] : cases) {
            QTimer::singleShot(0,
                               [key] { QTest::keyClick(QApplication::activeModalWidget(), key); });
            QCOMPARE(
                real.runAlert(nullptr, {u"Stop?"_s, {}, {u"OK"_s, u"Cancel"_s}, defaultButton}),
                answer);
        }
    }

    // Several files chosen at once and answered "one take": one task of them in name order, its
    // row naming the first and how many follow, converted as one stream across the files.
    void severalFilesChosenMakeOneTake() {
        const auto stream = testtake::PatternSamples(3000, 3, 2, 5); // frames of 6 bytes
        const auto paths = testtake::WriteTake(w->dir.Path(), 5, 1, {3, 16}, stream, {4001, 11003});
        QStringList chosen; // in another order than the names'
        for (size_t i = 0; i < paths.size(); ++i) {
            chosen.prepend(w->Out(qPrintable(u"0000000%1.WAV"_s.arg(i + 1))));
            QVERIFY(QFile::rename(QString::fromStdString(paths[i]), chosen.first()));
        }
        w->services.panels.push_back({kPanelChosen, w->Out(""), chosen});
        w->services.answers = {kAlertFirstButton};
        w->Click("addFileButton");
        QCOMPARE(w->Model()->rowCount(), 1);
        QCOMPARE(w->Model()->index(0, 1).data().toString(), chosen.last() + u" + 2 files"_s);
        w->Pick(w->Out("joined"));
        w->Click("startButton");
        for (int tick = 0; tick < 100 && w->controller.isConversionRunning(); ++tick)
            w->Tick();
        QCOMPARE(w->Icons(), QStringList{u"Done"_s});
        QByteArray want; // the second channel of every frame
        for (size_t at = 2; at < stream.size(); at += 6)
            want.append(reinterpret_cast<const char*>(&stream[at]), 2);
        QFile output(w->Out("joined_02.wav"));
        QVERIFY(output.open(QIODevice::ReadOnly));
        QCOMPARE(output.readAll().mid(80), want);
        SF_INFO info{};
        SNDFILE* sound = sf_open(qPrintable(output.fileName()), SFM_READ, &info);
        QByteArray read(want.size(), '\0');
        QCOMPARE(sf_read_short(sound, reinterpret_cast<short*>(read.data()), 3000), 3000);
        sf_close(sound);
        QCOMPARE(read, want);
        QCOMPARE(w->services.asked.at(1),
                 u"Add 3 files as one take?|One take reads them as one stream in name order, "
                 "00000001.WAV to 00000003.WAV; or each file is a task of its own.|[One take]|"
                 "One task each|Cancel"_s);
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
