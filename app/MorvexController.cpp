#include "MorvexController.h"

#include "ChannelList.h"
#include "OutputFormat.h"
#include "OutputPlace.h"
#include "OutputPlan.h"
#include "StateImages.h"
#include "TakeName.h"
#include "TaskTableModel.h"
#include "ui_MorvexMainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMainWindow>
#include <QSet>
#include <QShortcut>
#include <QStatusBar>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using namespace morvex;

namespace {

const QString kStartTitle = QStringLiteral("Start");
const QString kStopTitle = QStringLiteral("Stop");
const QStringList kOkCancel = {QStringLiteral("OK"), QStringLiteral("Cancel")};
// Questions whose "OK" deletes files take Return as "Cancel".
constexpr int kCancelButton = 1;
// Wide enough for the state icon beside the table's margins.
constexpr int kIconColumnWidth = 34;
constexpr int kRowHeight = 28;
// A channel list the task did not take: framed in red until it is mended or the panel refilled.
const QString kRefusedFieldStyle = QStringLiteral("QLineEdit { border: 2px solid #d32f2f; }");
// Room for "1,3,5,...,63" and more.
constexpr size_t kChannelListBytes = 256;

// The files of a folder that can start a take: the engine's reading of the recorder's names, as
// the command line's folder mode finds them.
bool IsTakeFileName(const QString& name) {
    TakeName parsed;
    return ParseTakeName(QFile::encodeName(name).constData(), parsed);
}

// The keys of the buttons, one table for the shortcuts and the tooltips that show them. Built on
// use: the standard keys are known only once the application has its platform.
struct ButtonKeys {
    const char* button;
    QList<QKeySequence> keys;
};

// The key named first, which the tooltip shows, and the platform's own for the same action; not
// every platform theme binds the standard keys (the offscreen one has no Quit).
QList<QKeySequence> KeysOf(const QKeySequence& named, QKeySequence::StandardKey standard) {
    QList<QKeySequence> keys{named};
    for (const QKeySequence& key : QKeySequence::keyBindings(standard))
        if (key != named)
            keys << key;
    return keys;
}

QList<ButtonKeys> ButtonKeyTable() {
    return {
        {"addFileButton", KeysOf(QKeySequence(Qt::CTRL | Qt::Key_O), QKeySequence::Open)},
        {"removeFileButton", {QKeySequence(Qt::Key_Delete)}},
        // Return of the main keyboard and Enter of the keypad alike.
        {"startButton",
         {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}},
        {"exitButton", KeysOf(QKeySequence(Qt::CTRL | Qt::Key_Q), QKeySequence::Quit)},
    };
}

} // namespace

// Keeps the conversion timer still while a panel or alert is open. Qt, unlike AppKit's default
// run-loop mode, delivers timers inside modal loops; without this the run would go on (and the
// selection and panel move) behind a question such as "stop?".
class MorvexController::ModalScope {
public:
    explicit ModalScope(MorvexController& controller)
        : m_Controller(controller), m_TimerWasActive(controller.conversionTimer().isActive()) {
        ++m_Controller.m_ModalDepth;
        m_Controller.m_RunPacer.stop();
    }
    ~ModalScope() {
        --m_Controller.m_ModalDepth;
        if (m_TimerWasActive && m_Controller.m_ModalDepth == 0 && !m_Controller.m_TornDown)
            m_Controller.conversionTimer().start();
    }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

private:
    MorvexController& m_Controller;
    bool m_TimerWasActive;
};

