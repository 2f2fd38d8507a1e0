#pragma once

#include "MorvexWorker.h"
#include "RunPacer.h"
#include "StateImages.h"
#include "TaskTableDataSource.h"
#include "ToolkitServices.h"

#include <QObject>
#include <QString>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QTableView;
class TaskTableModel;
namespace Ui {
class MorvexMainWindow;
}

// The controller of the main window. It owns the engine and is its only caller; it is the task
// table's data source, carries out the user's actions on the task list and the selected task,
// keeps the description panel up to date, and drives conversion runs on the ticks of its run
// pacer.
class MorvexController final : public QObject, public TaskTableDataSource {
    Q_OBJECT
public:
    explicit MorvexController(morvex::ToolkitServices& services, QObject* parent = nullptr);
    ~MorvexController() override;

    QMainWindow* mainWindow() const { return m_MainWindow.get(); }
    const CMorvexWorker& worker() const { return m_MorvexWorker; }
    bool isConversionRunning() const { return m_ConversionRunning; }
    QTimer& conversionTimer() { return m_RunPacer.timer(); }
    // Milliseconds of engine steps per tick; 0 makes a tick one step (tests that look at a run
    // between two steps).
    void setStepBudgetMs(int budget) { m_RunPacer.setStepBudgetMs(budget); }

    // Data source of the task table.
    int numberOfRows() const override { return m_MaxEntries; }
    QVariant tableObjectValue(TaskColumn column, int row) const override;
    QString stateImageName(int row) const override;
    QString stateText(int row) const override;
    // What the user should know beyond the state: the file and the system's reason behind a
    // failure or behind outputs that cannot be written, and what the take leaves out. Empty when
    // there is nothing to tell.
    QString noteText(int row) const override;
    // Why Start is off: the first task that holds it and what it needs. Empty when it is on.
    QString startHoldReason() const;
    bool acceptDrop(const QStringList& fileNames) override;

public slots:
    // Adds each file as a task, as if chosen with Add…, and the takes in each folder; each
    // refusal raises its own alert.
    void openFiles(const QStringList& fileNames);
    void addFile();
    void removeFile();
    void typeChanged();
    void formatChanged();
    void sourceEndChanged();
    // The channel list typed into the panel, taken when it is finished (Return, leaving the field,
    // Start); one that does not parse or names a channel the take lacks is refused.
    void channelsChanged();
    void trackNamesChanged();
    void skipSilentChanged();
    void setDestination();
    void startConversion();
    void timerAction();
    void doubleClick();

    void setDescriptionFields();
    void setEntrySettingsState(bool enabled);

    // Asked before the main window closes: true lets it close.
    bool windowShouldClose();
    // Run as the main window closes: clears the engine (deleting an unfinished task's outputs)
    // and stops the timer.
    void windowWillClose();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class ModalScope;

    void awakeFromNib();
    void installShortcuts();
    void showStateAndNote(int entry);
    void fileListTableViewSelectionDidChange();
    bool appendPath(const QString& path);
    bool appendFolder(const QString& folder);
    bool appendTask(const QString& fileName);
    void appendChosen(QStringList fileNames);
    bool appendJoinedTake(const QStringList& fileNames);
    bool taskAdded(int code, const QString& fileName);
    QString displayName(int row) const;
    void refuseAdding(const QString& message, const QString& file);
    bool needsAttention(int row) const;
    morvex::StateLook rowLook(int row) const;
    void checkOutputs();
    void showStartState();
    void keepMinimumSize();
    QString runningTask() const;
    void selectRowAlone(int row);
    void reloadData();
    void setProgress(double fraction);
    int runConversionSteps();
    QString infoString(int entry, int kind) const;
    bool takeNamesTracks(int entry) const;
    QString channelListProblem(const QString& text, uint64_t& channels) const;
    void showChannelsProblem(const QString& problem);

    morvex::PanelAnswer runOpenPanel(const morvex::OpenPanelOptions& options);
    morvex::PanelAnswer runSavePanel(const morvex::SavePanelOptions& options);
    int runAlert(const morvex::AlertOptions& options);

    morvex::ToolkitServices& m_Services;
    std::unique_ptr<QMainWindow> m_MainWindow;
    std::unique_ptr<Ui::MorvexMainWindow> m_Ui;
    TaskTableModel* m_TableModel = nullptr;

    // Outlets, owned by the window.
    QTableView* m_FileListTableView = nullptr;
    QPushButton* m_AddFileButton = nullptr;
    QPushButton* m_RemoveFileButton = nullptr;
    QPushButton* m_StartButton = nullptr;
    QComboBox* m_SourceEnd = nullptr;
    QLineEdit* m_DestinationString = nullptr;
    QPushButton* m_SetDestinationButton = nullptr;
    QComboBox* m_SetType = nullptr;
    QComboBox* m_SetFormat = nullptr;
    QLineEdit* m_ChannelsString = nullptr;
    QCheckBox* m_SetTrackNames = nullptr;
    QCheckBox* m_SetSkipSilent = nullptr;
    QLabel* m_AudioInfoString = nullptr;
    QLabel* m_TimeInfoString = nullptr;
    QLabel* m_SizeInfoString = nullptr;
    QLabel* m_StateInfoString = nullptr;
    QLabel* m_NoteInfoString = nullptr;
    QLabel* m_StartHoldString = nullptr;
    QProgressBar* m_ProgressIndicator = nullptr;
    QPushButton* m_ExitButton = nullptr;
    QWidget* m_TableViewport = nullptr;

    morvex::StateImageSet m_StateImages;
    RunPacer m_RunPacer;

    CMorvexWorker m_MorvexWorker;
    int m_EntryIndex = 0;
    int m_MaxEntries = 0;
    QString m_LastDestination;
    QString m_LastSource;
    // Per task, why its outputs cannot be written now (one problem a line), as last checked
    // when a destination, type, format or source end was chosen and on Start.
    QStringList m_OutputProblems;
    // Why the channel list in the panel was refused; shown first on the Note line until the
    // panel is filled again from the task.
    QString m_ChannelsProblem;
    QString m_StartToolTip; // the Start button's own tooltip, before any reason is added
    bool m_ConversionRunning = false;
    bool m_ConversionToStop = false;
    int m_StepAnswer = morvex::kConvIdle; // the engine's answer to the last step

    int m_ModalDepth = 0;
    bool m_TornDown = false;
};
