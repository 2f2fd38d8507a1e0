// The main window driven through its controls, with dialogs answered by a script.
#include "QtToolkitServices.h"
#include "WindowHarness.h"

#include <cerrno>
#include <cstring>
#include <sndfile.h>

using namespace morvex;
using namespace Qt::StringLiterals;

const QString kSettings = u"sourceEnd destinationString setDestinationButton setType setFormat "
                          "channelsString setSkipSilent"_s;
const QString kAllButStart = u"addFileButton removeFileButton "_s + kSettings;
const QString kAll = u"addFileButton removeFileButton startButton "_s + kSettings;
const QString kRefused = u"File could not be added to list.|"_s;
const QString kHold = u"Start waits for task %1 (MKZ0%1_01.WAV): %2"_s;

QString SystemError(const QString& file, int error) {
    return file + u": "_s + QString::fromLocal8Bit(std::strerror(error));
}

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
        // The last task has no destination: adding asks for one instead ("Cancel", then "OK").
        w->services.answers = {kAlertSecondButton, kAlertFirstButton};
        w->Click("addFileButton");
        w->Pick(w->Out("Gig.WAV"), "addFileButton");
        QCOMPARE(w->Text("destinationString"), w->Out("Gig"));
        w->Pick(b.toLocalFile(), "addFileButton");
        // A drop of one file appends it and asks nothing, though b has no destination.
        QVERIFY(w->Drop({c}));
        QVERIFY(!w->Drop({QUrl(u"http://example.com/x.wav"_s)}));
        QCOMPARE(w->Column(1), (QStringList{a.toLocalFile(), b.toLocalFile(), c.toLocalFile()}));
        QCOMPARE(w->Selected(), 2);
        // Removing selects the task that takes the row; an empty selection keeps the task.
        w->SelectRow(0);
        w->Click("removeFileButton");
        QCOMPARE(std::pair(w->Selected(), w->Text("destinationString")), std::pair(0, QString()));
        w->Table()->selectionModel()->clearSelection();
        w->Click("removeFileButton");
        QCOMPARE(w->Column(1), QStringList{c.toLocalFile()});
        w->Click("removeFileButton"); // the only one: an empty, locked panel
        QCOMPARE(w->Enabled(), u"addFileButton"_s);
    }

    // Each task shows its own settings and what they make of it. The format items carry the
    // engine's value: put in another order here, they must still name the same formats.
    void panelFollowsSourceEndTypeFormatAndDestination() {
        QComboBox* format = w->Get<QComboBox>("setFormat");
        format->model()->sort(0);
        const auto settings = [&] {
            return QStringList{w->Get<QComboBox>("sourceEnd")->currentText(),
                               w->Get<QComboBox>("setType")->currentText().section(u':', 0, 0),
                               format->currentText()};
        };
        w->Drop({w->Take(3, 3, 3, 1u << 30)}); // each file claims 1 GiB
        QCOMPARE(w->Get<QComboBox>("sourceEnd")->currentText(), u"MKZ03_03.WAV"_s);
        w->Choose("sourceEnd", 0);
        QCOMPARE(w->Text("sizeInfoString"), u"0.33 GB per file, 1.00 GB total"_s);
        w->Pick(w->Out("Gig"));
        w->Choose("setType", 1); // pairs of 3 channels
        QCOMPARE(w->Text("stateInfoString"), u"Mismatch: 2 channel format / odd channel count."_s);
        QCOMPARE(w->Enabled(), kAllButStart);
        w->Choose("setType", 2);
        w->Choose("sourceEnd", 1);
        QCOMPARE(w->Text("sizeInfoString"), u"2.00 GB per file (RF64), 2.00 GB total"_s);
        w->Choose("setFormat", format->findText(u"CAF"_s));
        QCOMPARE(w->Text("sizeInfoString"), u"2.00 GB per file, 2.00 GB total"_s);
        w->Drop({w->Take(4)});
        QCOMPARE(settings(), (QStringList{u"MKZ04_01.WAV"_s, u"Mono"_s, u"WAV"_s}));
        w->SelectRow(0);
        QCOMPARE(settings(), (QStringList{u"MKZ03_02.WAV"_s, u"Multichannel"_s, u"CAF"_s}));
    }

    // A clash of output names, and a place where the outputs cannot be written, are looked at
    // whenever a task changes, and again on Start: Start waits, and says for which task.
    void outputProblemsHoldStart() {
        const QString inUse = u"Output file name is already in use."_s;
        w->Add(1, "Gig");
        w->Add(2, "Gig");
        QCOMPARE(w->Icons(), (QStringList{QString(), u"Error"_s}));
        QCOMPARE(w->Text("startHoldString"), kHold.arg(2).arg(inUse));
        QCOMPARE(w->Enabled(), kAllButStart);
        w->Choose("setFormat", 1); // other files: no clash
        QCOMPARE(w->Icons(), QStringList(2));
        w->Choose("setFormat", 0);
        w->SelectRow(0); // the first one moves: the second's clash is gone
        w->Pick(w->Out("missing/Gig"));
        const QString missing = SystemError(w->Out("missing"), ENOENT);
        QCOMPARE(w->Icons(), (QStringList{u"Problem"_s, QString()}));
        QCOMPARE(w->Text("noteInfoString"), missing);
        QCOMPARE(w->Text("startHoldString"), kHold.arg(1).arg(missing));
        QVERIFY(w->Get("startButton")->toolTip().endsWith(w->Text("startHoldString")));
        w->Pick(w->Out("Gig")); // and back: shown on the task set, at once
        QCOMPARE(w->Icons(), (QStringList{u"Error"_s, QString()}));
        QCOMPARE(w->Text("stateInfoString"), inUse);
        w->SelectRow(1);
        w->Click("removeFileButton"); // the other half of the clash removed; the new last shown
        QCOMPARE(w->Icons(), QStringList(1));
        QCOMPARE(std::pair(w->Selected(), w->Text("destinationString")),
                 std::pair(0, w->Out("Gig")));
        QCOMPARE(w->Enabled(), kAll);
        // Checked again on Start: an output that came into the way since keeps the run off.
        testtake::WriteFile(w->dir.File("Gig_01.wav"), {1});
        w->Click("startButton");
        QVERIFY(!w->controller.isConversionRunning());
        QCOMPARE(w->Text("startHoldString"),
                 kHold.arg(1).arg(SystemError(w->Out("Gig_01.wav"), EEXIST)));
    }

    void runStopAndRunAgain() {
        w->controller.setStepBudgetMs(0); // one step a tick: the run is looked at between steps
        w->Add(1, "long", 60);
        w->Choose("setType", 1);
        w->Choose("setFormat", 1);
        w->Add(3, "taken");
        w->Click("startButton");
        QCOMPARE(std::pair(w->Text("startButton"), w->Enabled()),
                 std::pair(u"Stop"_s, u"startButton"_s));
        w->Tick(3);
        QTest::qWait(RunPacer::kIconFrameMs + 10); // the icon turns by time, not by ticks
        w->Tick(3);
        QCOMPARE(w->Icons().first(), u"Doing2"_s);
        QVERIFY(w->Exists("long_01.caf") && w->Text("progressIndicator") != u"0%"_s);
        QVERIFY(w->Text("stateInfoString").startsWith(u"Conversion running, "_s));
        w->services.answers = {kAlertFirstButton};
        w->Click("startButton"); // "OK"
        w->Click("startButton"); // already agreed: not asked again
        QCOMPARE(w->services.asked.mid(2),
                 QStringList{u"Do you really want to stop conversion?|The output files of the "
                             "running task (MKZ01_01.WAV) will be deleted.|OK|[Cancel]"_s});
        w->Tick(2);
        QVERIFY(!w->Exists("long_01.caf"));
        QCOMPARE(w->Text("startButton"), u"Start"_s);
        QCOMPARE(w->Icons(), QStringList(2));

        w->Click("startButton"); // from the stopped task again
        // In the way of the third task's output, after the check on Start.
        testtake::WriteFile(w->dir.File("taken_01.wav"), {1, 2, 3});
        w->Tick();
        QCOMPARE(w->controller.conversionTimer().interval(), RunPacer::kRunTickMs);
        w->Drop({w->Take(4)});                                  // joins the list, not the run
        w->controller.setStepBudgetMs(RunPacer::kStepBudgetMs); // on the timer and its budget now
        w->controller.conversionTimer().start();
        QTRY_VERIFY_WITH_TIMEOUT(!w->controller.isConversionRunning(), 60000);
        QCOMPARE(w->Icons(), (QStringList{u"Done"_s, u"Error"_s, u"Problem"_s}));
        QVERIFY(!w->Model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(w->Selected(), 1);
        QCOMPARE(std::pair(w->Text("noteInfoString"), w->Text("progressIndicator")),
                 std::pair(SystemError(w->Out("taken_01.wav"), EEXIST), u"0%"_s));
        QVERIFY(w->Exists("long_01.caf"));
        w->SelectRow(0);
        QCOMPARE(w->Text("stateInfoString"), u"Conversion done."_s);
        QCOMPARE(w->Enabled(), u"addFileButton removeFileButton"_s); // the late task lacks one
        QCOMPARE(w->controller.conversionTimer().interval(), RunPacer::kIdleTickMs);
    }

    // A tick ends wherever the window has to show something: each task's start (its row
    // selected, its icon turning) and each task's end. Closing asks nothing once all is done;
    // during a run its "OK" deletes the unfinished task's outputs, not the finished ones'.
    void ticksStopAtEveryTaskAndClosingDeletesOnlyUnfinishedOutputs() {
        for (const char* name : {"t1", "t2", "t3"}) // 60 files: at least 60 steps a task
            w->Add(name[1] - '0', name, 60);
        w->Click("startButton");
        int done = 0;
        QList<int> seenRunning;
        for (int tick = 0; w->controller.isConversionRunning() && tick < 1000; ++tick) {
            w->Tick();
            const int doneNow = int(w->Icons().count(u"Done"_s));
            QVERIFY2(doneNow - done <= 1, "a tick ran past the end of a task");
            done = doneNow;
            const int row = w->Selected();
            if (row >= 0 && w->Icons().at(row).startsWith(u"Doing"_s) && !seenRunning.contains(row))
                seenRunning << row;
        }
        QCOMPARE(seenRunning, (QList<int>{0, 1, 2}));
        QCOMPARE(w->Icons(), QStringList(3, u"Done"_s));
        QVERIFY(w->controller.windowShouldClose());

        w->controller.setStepBudgetMs(0); // closed between two steps: surely unfinished
        w->Add(4, "long", 200);
        w->Click("startButton");
        for (int i = 0; i < 1000 && !w->Exists("long_02.wav"); ++i)
            w->Tick();
        w->services.answers = {kAlertFirstButton};
        QVERIFY(w->Exists("long_02.wav") && w->controller.mainWindow()->close());
        QVERIFY(!w->Exists("long_01.wav") && w->Exists("t3_01.wav"));
        QCOMPARE(w->services.asked.last(),
                 u"Do you really want to exit this application?|Conversion is still running: the "
                 "output files of the running task (MKZ04_01.WAV) will be deleted.|OK|[Cancel]"_s);
    }

    void filesGivenToTheProgram() {
        const QUrl a = w->Take(1), b = w->Take(2);
        // A folder gives the takes in it, one task a take, as the command line's folder mode.
        const QString card = w->Out("card");
        WriteTake(card, 8, 1, 2, 480);
        WriteTake(card, 7, 2, 2, 480); // its second file is no take of its own
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
        QCOMPARE(w->services.asked,
                 (QStringList{kRefused + u"Can not open selected input file.\n"_s +
                                  SystemError(w->Out("gone.wav"), ENOENT),
                              kRefused +
                                  u"No take in this folder (no file named like "
                                  "MKZ01_01.WAV).\n"_s +
                                  w->Out("empty")}));
        QCOMPARE(w->controller.mainWindow()->focusWidget(), w->Get("setDestinationButton"));
        QCOMPARE(w->Column(1), (QStringList{card + u"/MKZ07_01.WAV"_s, card + u"/MKZ08_01.WAV"_s,
                                            a.toLocalFile(), b.toLocalFile()}));
        w->SelectRow(0);
        QCOMPARE(w->Get<QComboBox>("sourceEnd")->count(), 2);
    }

    void shortcutsWork() {
        QMainWindow* window = w->controller.mainWindow();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        const auto press = [&](int key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
            QTest::keyClick(w->Table(), static_cast<Qt::Key>(key), modifiers);
        };
        press(Qt::Key_Delete, Qt::NoModifier); // locked buttons: nothing happens, nothing asked
        press(Qt::Key_Return);
        w->services.panels.push_back(Chosen(w->Take(1).toLocalFile()));
        press(Qt::Key_O);
        w->Pick(w->Out("one"));
        w->Drop({w->Take(2)});
        w->Table()->setFocus();
        press(Qt::Key_Delete, Qt::NoModifier);
        QCOMPARE(w->Model()->rowCount(), 1);
        // Start and Stop alike: the button's text changes, its key stays. "Cancel" to both.
        press(Qt::Key_Return);
        QVERIFY(w->controller.isConversionRunning());
        w->services.answers = {kAlertSecondButton, kAlertSecondButton};
        int heldInDialogs = 0; // the run stands still while a question about it is open
        w->services.whileOpen = [&] {
            const QString before = w->Text("progressIndicator");
            w->Tick(8);
            heldInDialogs += !w->controller.conversionTimer().isActive() &&
                             w->Text("progressIndicator") == before;
        };
        press(Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
        press(Qt::Key_Q);
        QCOMPARE(heldInDialogs, 2);
        QVERIFY(w->controller.isConversionRunning() && window->isVisible());
        QVERIFY(w->services.asked.at(2).startsWith(u"Do you really want to stop"_s));
        QVERIFY(w->Get("startButton")->toolTip().endsWith(u"(Ctrl+Return)"_s));
    }

    // A take's warning shows with its task, in its row's tooltips and the note below the list.
    void takeWarningShownWithItsTask() {
        const QUrl start = w->Take(5, 2);
        // The take's third file in another format: not part of the take, and the user is told.
        testtake::WriteFile(w->dir.File("MKZ05_03.WAV"),
                            testtake::MakeWav(testtake::WavFormat{4, 16}, testtake::Bytes(64, 1)));
        w->Drop({w->Take(6)});
        QVERIFY(w->Get("noteInfoString")->isHidden());
        w->Drop({start});
        const QString note = w->Text("noteInfoString");
        QVERIFY2(note.startsWith(u"MKZ05_03.WAV is not part of the take: "_s), qPrintable(note));
        for (int column : {0, 1})
            QVERIFY(w->Column(column, Qt::ToolTipRole).last().endsWith(u"\n"_s + note));
        w->SelectRow(0);
        QVERIFY(w->Get("noteInfoString")->isHidden());
    }

    // A real alert takes Return as its default button and Escape as "Cancel" (the last).
    void realAlertAnswersByKey() {
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
        QCOMPARE(w->Column(1), QStringList{chosen.last() + u" + 2 files"_s});
        w->Pick(w->Out("joined"));
        w->Click("startButton");
        for (int tick = 0; tick < 100 && w->controller.isConversionRunning(); ++tick)
            w->Tick();
        QByteArray want; // the second channel of every frame
        for (size_t at = 2; at < stream.size(); at += 6)
            want.append(reinterpret_cast<const char*>(&stream[at]), 2);
        SF_INFO info{};
        SNDFILE* sound = sf_open(qPrintable(w->Out("joined_02.wav")), SFM_READ, &info);
        QByteArray read(want.size(), '\0');
        QCOMPARE(sf_read_short(sound, reinterpret_cast<short*>(read.data()), 3000), 3000);
        sf_close(sound);
        QCOMPARE(read, want);
        QCOMPARE(w->services.asked.at(1),
                 u"Add 3 files as one take?|One take reads them as one stream in name order, "
                 "00000001.WAV to 00000003.WAV; or each file is a task of its own.|[One take]|"
                 "One task each|Cancel"_s);
    }

    // The list and the options follow the task; a list that does not parse or goes past the take
    // is refused. Outputs keep channel numbers and track names; the Note line names silent ones.
    void channelsAndOptionsOfTheTask() {
        auto stream = testtake::PatternSamples(4800, 4, 2, 6);
        for (size_t at = 4; at < stream.size(); at += 8)
            std::fill_n(stream.begin() + at, 4, 0); // channels 3 and 4: digital silence
        const std::string xml = "<BWFXML><TRACK_LIST><TRACK><CHANNEL_INDEX>2</CHANNEL_INDEX><NAME>"
                                "Snare/Top</NAME></TRACK></TRACK_LIST></BWFXML>";
        const auto paths = testtake::WriteTake(w->dir.Path(), 6, 1, {4, 16}, stream, {},
                                               {testtake::Chunk("iXML", {xml.begin(), xml.end()})});
        w->Drop({QUrl::fromLocalFile(QString::fromStdString(paths.front()))});
        w->Pick(w->Out("Gig"));
        w->Add(2, "b"); // of 2 channels, no track names
        const auto panel = [&] {
            return QStringList{w->Text("channelsString"), w->Text("noteInfoString"),
                               QString::number(w->Get<QCheckBox>("setSkipSilent")->isChecked())};
        };
        w->SelectRow(0);
        w->Type("channelsString", u"2, 3-4"_s);
        for (const char* box : {"setTrackNames", "setSkipSilent"})
            QTest::keyClick(w->Get(box), Qt::Key_Space);
        w->SelectRow(1);
        QCOMPARE(std::pair(panel(), w->Enabled()), std::pair(QStringList{{}, {}, u"0"_s}, kAll));
        w->SelectRow(0);
        QCOMPARE(panel(), (QStringList{u"2-4"_s, {}, u"1"_s}));
        for (const auto& [list, why] :
             {std::pair(u"1-5"_s, u"the take has 4 channels."_s),
              std::pair(u"3-x"_s, u"write them as 1-8,11,13-14, or nothing for all."_s)}) {
            w->Type("channelsString", list);
            const QString note = u"Channels \"%1\" not taken: %2"_s.arg(list, why);
            QCOMPARE(panel(), (QStringList{list, note, u"1"_s}));
            QCOMPARE(w->controller.worker().GetChannelSelection(0), uint64_t{0xe});
        }
        QTest::keyClicks(w->Get("channelsString"), u"\b\b\b1-4"_s); // not finished: Start takes it
        w->controller.startConversion();
        for (int tick = 0; tick < 100 && w->controller.isConversionRunning(); ++tick)
            w->Tick();
        QCOMPARE(QDir(w->Out("")).entryList({u"Gig*"_s}),
                 (QStringList{u"Gig_01.wav"_s, u"Gig_02_Snare_Top.wav"_s}));
        SF_INFO info{};
        sf_close(sf_open(qPrintable(w->Out("Gig_02_Snare_Top.wav")), SFM_READ, &info));
        QCOMPARE(std::pair(info.channels, info.frames), std::pair(1, sf_count_t{4800}));
        w->SelectRow(0);
        QCOMPARE(w->Text("noteInfoString"), u"Skipped silent channels: 3, 4"_s);
    }
};

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