MorvexController::MorvexController(ToolkitServices& services, QObject* parent)
    : QObject(parent), m_Services(services), m_MainWindow(std::make_unique<QMainWindow>()),
      m_Ui(std::make_unique<Ui::MorvexMainWindow>()) {
    m_Ui->setupUi(m_MainWindow.get());
    m_MainWindow->setWindowIcon(QIcon(LoadImageNamed(QStringLiteral("morvex"))));

    m_FileListTableView = m_Ui->fileListTableView;
    m_AddFileButton = m_Ui->addFileButton;
    m_RemoveFileButton = m_Ui->removeFileButton;
    m_StartButton = m_Ui->startButton;
    m_SourceEnd = m_Ui->sourceEnd;
    m_DestinationString = m_Ui->destinationString;
    m_SetDestinationButton = m_Ui->setDestinationButton;
    m_SetType = m_Ui->setType;
    m_SetFormat = m_Ui->setFormat;
    // Each item carries the engine's value of its format, so the order of the items means nothing.
    for (const OutputFormat format : kOutputFormats)
        m_SetFormat->addItem(QString::fromLatin1(Describe(format).Name).toUpper(),
                             FormatValue(format));
    m_ChannelsString = m_Ui->channelsString;
    m_SetTrackNames = m_Ui->setTrackNames;
    m_SetSkipSilent = m_Ui->setSkipSilent;
    m_AudioInfoString = m_Ui->audioInfoString;
    m_TimeInfoString = m_Ui->timeInfoString;
    m_SizeInfoString = m_Ui->sizeInfoString;
    m_StateInfoString = m_Ui->stateInfoString;
    m_NoteInfoString = m_Ui->noteInfoString;
    // Why Start is off, where it is seen without pointing at anything.
    m_StartHoldString = new QLabel(m_MainWindow.get());
    m_StartHoldString->setObjectName(QStringLiteral("startHoldString"));
    // A long path in it is cut rather than widening the window.
    m_StartHoldString->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_MainWindow->statusBar()->addWidget(m_StartHoldString, 1);
    m_MainWindow->statusBar()->setSizeGripEnabled(false);
    m_ProgressIndicator = m_Ui->progressIndicator;
    m_ExitButton = m_Ui->exitButton;

    m_TableModel = new TaskTableModel(*this, this);
    m_FileListTableView->setModel(m_TableModel);
    QHeaderView* header = m_FileListTableView->horizontalHeader();
    const int iconSection = TaskTableModel::sectionOf(TaskColumn::Icon);
    header->setSectionResizeMode(iconSection, QHeaderView::Fixed);
    header->resizeSection(iconSection, kIconColumnWidth);
    m_FileListTableView->verticalHeader()->setDefaultSectionSize(kRowHeight);

    connect(m_AddFileButton, &QPushButton::clicked, this, &MorvexController::addFile);
    connect(m_RemoveFileButton, &QPushButton::clicked, this, &MorvexController::removeFile);
    connect(m_StartButton, &QPushButton::clicked, this, &MorvexController::startConversion);
    connect(m_SetDestinationButton, &QPushButton::clicked, this, &MorvexController::setDestination);
    // activated, not currentIndexChanged: only the user's choice is an action, not the panel
    // being refilled.
    connect(m_SourceEnd, &QComboBox::activated, this, &MorvexController::sourceEndChanged);
    connect(m_SetType, &QComboBox::activated, this, &MorvexController::typeChanged);
    connect(m_SetFormat, &QComboBox::activated, this, &MorvexController::formatChanged);
    connect(m_ChannelsString, &QLineEdit::editingFinished, this,
            &MorvexController::channelsChanged);
    // The red frame goes as soon as the text is one the task would take.
    connect(m_ChannelsString, &QLineEdit::textEdited, this, [this](const QString& text) {
        uint64_t channels = 0;
        if (channelListProblem(text, channels).isEmpty())
            m_ChannelsString->setStyleSheet(QString());
    });
    connect(m_SetTrackNames, &QCheckBox::clicked, this, &MorvexController::trackNamesChanged);
    connect(m_SetSkipSilent, &QCheckBox::clicked, this, &MorvexController::skipSilentChanged);
    connect(&m_RunPacer.timer(), &QTimer::timeout, this, &MorvexController::timerAction);

    m_TableViewport = m_FileListTableView->viewport();
    m_MainWindow->installEventFilter(this);
    m_TableViewport->installEventFilter(this);

    installShortcuts();
    awakeFromNib();
}

// Shortcuts of their own rather than the buttons': a button's shortcut is replaced whenever its
// text is set, as Start's is with every run.
void MorvexController::installShortcuts() {
    for (const ButtonKeys& entry : ButtonKeyTable()) {
        auto* button = m_MainWindow->findChild<QPushButton*>(QLatin1String(entry.button));
        auto* shortcut = new QShortcut(m_MainWindow.get());
        shortcut->setKeys(entry.keys);
        // click() does nothing while the button is locked.
        connect(shortcut, &QShortcut::activated, button, &QPushButton::click);
        button->setToolTip(QStringLiteral("%1 (%2)").arg(
            button->toolTip(), entry.keys.first().toString(QKeySequence::NativeText)));
    }
    m_StartToolTip = m_StartButton->toolTip();
}

MorvexController::~MorvexController() {
    windowWillClose();
    // The window goes first, while the controller is still whole: its widgets send events and
    // signals as they are destroyed, and none of them may reach the controller.
    m_MainWindow->removeEventFilter(this);
    m_TableViewport->removeEventFilter(this);
    m_FileListTableView->selectionModel()->disconnect(this);
    m_MainWindow.reset();
}

void MorvexController::awakeFromNib() {
    m_EntryIndex = 0;
    m_MaxEntries = 0;
    // selectionChanged fires while a selection is dragged as well as when it settles.
    connect(m_FileListTableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MorvexController::fileListTableViewSelectionDidChange);
    setDescriptionFields();
    m_FileListTableView->setAcceptDrops(true);
    m_StateImages.load();
    m_RunPacer.start();
}

// ---- Data source ---------------------------------------------------------------------------

QString MorvexController::stateImageName(int row) const {
    return rowLook(row).imageName;
}

QVariant MorvexController::tableObjectValue(TaskColumn column, int row) const {
    if (row < 0 || row >= m_MaxEntries)
        return {};
    switch (column) {
    case TaskColumn::Icon: {
        // A state without an image has no value rather than a null icon.
        const StateLook look = rowLook(row);
        return look.imageName.isEmpty() ? QVariant() : QVariant(look.icon);
    }
    case TaskColumn::Name:
        return displayName(row);
    }
    return {};
}

