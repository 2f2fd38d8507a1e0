#pragma once

#include "MorvexController.h"
#include "TaskTableModel.h"
#include "TempDir.h"
#include "TestTake.h"

#include <QtTest>
#include <QtWidgets>

#include <deque>
#include <filesystem>

// Dialogs answered from a script and logged; one the script lacks counts as unanswered.
struct ScriptedServices final : morvex::ToolkitServices {
    std::deque<morvex::PanelAnswer> panels; // open and save panels alike, in turn
    std::deque<int> answers;                // alerts, in turn
    QStringList asked; // panel titles; alert texts and buttons, the default one in brackets
    std::function<void()> whileOpen; // runs inside every dialog
    int unanswered = 0;

    template <class T> T Next(std::deque<T>& script, const QString& question, T none) {
        asked << question;
        if (whileOpen)
            whileOpen();
        if (script.empty())
            return ++unanswered, none;
        const T next = script.front();
        script.pop_front();
        return next;
    }
    morvex::PanelAnswer runOpenPanel(QWidget*, const morvex::OpenPanelOptions& o) override {
        return Next(panels, o.title, {});
    }
    morvex::PanelAnswer runSavePanel(QWidget*, const morvex::SavePanelOptions& o) override {
        return Next(panels, o.title, {});
    }
    int runAlert(QWidget*, const morvex::AlertOptions& o) override {
        QStringList buttons = o.buttons;
        if (o.defaultButton >= 0 && o.defaultButton < buttons.size())
            buttons[o.defaultButton] = u'[' + buttons[o.defaultButton] + u']';
        const QStringList texts = QStringList{o.messageText, o.informativeText} + buttons;
        return Next(answers, texts.join(u'|'), morvex::kAlertSecondButton);
    }
};

// Recorder take MKZnn_01.WAV... in `folder`; answers the start file. A declared data size goes
// into every data chunk header and each file is made that long (sparse), so that the size counts.
inline QString WriteTake(const QString& folder, int take, int files, int channels, uint32_t frames,
                         uint16_t bits = 16, std::optional<uint32_t> declaredDataSize = {}) {
    QDir().mkpath(folder);
    const testtake::WavFormat format{static_cast<uint16_t>(channels), bits};
    const size_t fileBytes = size_t{frames} * format.FrameBytes();
    std::vector<size_t> cuts;
    for (int i = 1; i < files; ++i)
        cuts.push_back(fileBytes * i);
    const auto stream =
        testtake::PatternSamples(frames * files, channels, format.BytesPerSample(), take);
    const auto paths = testtake::WriteTake(folder.toStdString(), take, 1, format, stream, cuts,
                                           {.dataSize = declaredDataSize});
    for (const std::string& path : paths)
        if (declaredDataSize)
            std::filesystem::resize_file(path, std::filesystem::file_size(path) - fileBytes +
                                                   *declaredDataSize);
    return QString::fromStdString(paths.front());
}

inline morvex::PanelAnswer Chosen(const QString& path) {
    return {morvex::kPanelChosen, QFileInfo(path).path(), {path}};
}

// The real window on scripted dialogs, its model tested; its timer stopped: tests tick by hand.
struct Window {
    Window() {
        controller.conversionTimer().stop();
        controller.mainWindow()->show();
    }
    ScriptedServices services;
    TempDir dir;
    MorvexController controller{services};
    QAbstractItemModelTester modelTester{Model(),
                                         QAbstractItemModelTester::FailureReportingMode::QtTest};

    template <class W = QWidget> W* Get(const char* name) {
        return controller.mainWindow()->findChild<W*>(QLatin1String(name));
    }
    QString Text(const char* name) { return Get(name)->property("text").toString(); }
    QString Enabled() { // the enabled ones of the controls that can be locked
        QStringList on;
        for (const char* name : {"addFileButton", "removeFileButton", "startButton", "sourceEnd",
                                 "destinationString", "setDestinationButton", "setType",
                                 "setFormat", "channelsString", "setTrackNames", "setSkipSilent"})
            if (Get(name)->isEnabled())
                on << QLatin1String(name);
        return on.join(u' ');
    }
    QTableView* Table() { return Get<QTableView>("fileListTableView"); }
    QAbstractItemModel* Model() { return Table()->model(); }
    QStringList Column(int column, int role = Qt::DisplayRole) {
        QStringList values;
        for (int row = 0; row < Model()->rowCount(); ++row)
            values << Model()->index(row, column).data(role).toString();
        return values;
    }
    QStringList Icons() { return Column(0, TaskTableModel::ImageNameRole); }
    int Selected() {
        const auto rows = Table()->selectionModel()->selectedRows();
        return rows.size() == 1 ? rows.first().row() : -1;
    }

    void Click(const char* name) { QTest::mouseClick(Get<QPushButton>(name), Qt::LeftButton); }
    void SelectRow(int row) { Table()->selectRow(row); }
    void Choose(const char* name, int item) { // by keyboard; a disabled pop-up does not react
        QTest::keyClick(Get(name), Qt::Key_Home);
        for (int i = 0; i < item; ++i)
            QTest::keyClick(Get(name), Qt::Key_Down);
    }
    void Type(const char* name, const QString& text) { // the field's text replaced, then Return
        QTest::keyClick(Get(name), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(Get(name), u'\b' + text + u'\r');
    }
    void Pick(const QString& path, const char* button = "setDestinationButton") {
        services.panels.push_back(Chosen(path));
        Click(button);
    }
    bool Drop(const QList<QUrl>& urls) { // drags onto the table; answers whether it was taken
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter({}, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QDropEvent drop({}, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(Table()->viewport(), &enter);
        QCoreApplication::sendEvent(Table()->viewport(), &drop);
        QCoreApplication::processEvents(); // the task is appended once the drop has returned
        return drop.isAccepted();
    }
    void Tick(int count = 1) {
        for (int i = 0; i < count; ++i)
            controller.timerAction();
    }

    QUrl Take(int take, int files = 1, int channels = 2, std::optional<uint32_t> declared = {}) {
        return QUrl::fromLocalFile(WriteTake(QString::fromStdString(dir.Path()), take, files,
                                             channels, 4800, 16, declared));
    }
    void Add(int take, const char* base, int files = 1) { // a dropped take and its destination
        Drop({Take(take, files)});
        Pick(Out(base));
    }
    QString Out(const char* name) { return QString::fromStdString(dir.File(name)); }
    bool Exists(const char* name) { return QFileInfo::exists(Out(name)); }
};
