#pragma once

#include "MorvexController.h"
#include "TaskTableModel.h"
#include "TempDir.h"
#include "TestTake.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMimeData>
#include <QProgressBar>
#include <QTableView>
#include <QTest>

#include <deque>
#include <functional>
#include <memory>

// Toolkit services that answer from a script. A dialog that the script does not expect counts
// as unanswered, so a test also fails when the window asks something it should not.
struct ScriptedServices final : morvex::ToolkitServices {
    std::deque<morvex::PanelAnswer> openAnswers, saveAnswers;
    std::deque<int> alertAnswers;
    std::vector<morvex::OpenPanelOptions> openPanels;
    std::vector<morvex::SavePanelOptions> savePanels;
    std::vector<morvex::AlertOptions> alerts;
    std::function<void()> whileOpen; // runs inside every dialog, before it answers
    int unanswered = 0;

    template <class T> T Next(std::deque<T>& answers, T none) {
        if (whileOpen)
            whileOpen();
        if (answers.empty()) {
            ++unanswered;
            return none;
        }
        T answer = answers.front();
        answers.pop_front();
        return answer;
    }
    morvex::PanelAnswer runOpenPanel(QWidget*, const morvex::OpenPanelOptions& o) override {
        openPanels.push_back(o);
        return Next(openAnswers, morvex::PanelAnswer{});
    }
    morvex::PanelAnswer runSavePanel(QWidget*, const morvex::SavePanelOptions& o) override {
        savePanels.push_back(o);
        return Next(saveAnswers, morvex::PanelAnswer{});
    }
    int runAlert(QWidget*, const morvex::AlertOptions& o) override {
        alerts.push_back(o);
        return Next(alertAnswers, morvex::kAlertSecondButton);
    }
    bool AllAnswered() const {
        return unanswered == 0 && openAnswers.empty() && saveAnswers.empty() &&
               alertAnswers.empty();
    }
};

inline morvex::PanelAnswer Chosen(const QString& path) {
    return {morvex::kPanelChosen, QFileInfo(path).path(), {path}};
}

// The real main window with its controller, on scripted services. The conversion timer is
// stopped unless asked for, so that tests step the run tick by tick.
class Window {
public:
    explicit Window(bool realTimer = false) {
        if (!realTimer)
            controller.conversionTimer().stop();
        controller.mainWindow()->show();
    }

    ScriptedServices services;
    TempDir dir;
    MorvexController controller{services};

    template <class W = QWidget> W* Get(const char* name) {
        auto* widget = controller.mainWindow()->findChild<W*>(QLatin1String(name));
        if (widget == nullptr)
            qFatal("no control %s", name);
        return widget;
    }
    QString Text(const char* name) {
        if (auto* edit = controller.mainWindow()->findChild<QLineEdit*>(QLatin1String(name)))
            return edit->text();
        return Get<QLabel>(name)->text();
    }
    bool Enabled(const char* name) { return Get(name)->isEnabled(); }
    QTableView* Table() { return Get<QTableView>("_FileListTableView"); }
    QAbstractItemModel* Model() { return Table()->model(); }
    int Rows() { return Model()->rowCount(); }
    QString Name(int row) { return Model()->index(row, 1).data().toString(); }
    QString Icon(int row) {
        return Model()->index(row, 0).data(TaskTableModel::ImageNameRole).toString();
    }
    int SelectedRow() {
        const auto rows = Table()->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }
    int Progress() { return Get<QProgressBar>("progressIndicator")->value(); }

    void Click(const char* name) { QTest::mouseClick(Get<QAbstractButton>(name), Qt::LeftButton); }
    void SelectRow(int row) {
        const QRect cell = Table()->visualRect(Model()->index(row, 1));
        QTest::mouseClick(Table()->viewport(), Qt::LeftButton, {}, cell.center());
    }
    // Chooses an item with the keyboard, as a user could; a disabled pop-up does not react.
    void Choose(const char* name, int item) {
        auto* box = Get<QComboBox>(name);
        QTest::keyClick(box, Qt::Key_Home);
        for (int i = 0; i < item; ++i)
            QTest::keyClick(box, Qt::Key_Down);
    }

    void Add(const QString& path) {
        services.openAnswers.push_back(Chosen(path));
        Click("addFileButton");
    }
    void SetDestination(const QString& base) {
        services.saveAnswers.push_back(Chosen(base));
        Click("setDestinationButton");
    }
    // Drags the paths (or URLs) onto the table and drops them; answers whether the drop was
    // taken.
    bool Drop(const QStringList& names) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& name : names)
            urls << (name.contains(QLatin1String("://")) ? QUrl(name) : QUrl::fromLocalFile(name));
        mime.setUrls(urls);
        QWidget* target = Table()->viewport();
        const QPoint at = target->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(target, &enter);
        QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(target, &move);
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(target, &drop);
        QCoreApplication::processEvents(); // the task is appended once the drop has returned
        return drop.isAccepted();
    }

    void Tick(int count = 1) {
        for (int i = 0; i < count; ++i)
            controller.timerAction();
    }
    bool RunToEnd(int maxTicks = 10000) {
        for (int i = 0; i < maxTicks && controller.isConversionRunning(); ++i)
            controller.timerAction();
        return !controller.isConversionRunning();
    }

    // A take of one file, "channels" channels of 16 bits at 48 kHz.
    QString Take(const char* name, int channels = 2, uint32_t frames = 4800) {
        const testtake::WavFormat format{1, static_cast<uint16_t>(channels)};
        const std::string path = dir.File(name);
        testtake::WriteFile(
            path, testtake::MakeWav(format, testtake::PatternSamples(frames, channels, 2)));
        return QString::fromStdString(path);
    }
    // A recorder take MKZnn_01.WAV ... of "files" files; answers the start file. A declared
    // data size other than 0 goes into every data chunk header in place of the real one.
    QString RecorderTake(int take, int files, int channels = 2, uint32_t framesPerFile = 4800,
                         uint32_t declaredDataSize = 0) {
        const testtake::WavFormat format{1, static_cast<uint16_t>(channels)};
        const size_t fileBytes = size_t{framesPerFile} * format.FrameBytes();
        std::vector<size_t> cuts;
        for (int i = 1; i < files; ++i)
            cuts.push_back(fileBytes * i);
        const auto stream = testtake::PatternSamples(framesPerFile * files, channels, 2);
        testtake::WavLayout layout;
        layout.dataSizeFromBody = declaredDataSize == 0;
        layout.dataSizeOverride = declaredDataSize;
        return QString::fromStdString(
            testtake::WriteTake(dir.Path(), take, 1, format, stream, cuts, layout).front());
    }
    QString Out(const char* name) { return QString::fromStdString(dir.File(name)); }
};