// A take of files given one by one shows its first file and how many follow it.
QString MorvexController::displayName(int row) const {
    const QString name = QString::fromUtf8(m_MorvexWorker.GetDisplayName(row));
    const SplitEntryInfo& entry = m_MorvexWorker.Entry(row);
    if (entry.GivenFilePaths == nullptr || entry.SubCount < 2)
        return name;
    const int more = entry.SubCount - 1;
    return QStringLiteral("%1 + %2 %3")
        .arg(name)
        .arg(more)
        .arg(more == 1 ? QStringLiteral("file") : QStringLiteral("files"));
}

// The image of a task's row: its state's, or the one that asks for attention.
StateLook MorvexController::rowLook(int row) const {
    if (row < 0 || row >= m_MaxEntries)
        return {};
    if (needsAttention(row))
        return m_StateImages.attentionLook();
    return m_StateImages.lookOfState(m_MorvexWorker.GetEntryState(row), m_RunPacer.iconFrame());
}

// A task ready by the engine's account whose outputs cannot be written where it names them.
bool MorvexController::needsAttention(int row) const {
    return m_MorvexWorker.GetEntryState(row) == kStateReady &&
           !m_OutputProblems.value(row).isEmpty();
}

QString MorvexController::stateText(int row) const {
    if (row < 0 || row >= m_MaxEntries)
        return {};
    if (needsAttention(row)) {
        char message[kInfoTextBytes] = {};
        m_MorvexWorker.GetErrorString(kErrorOutputCreate, message);
        return QString::fromUtf8(message);
    }
    return infoString(row, kInfoState);
}

QString MorvexController::noteText(int row) const {
    if (row < 0 || row >= m_MaxEntries)
        return {};
    QStringList notes;
    char text[kNoteTextBytes] = {};
    if (m_MorvexWorker.GetFailureDetail(row, text))
        notes << QString::fromUtf8(text);
    for (const QString& problem : m_OutputProblems.value(row).split(u'\n', Qt::SkipEmptyParts))
        if (!notes.contains(problem))
            notes << problem;
    if (m_MorvexWorker.GetTakeWarning(row, text))
        notes << QString::fromUtf8(text);
    const uint64_t skipped = m_MorvexWorker.Entry(row).SkippedChannels;
    if (skipped != 0) {
        QStringList numbers;
        for (int channel = 0; channel < kMaxChannels; ++channel)
            if ((skipped >> channel) & 1u)
                numbers << QString::number(channel + 1);
        notes << QStringLiteral("Skipped silent channels: ") + numbers.join(QStringLiteral(", "));
    }
    return notes.join(QLatin1Char('\n'));
}

QString MorvexController::startHoldReason() const {
    if (m_ConversionRunning || m_MaxEntries == 0)
        return {};
    for (int row = 0; row < m_MaxEntries; ++row) {
        const SplitEntryInfo& entry = m_MorvexWorker.Entry(row);
        if (entry.fConversionDone)
            continue;
        const QString problems = m_OutputProblems.value(row);
        const int state = m_MorvexWorker.GetEntryState(row);
        if (problems.isEmpty() && state != kStateNoDestination && state != kStateCannotPair &&
            entry.ErrorState != kErrorNameInUse)
            continue;
        const QString why = problems.isEmpty() ? stateText(row) : problems.section(u'\n', 0, 0);
        return QStringLiteral("Start waits for task %1 (%2): %3")
            .arg(row + 1)
            .arg(QFileInfo(QFile::decodeName(m_MorvexWorker.GetDisplayName(row))).fileName(), why);
    }
    return m_MorvexWorker.AllDone(m_MaxEntries) ? QStringLiteral("Every task is converted.")
                                                : QString();
}

bool MorvexController::acceptDrop(const QStringList& fileNames) {
    if (fileNames.isEmpty())
        return true;
    if (fileNames.first().isEmpty())
        return false;
    // Appended once the drop has returned: a refusal or a question raises a modal alert, and the
    // application the files came from should not wait for the drop to finish until it is answered.
    QStringList local = fileNames;
    local.removeAll(QString());
    QTimer::singleShot(0, this, [this, local] {
        if (!m_TornDown)
            appendChosen(local);
    });
    return true;
}

// ---- Task list actions ---------------------------------------------------------------------

void MorvexController::fileListTableViewSelectionDidChange() {
    const QModelIndexList rows = m_FileListTableView->selectionModel()->selectedRows();
    if (!rows.isEmpty())
        m_EntryIndex = rows.first().row();
    setDescriptionFields();
}

void MorvexController::doubleClick() {
    addFile();
}

void MorvexController::addFile() {
    if (m_DestinationString->text().isEmpty() && m_MaxEntries >= 1) {
        const int answer =
            runAlert({QStringLiteral("No output selected for previous task."),
                      QStringLiteral("Please select directory and basic file name!"), kOkCancel});
        if (answer == kAlertFirstButton)
            setDestination();
        return;
    }

    OpenPanelOptions options;
    options.title = QStringLiteral("Select start file for new task");
    options.prompt = QStringLiteral("Add");
    options.directory = m_LastSource;
    options.fileTypes = {QStringLiteral("wav"),
                         QStringLiteral("w64")}; // Wave64 goes by its own name too
    options.allowsMultipleSelection = true;
    const PanelAnswer answer = runOpenPanel(options);
    if (answer.result != kPanelChosen)
        return;
    if (answer.filenames.isEmpty() || answer.filenames.first().isEmpty())
        return;
    appendChosen(answer.filenames);
}

// Files chosen or dropped together. Several files, and no folder, may be the files of one take
// that no name tells (a console's 00000001.WAV, 00000002.WAV, ...): only the user can say, since
// names such as A101_1_1.WAV, A101_1_2.WAV may as well be channels of one take.
void MorvexController::appendChosen(QStringList fileNames) {
    const bool anyFolder = std::any_of(fileNames.begin(), fileNames.end(),
                                       [](const QString& name) { return QFileInfo(name).isDir(); });
    if (fileNames.size() < 2 || anyFolder) {
        for (const QString& fileName : fileNames)
            if (!m_TornDown)
                appendPath(fileName);
        return;
    }
    std::sort(fileNames.begin(), fileNames.end(), [](const QString& a, const QString& b) {
        const QString nameA = QFileInfo(a).fileName(), nameB = QFileInfo(b).fileName();
        const int byKey = nameA.compare(nameB, Qt::CaseInsensitive);
        return byKey != 0 ? byKey < 0 : a < b;
    });
    const int answer = runAlert(
        {QStringLiteral("Add %1 files as one take?").arg(fileNames.size()),
         QStringLiteral("One take reads them as one stream in name order, %1 to %2; or each file "
                        "is a task of its own.")
             .arg(QFileInfo(fileNames.first()).fileName(), QFileInfo(fileNames.last()).fileName()),
         {QStringLiteral("One take"), QStringLiteral("One task each"), QStringLiteral("Cancel")}});
    if (answer == kAlertFirstButton) {
        appendJoinedTake(fileNames);
    } else if (answer == kAlertSecondButton) {
        for (const QString& fileName : fileNames) {
            const bool full = m_MaxEntries >= kMaxEntries;
            if (m_TornDown || (!appendTask(fileName) && full))
                break; // one alert says it for every file left
        }
    }
}

bool MorvexController::appendJoinedTake(const QStringList& fileNames) {
    std::vector<QByteArray> encoded;
    std::vector<const char*> paths;
    for (const QString& fileName : fileNames)
        encoded.push_back(QFile::encodeName(fileName));
    for (const QByteArray& path : encoded)
        paths.push_back(path.constData());
    const int count = static_cast<int>(paths.size());
    return taskAdded(m_MorvexWorker.SetTakeFiles(m_MaxEntries, paths.data(), count),
                     fileNames.first());
}

void MorvexController::openFiles(const QStringList& fileNames) {
    bool added = false;
    for (const QString& fileName : fileNames) {
        if (m_TornDown)
            return;
        // Relative to the folder the program was started in, and shown in full in the list.
        added = appendPath(QFileInfo(fileName).absoluteFilePath()) || added;
    }
    // A refusal after the last task added took the focus for its alert.
    if (added)
        m_SetDestinationButton->setFocus(Qt::OtherFocusReason);
}

bool MorvexController::appendPath(const QString& path) {
    return QFileInfo(path).isDir() ? appendFolder(path) : appendTask(path);
}

// Every take in the folder, in name order: a file that a take added before has claimed as its
// follower is not a take of its own.
bool MorvexController::appendFolder(const QString& folder) {
    QDir dir(folder);
    if (!dir.isReadable()) {
        refuseAdding(QStringLiteral("The folder cannot be read."), folder);
        return false;
    }
    QStringList names = dir.entryList(QDir::Files | QDir::System | QDir::Hidden);
    names.removeIf([](const QString& name) { return !IsTakeFileName(name); });
    if (names.isEmpty()) {
        refuseAdding(QStringLiteral("No take in this folder (no file named like MKZ01_01.WAV)."),
                     folder);
        return false;
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int byKey = a.compare(b, Qt::CaseInsensitive);
        return byKey != 0 ? byKey < 0 : a < b;
    });
    QSet<QString> claimed;
    bool added = false;
    for (const QString& name : names) {
        if (m_TornDown)
            break;
        if (claimed.contains(name.toLower()))
            continue;
        const bool full = m_MaxEntries >= kMaxEntries;
        if (!appendTask(dir.absoluteFilePath(name))) {
            if (full)
                break; // one alert says it for every take left
            continue;
        }
        added = true;
        char file[kMaxPathBytes] = {};
        for (int index = 0; m_MorvexWorker.GetSourceEndName(m_MaxEntries - 1, index, file); ++index)
            claimed.insert(QString::fromUtf8(file).toLower());
    }
    return added;
}

void MorvexController::refuseAdding(const QString& message, const QString& file) {
    runAlert({QStringLiteral("File could not be added to list."),
              message + QLatin1Char('\n') + QDir::toNativeSeparators(file),
              {}});
}

bool MorvexController::appendTask(const QString& fileName) {
    const QByteArray path = QFile::encodeName(fileName);
    return taskAdded(m_MorvexWorker.SetStartFile(m_MaxEntries, path.constData()), fileName);
}

// Shows the task the engine has added, or why it refused it.
bool MorvexController::taskAdded(int code, const QString& fileName) {
    if (code == kErrorNone) {
        ++m_MaxEntries;
        m_LastSource = QFileInfo(fileName).absolutePath();
        reloadData();
        selectRowAlone(m_MaxEntries - 1);
        m_SetDestinationButton->setFocus(Qt::OtherFocusReason);
        return true;
    }
    char message[kInfoTextBytes] = {};
    m_MorvexWorker.GetErrorString(code, message);
    char detail[kNoteTextBytes] = {};
    // The engine's message first; then the file, for alerts that come one after another, and
    // the reason behind the message where there is one.
    QString file = fileName;
    if (m_MorvexWorker.GetAddFailureDetail(detail))
        file += QStringLiteral(": ") + QString::fromUtf8(detail);
    refuseAdding(QString::fromUtf8(message), file);
    return false;
}

void MorvexController::removeFile() {
    if (m_MaxEntries < 1 || m_EntryIndex < 0 || m_EntryIndex >= m_MaxEntries)
        return;
    m_MorvexWorker.DeleteEntry(m_EntryIndex);
    --m_MaxEntries;
    // The task removed may have been the other half of a name clash.
    m_MorvexWorker.RecheckNameClashes(m_MaxEntries);
    if (m_MaxEntries <= m_EntryIndex)
        m_EntryIndex = m_MaxEntries - 1;
    checkOutputs();
    reloadData();
    selectRowAlone(m_EntryIndex);
    setDescriptionFields();
}

void MorvexController::typeChanged() {
    m_MorvexWorker.SetDestinationType(m_EntryIndex, m_SetType->currentIndex());
    checkOutputs();
    setDescriptionFields();
}

void MorvexController::formatChanged() {
    // The files written change with the format: clashes are looked at again.
    m_MorvexWorker.SetDestinationFormat(m_EntryIndex, m_SetFormat->currentData().toInt(),
                                        m_MaxEntries);
    checkOutputs();
    setDescriptionFields();
}

void MorvexController::sourceEndChanged() {
    m_MorvexWorker.SetSourceEndIndex(m_EntryIndex, m_SourceEnd->currentIndex());
    checkOutputs(); // the space needed follows the source end
    setDescriptionFields();
}

void MorvexController::channelsChanged() {
    // Only what the user typed: a field refilled from the task, or left unchanged, says nothing.
    if (m_TornDown || m_ConversionRunning || !m_ChannelsString->isModified() || m_EntryIndex < 0 ||
        m_EntryIndex >= m_MaxEntries)
        return;
    uint64_t channels = 0;
    const QString problem = channelListProblem(m_ChannelsString->text(), channels);
    if (!problem.isEmpty()) {
        // The text stays for the user to mend; the task keeps its channels.
        showChannelsProblem(problem);
        return;
    }
    m_MorvexWorker.SetChannelSelection(m_EntryIndex, channels);
    checkOutputs(); // other outputs, other sizes
    setDescriptionFields();
}

// Why `text` is no channel selection of the selected task's take; empty when it is one, with the
// selection in `channels` (0, every channel, for an empty field).
QString MorvexController::channelListProblem(const QString& text, uint64_t& channels) const {
    channels = 0;
    const QString list = text.trimmed();
    if (list.isEmpty())
        return {};
    const QString refused = QStringLiteral("Channels \"%1\" not taken: ").arg(list);
    if (!ParseChannelList(list.toUtf8().constData(), channels))
        return refused + QStringLiteral("write them as 1-8,11,13-14, or nothing for all.");
    const bool isTask = m_EntryIndex >= 0 && m_EntryIndex < m_MaxEntries;
    const int count = isTask ? m_MorvexWorker.Entry(m_EntryIndex).ChannelNumb : 0;
    if (EffectiveChannels(channels, count) != channels)
        return refused + QStringLiteral("the take has %1 channels.").arg(count);
    return {};
}

void MorvexController::showChannelsProblem(const QString& problem) {
    m_ChannelsProblem = problem;
    m_ChannelsString->setStyleSheet(problem.isEmpty() ? QString() : kRefusedFieldStyle);
    showStateAndNote(m_EntryIndex);
}

void MorvexController::trackNamesChanged() {
    m_MorvexWorker.SetTrackNaming(m_EntryIndex, m_SetTrackNames->isChecked());
    checkOutputs(); // the outputs' names change
    setDescriptionFields();
}

void MorvexController::skipSilentChanged() {
    m_MorvexWorker.SetSkipSilent(m_EntryIndex, m_SetSkipSilent->isChecked());
    setDescriptionFields();
}

void MorvexController::setDestination() {
    if (m_MaxEntries == 0 || m_EntryIndex < 0 || m_EntryIndex >= m_MaxEntries)
        return;

    SavePanelOptions options;
    options.title = QStringLiteral("Choose output directory and basic file name for conversion");
    options.prompt = QStringLiteral("Choose");
    // The task's own destination again; else the folder of the last one chosen (at first the
    // take's), with the take's name as the base.
    const QString current = QString::fromUtf8(m_MorvexWorker.GetDestinationBaseFile(m_EntryIndex));
    const QFileInfo take(QFile::decodeName(m_MorvexWorker.GetDisplayName(m_EntryIndex)));
    if (!current.isEmpty()) {
        options.directory = QFileInfo(current).path();
        options.fileName = QFileInfo(current).fileName();
    } else {
        options.directory = m_LastDestination.isEmpty() ? take.path() : m_LastDestination;
        options.fileName = take.completeBaseName();
    }
    const PanelAnswer answer = runSavePanel(options);
    if (answer.result != kPanelChosen)
        return;
    if (answer.filenames.isEmpty() || answer.filenames.first().isEmpty())
        return;
    const QByteArray path = QFile::encodeName(answer.filenames.first());
    if (m_MorvexWorker.SetDestinationBaseFile(m_EntryIndex, path.constData(), m_MaxEntries) == 0)
        return;
    m_LastDestination = QFileInfo(answer.filenames.first()).absolutePath();
    checkOutputs();
    setDescriptionFields();
}

// What keeps each task's outputs from being written now, as the command line's -i finds it:
// its folder, names taken already, and room on the file system for what the tasks to convert
// before it write into the same folder as well as its own.
void MorvexController::checkOutputs() {
    m_OutputProblems.clear();
    QHash<QString, qint64> planned; // bytes by folder
    for (int row = 0; row < m_MaxEntries; ++row) {
        const SplitEntryInfo& entry = m_MorvexWorker.Entry(row);
        std::vector<std::string> outputs;
        char path[kMaxPathBytes] = {};
        const bool toConvert = !m_ConversionRunning && !entry.fConversionDone &&
                               entry.ErrorState != kErrorNameInUse &&
                               m_MorvexWorker.GetEntryState(row) != kStateCannotPair;
        for (int n = 0; toConvert && m_MorvexWorker.GetOutputFileName(row, n, path); ++n)
            outputs.emplace_back(path);
        QStringList problems;
        if (!outputs.empty()) {
            qint64& bytes = planned[QFileInfo(QFile::decodeName(outputs.front().c_str())).path()];
            // Only the selected channels' samples are written.
            bytes += qint64(PlanOutputs(entry).ConvertedBytes) +
                     qint64(outputs.size() * kOutputAllowanceBytes);
            for (const std::string& problem :
                 OutputPlaceProblems(outputs, static_cast<uint64_t>(bytes)))
                problems << QFile::decodeName(problem.c_str());
        }
        m_OutputProblems << problems.join(QLatin1Char('\n'));
    }
}

// ---- Description panel ---------------------------------------------------------------------

QString MorvexController::infoString(int entry, int kind) const {
    char text[kInfoTextBytes] = {};
    m_MorvexWorker.GetInfoStrings(entry, kind, text);
    return QString::fromUtf8(text);
}

// Whether the start file names any of the take's tracks: naming outputs after them means
// nothing otherwise, and the box is locked.
bool MorvexController::takeNamesTracks(int entry) const {
    if (entry < 0 || entry >= m_MaxEntries)
        return false;
    const SplitEntryInfo& task = m_MorvexWorker.Entry(entry);
    for (int channel = 0; channel < task.ChannelNumb && channel < kMaxChannels; ++channel)
        if (task.Metadata.TrackNames[channel][0] != '\0')
            return true;
    return false;
}

void MorvexController::setEntrySettingsState(bool enabled) {
    m_DestinationString->setEnabled(enabled);
    m_SetDestinationButton->setEnabled(enabled);
    m_SourceEnd->setEnabled(enabled);
    m_SetType->setEnabled(enabled);
    m_SetFormat->setEnabled(enabled);
    m_ChannelsString->setEnabled(enabled);
    m_SetTrackNames->setEnabled(enabled && takeNamesTracks(m_EntryIndex));
    m_SetSkipSilent->setEnabled(enabled);
}

void MorvexController::setDescriptionFields() {
    // The channel field shows the task's own selection again.
    m_ChannelsProblem.clear();
    m_ChannelsString->setStyleSheet(QString());
    if (m_MaxEntries <= 0) {
        m_StartButton->setEnabled(false);
        setEntrySettingsState(false);
        m_RemoveFileButton->setEnabled(false);
        m_DestinationString->clear();
        m_SourceEnd->clear();
        m_ChannelsString->clear();
        m_SetTrackNames->setChecked(false);
        m_SetSkipSilent->setChecked(false);
        m_AudioInfoString->clear();
        m_TimeInfoString->clear();
        m_SizeInfoString->clear();
        showStateAndNote(-1);
    } else {
        const int entry = m_EntryIndex;

        QStringList titles;
        char name[kMaxPathBytes] = {};
        for (int file = 0; file < kMaxTakeFiles; ++file) {
            if (!m_MorvexWorker.GetSourceEndName(entry, file, name))
                break;
            titles << QString::fromUtf8(name);
        }
        m_SourceEnd->clear();
        m_SourceEnd->addItems(titles);
        m_SourceEnd->setCurrentIndex(m_MorvexWorker.GetSourceEndIndex(entry));

        m_DestinationString->setText(
            QString::fromUtf8(m_MorvexWorker.GetDestinationBaseFile(entry)));
        m_SetType->setCurrentIndex(m_MorvexWorker.GetDestinationType(entry));
        m_SetFormat->setCurrentIndex(
            m_SetFormat->findData(m_MorvexWorker.GetDestinationFormat(entry)));
        char channels[kChannelListBytes] = {};
        FormatChannelList(m_MorvexWorker.GetChannelSelection(entry), channels, sizeof channels);
        m_ChannelsString->setText(QString::fromUtf8(channels));
        m_SetTrackNames->setChecked(m_MorvexWorker.GetTrackNaming(entry));
        m_SetSkipSilent->setChecked(m_MorvexWorker.GetSkipSilent(entry));

        m_AudioInfoString->setText(infoString(entry, kInfoFormat));
        m_TimeInfoString->setText(infoString(entry, kInfoTime));
        m_SizeInfoString->setText(infoString(entry, kInfoSizes));

        setEntrySettingsState(!m_ConversionRunning &&
                              m_MorvexWorker.GetEntryState(entry) != kStateDone);
        showStateAndNote(entry);
        m_RemoveFileButton->setEnabled(!m_ConversionRunning);
    }

    if (m_ConversionRunning) {
        m_AddFileButton->setEnabled(false);
    } else {
        m_AddFileButton->setEnabled(true);
        setProgress(0.0);
    }
    showStartState();
    // A change of destination, type or format can change the task's icon; have the table draw
    // its rows again.
    m_FileListTableView->viewport()->update();
}

void MorvexController::showStartState() {
    const QString reason = startHoldReason();
    m_StartButton->setEnabled(m_ConversionRunning || (m_MaxEntries > 0 && reason.isEmpty() &&
                                                      m_MorvexWorker.CanStart(m_MaxEntries)));
    m_StartHoldString->setText(reason);
    m_StartButton->setToolTip(reason.isEmpty() ? m_StartToolTip
                                               : m_StartToolTip + QLatin1Char('\n') + reason);
}

// ---- Run control ---------------------------------------------------------------------------

void MorvexController::startConversion() {
    if (!m_ConversionRunning) {
        if (m_MaxEntries < 1)
            return;
        // A channel list typed but not yet taken (Start by its key leaves the field as it was).
        channelsChanged();
        // The outputs may have come into the way since the destinations were chosen.
        checkOutputs();
        if (!startHoldReason().isEmpty()) {
            reloadData();
            setDescriptionFields();
            return;
        }
        m_OutputProblems.clear();
        m_MorvexWorker.StartConversion(m_MaxEntries);
        m_ConversionToStop = false;
        m_ConversionRunning = true;
        m_RunPacer.setRunning(true);
        setDescriptionFields();
        m_RemoveFileButton->setEnabled(false);
        m_StartButton->setText(kStopTitle);
        return;
    }
    if (m_ConversionToStop)
        return;
    const int answer =
        runAlert({QStringLiteral("Do you really want to stop conversion?"),
                  QStringLiteral("The output files of %1 will be deleted.").arg(runningTask()),
                  kOkCancel, kCancelButton});
    if (answer == kAlertFirstButton)
        m_ConversionToStop = true;
}

void MorvexController::timerAction() {
    if (m_TornDown || m_ModalDepth > 0)
        return;
    const int state = runConversionSteps();
    if (!m_ConversionRunning)
        return;
    // In the middle of a task the window is redrawn a few times a second, not after every tick:
    // drawing it costs as much as a good part of a tick's work.
    if (state == kConvConvert && !m_ConversionToStop && !m_RunPacer.viewRefreshDue())
        return;

    if (state == kConvRunOver) {
        m_ConversionRunning = false;
        m_RunPacer.setRunning(false);
        checkOutputs();
        setDescriptionFields();
        m_StartButton->setText(kStartTitle);
    } else {
        double fraction = 0.0;
        int entry = 0;
        m_MorvexWorker.GetConversionInfo(&fraction, &entry);
        setProgress(fraction);
        if (entry >= 0 && entry < m_MaxEntries)
            selectRowAlone(entry);
        if (m_ConversionToStop) {
            m_MorvexWorker.StopConversion();
            m_ConversionToStop = false;
        }
        m_RunPacer.advanceIconFrame();
    }
    reloadData();
    showStateAndNote(m_EntryIndex);
}

void MorvexController::showStateAndNote(int entry) {
    const bool isTask = entry >= 0 && entry < m_MaxEntries;
    m_StateInfoString->setText(isTask ? stateText(entry) : QString());
    QString note = noteText(entry);
    if (!m_ChannelsProblem.isEmpty() && entry == m_EntryIndex)
        note = note.isEmpty() ? m_ChannelsProblem : m_ChannelsProblem + QLatin1Char('\n') + note;
    m_NoteInfoString->setText(note);
    m_Ui->infoLayout->setRowVisible(m_NoteInfoString, !note.isEmpty());
}

// Steps the engine until the tick's budget is spent, or sooner where the window has something
// to show or do: a task is about to start (its row to select) or has ended (its icon), the run
// is over, or a stop was asked. A task's first and last steps, which create or sync all its
// outputs and are the longest, get a tick of their own. A step that waited in vain for the
// output writer (a slow device) ends the tick too: the wait was the tick's pause. At least one
// step is made.
int MorvexController::runConversionSteps() {
    m_RunPacer.startTick();
    for (;;) {
        const bool starting = m_StepAnswer == kConvStartTask;
        m_StepAnswer = m_MorvexWorker.ConversionStep();
        if (starting || m_StepAnswer != kConvConvert || !m_ConversionRunning ||
            m_ConversionToStop || m_MorvexWorker.WriterBehind() || m_RunPacer.tickBudgetSpent())
            return m_StepAnswer;
    }
}

void MorvexController::setProgress(double fraction) {
    // The engine's fraction can pass 1.0 (bytes behind a data chunk are converted too), and a
    // value outside the bar's range would be ignored rather than shown as full.
    if (!std::isfinite(fraction) || fraction < 0.0)
        fraction = 0.0;
    fraction = std::min(fraction, 1.0);
    m_ProgressIndicator->setValue(
        static_cast<int>(std::lround(fraction * m_ProgressIndicator->maximum())));
}

// ---- Window --------------------------------------------------------------------------------

bool MorvexController::windowShouldClose() {
    if (m_MorvexWorker.AllDone(m_MaxEntries))
        return true;
    const QString informative =
        m_ConversionRunning ? QStringLiteral("Conversion is still running: the output files of %1 "
                                             "will be deleted.")
                                  .arg(runningTask())
                            : QStringLiteral("Settings will be lost.");
    const int answer = runAlert({QStringLiteral("Do you really want to exit this application?"),
                                 informative, kOkCancel, m_ConversionRunning ? kCancelButton : 0});
    return answer != kAlertSecondButton;
}

// "the running task (MKZ01_01.WAV)"; before the run's first step has picked a task, without
// the name.
QString MorvexController::runningTask() const {
    double fraction = 0.0;
    int entry = -1;
    m_MorvexWorker.GetConversionInfo(&fraction, &entry);
    const QString name =
        QFileInfo(QFile::decodeName(m_MorvexWorker.GetDisplayName(entry))).fileName();
    return name.isEmpty() ? QStringLiteral("the running task")
                          : QStringLiteral("the running task (%1)").arg(name);
}

void MorvexController::windowWillClose() {
    if (m_TornDown)
        return;
    m_TornDown = true;
    m_MorvexWorker.DoClear();
    m_StateImages.clear();
    m_RunPacer.stop();
    m_LastDestination.clear();
    m_LastSource.clear();
}

bool MorvexController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_MainWindow.get() && event->type() == QEvent::Close && !m_TornDown) {
        if (!windowShouldClose()) {
            event->ignore();
            return true;
        }
        windowWillClose();
        return false;
    }
    if (watched == m_MainWindow.get() && event->type() == QEvent::Resize)
        keepMinimumSize();
    if (watched == m_TableViewport && event->type() == QEvent::MouseButtonDblClick) {
        doubleClick();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

// The window's minimum is only a hint to the window system: without a window manager, or with
// one that ignores it, the window can be made smaller, and the task panel would collapse. It
// grows back, to the minimum and to what the layout needs now (a note of several lines, say).
void MorvexController::keepMinimumSize() {
    const QSize least = m_MainWindow->minimumSize().expandedTo(m_MainWindow->minimumSizeHint());
    if (m_MainWindow->width() >= least.width() && m_MainWindow->height() >= least.height())
        return;
    // Once the resize under way is over.
    QTimer::singleShot(0, this, [this] {
        if (!m_TornDown)
            m_MainWindow->resize(m_MainWindow->size().expandedTo(
                m_MainWindow->minimumSize().expandedTo(m_MainWindow->minimumSizeHint())));
    });
}

// ---- Helpers -------------------------------------------------------------------------------

void MorvexController::selectRowAlone(int row) {
    QItemSelectionModel* selection = m_FileListTableView->selectionModel();
    if (row < 0 || row >= m_TableModel->rowCount()) {
        selection->clearSelection();
        return;
    }
    selection->setCurrentIndex(
        m_TableModel->index(row, TaskTableModel::sectionOf(TaskColumn::Name)),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void MorvexController::reloadData() {
    m_TableModel->reloadData();
}

PanelAnswer MorvexController::runOpenPanel(const OpenPanelOptions& options) {
    ModalScope modal(*this);
    return m_Services.runOpenPanel(m_MainWindow.get(), options);
}

PanelAnswer MorvexController::runSavePanel(const SavePanelOptions& options) {
    ModalScope modal(*this);
    return m_Services.runSavePanel(m_MainWindow.get(), options);
}

int MorvexController::runAlert(const AlertOptions& options) {
    ModalScope modal(*this);
    return m_Services.runAlert(m_MainWindow.get(), options);
}
