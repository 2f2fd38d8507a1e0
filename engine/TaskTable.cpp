// The task table: settings of each task, the state it shows, its removal, and the clean-up of
// whatever a conversion holds.
#include "ChannelList.h"
#include "MorvexWorker.h"
#include "OutputPlan.h"
#include "OutputWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <strings.h>

using namespace morvex;

namespace {

constexpr const char* kErrorMessages[] = {
    "",
    "Input file can not be read.",
    "No System Memory available.",
    "Following input file does not match start file format.",
    "Output file can not be written.",
    "Output file can not be created.",
    "Maximum number of tasks reached.",
    "Can not open selected input file.",
    "Selected input file is too small.",
    "Selected input file has incompatible WAV format.",
    "Output file name is already in use.",
};
constexpr int kLastErrorCode = kErrorNameInUse;

constexpr const char kWavExtension[] = ".wav";
constexpr size_t kWavExtensionLength = sizeof kWavExtension - 1;

void CutWavExtension(char* path) {
    const size_t length = std::strlen(path);
    if (length >= kWavExtensionLength &&
        strcasecmp(path + length - kWavExtensionLength, kWavExtension) == 0) {
        path[length - kWavExtensionLength] = '\0';
    }
}

bool ClampCount(int& count) {
    if (count < 0) {
        count = 0;
    }
    if (count > kMaxEntries) {
        count = kMaxEntries;
    }
    return count > 0;
}

} // namespace

CMorvexWorker::CMorvexWorker()
    : m_EntryCount(0), m_ConversionState(kConvIdle), m_CurrentEntry(0), m_CurrentSourceSubFile(0),
      m_DestBuffSize(0), m_SourceFileRef(0), m_SendFileRefs{}, m_DestFileNames{},
      m_pSourceBuffer(nullptr), m_pDestinationBuffers{}, m_SourceDataCount(0), m_SourceDataPoint(0),
      m_SourceChannels(0), m_DestDataPoint(0), m_ChannelPoint(0), m_SampleOffset(0),
      m_DestTotalBytes(0),
      m_SourceBytesLeft(0), m_SourcePath{}, m_AddFailureDetail{}, m_DestLeftOver{},
      m_Writer(new COutputWriter) {
    std::memset(m_Entries, 0, sizeof m_Entries);
}

CMorvexWorker::~CMorvexWorker() {
    DoClear();
    delete m_Writer; // ends its thread
    for (SplitEntryInfo& entry : m_Entries) {
        std::free(entry.GivenFilePaths);
    }
}

const char* CMorvexWorker::GetDisplayName(int index) const {
    return IsEntryIndex(index) ? m_Entries[index].SourceFilePath : "";
}

const char* CMorvexWorker::GetDestinationBaseFile(int index) const {
    return IsEntryIndex(index) ? m_Entries[index].DestinationBaseFilePath : "";
}

int CMorvexWorker::SetDestinationBaseFile(int index, const char* path, int count) {
    if (!IsEntryIndex(index) || path == nullptr || std::strlen(path) >= kMaxPathBytes) {
        return 0; // a path that does not fit is refused whole, never cut
    }
    SplitEntryInfo& entry = m_Entries[index];
    std::strcpy(entry.DestinationBaseFilePath, path);
    CutWavExtension(entry.DestinationBaseFilePath);
    entry.ErrorState = kErrorNone;
    entry.fConversionDone = false;
    ClampCount(count);
    if (SharesBase(index, count)) {
        entry.ErrorState = kErrorNameInUse;
    }
    // The old name may have been the other half of another task's clash.
    RecheckNameClashes(count);
    return 1;
}

// Outputs are named base + "_NN" + the format's extension, NN at least two digits, so two tasks
// write a file of the same name exactly when base and format are the same: one base for a WAV
// and a CAF task is no clash.
bool CMorvexWorker::WriteSameFiles(int index, int other) const {
    const SplitEntryInfo& a = m_Entries[index];
    const SplitEntryInfo& b = m_Entries[other];
    return a.Format == b.Format &&
           std::strcmp(a.DestinationBaseFilePath, b.DestinationBaseFilePath) == 0;
}

bool CMorvexWorker::SharesBase(int index, int count) const {
    if (m_Entries[index].DestinationBaseFilePath[0] == '\0') {
        return false; // no destination yet: nothing to clash with
    }
    for (int j = 0; j < count; ++j) {
        if (j != index && WriteSameFiles(index, j)) {
            return true;
        }
    }
    return false;
}

CMorvexWorker::NameGroup CMorvexWorker::GroupOf(int index, int count) const {
    NameGroup group;
    for (int j = 0; j < count; ++j) {
        const SplitEntryInfo& other = m_Entries[j];
        if (j == index || !WriteSameFiles(index, j)) {
            continue;
        }
        group.Earlier = group.Earlier || j < index;
        group.Marked = group.Marked || other.ErrorState == kErrorNameInUse;
        group.Converted = group.Converted || other.fConversionDone;
    }
    return group;
}

void CMorvexWorker::RecheckNameClashes(int count) {
    ClampCount(count);
    for (int i = 0; i < count; ++i) {
        if (m_Entries[i].ErrorState == kErrorNameInUse && !SharesBase(i, count)) {
            m_Entries[i].ErrorState = kErrorNone;
        }
    }
    // A clash that no task shows would only fail at the outputs' creation. It is marked on the
    // tasks still to convert after the first of its name, as setting their destinations would
    // have, and on the first too when a task of that name is converted already (its outputs are
    // there). Decided for all before any is marked, so that one mark does not hide the rest.
    bool mark[kMaxEntries] = {};
    for (int i = 0; i < count; ++i) {
        const SplitEntryInfo& entry = m_Entries[i];
        if (entry.ErrorState != kErrorNone || entry.fConversionDone || !SharesBase(i, count)) {
            continue;
        }
        const NameGroup group = GroupOf(i, count);
        mark[i] = !group.Marked && (group.Earlier || group.Converted);
    }
    for (int i = 0; i < count; ++i) {
        if (mark[i]) {
            m_Entries[i].ErrorState = kErrorNameInUse;
        }
    }
}

void CMorvexWorker::SetDestinationType(int index, int type) {
    if (IsEntryIndex(index)) {
        m_Entries[index].Type = type;
    }
}

int CMorvexWorker::GetDestinationType(int index) const {
    return IsEntryIndex(index) ? m_Entries[index].Type : 0;
}

void CMorvexWorker::SetDestinationFormat(int index, int format, int count) {
    if (!IsEntryIndex(index)) {
        return;
    }
    SplitEntryInfo& entry = m_Entries[index];
    entry.Format = format;
    if (!ClampCount(count)) {
        return;
    }
    // The outputs' names changed: the task may now clash, as if its destination were set, or
    // no longer clash, nor another that clashed with it.
    if (entry.ErrorState == kErrorNone && SharesBase(index, count)) {
        entry.ErrorState = kErrorNameInUse;
    }
    RecheckNameClashes(count);
}

int CMorvexWorker::GetDestinationFormat(int index) const {
    return IsEntryIndex(index) ? m_Entries[index].Format : 0;
}

bool CMorvexWorker::SetChannelSelection(int index, uint64_t channels) {
    if (!IsEntryIndex(index)) {
        return false;
    }
    SplitEntryInfo& entry = m_Entries[index];
    if (channels != EffectiveChannels(channels, entry.ChannelNumb) && channels != 0) {
        return false;
    }
    entry.ChannelSelection = channels;
    return true;
}

uint64_t CMorvexWorker::GetChannelSelection(int index) const {
    return IsEntryIndex(index) ? m_Entries[index].ChannelSelection : 0;
}

void CMorvexWorker::SetTrackNaming(int index, bool on) {
    if (IsEntryIndex(index)) {
        m_Entries[index].fTrackNames = on;
    }
}

bool CMorvexWorker::GetTrackNaming(int index) const {
    return IsEntryIndex(index) && m_Entries[index].fTrackNames;
}

void CMorvexWorker::SetSkipSilent(int index, bool on) {
    if (IsEntryIndex(index)) {
        m_Entries[index].fSkipSilent = on;
    }
}

bool CMorvexWorker::GetSkipSilent(int index) const {
    return IsEntryIndex(index) && m_Entries[index].fSkipSilent;
}

bool CMorvexWorker::RunUnderway() const {
    return m_ConversionState != kConvIdle && m_ConversionState != kConvRunOver;
}

static bool CannotPair(const SplitEntryInfo& entry) {
    return PlanOutputs(entry).CannotPair;
}

int CMorvexWorker::GetEntryState(int index) const {
    if (!IsEntryIndex(index)) {
        return kStateReady;
    }
    const SplitEntryInfo& entry = m_Entries[index];
    if (entry.ErrorState != kErrorNone) {
        return kStateFailed;
    }
    if (entry.fConversionDone) {
        return kStateDone;
    }
    if (RunUnderway()) {
        return index == m_CurrentEntry ? kStateConverting : kStateReady;
    }
    if (entry.DestinationBaseFilePath[0] == '\0') {
        return kStateNoDestination;
    }
    if (CannotPair(entry)) {
        return kStateCannotPair;
    }
    return kStateReady;
}

bool CMorvexWorker::CanStart(int count) const {
    ClampCount(count);
    bool anyToDo = false;
    for (int i = 0; i < count; ++i) {
        const SplitEntryInfo& entry = m_Entries[i];
        if (entry.fConversionDone) {
            continue;
        }
        if (entry.DestinationBaseFilePath[0] == '\0' || CannotPair(entry) ||
            entry.ErrorState == kErrorNameInUse) {
            return false;
        }
        anyToDo = true;
    }
    return anyToDo;
}

bool CMorvexWorker::GetOutputFileName(int index, int n, char* path) const {
    if (!IsEntryIndex(index) || path == nullptr) {
        return false;
    }
    const SplitEntryInfo& entry = m_Entries[index];
    return entry.DestinationBaseFilePath[0] != '\0' &&
           PlanOutputs(entry).OutputName(entry.DestinationBaseFilePath, n, path);
}

bool CMorvexWorker::AllDone(int count) const {
    ClampCount(count);
    for (int i = 0; i < count; ++i) {
        if (!m_Entries[i].fConversionDone) {
            return false;
        }
    }
    return true;
}

void CMorvexWorker::GetErrorString(int code, char* text) const {
    if (text == nullptr || code < kErrorInputRead || code > kLastErrorCode) {
        return;
    }
    std::strcpy(text, kErrorMessages[code]);
}

void CMorvexWorker::DoClear() {
    DiscardOutputs();
    std::free(m_pSourceBuffer);
    m_pSourceBuffer = nullptr;
    std::free(m_pHeaderBlock);
    m_pHeaderBlock = nullptr;
    if (m_SourceFileRef != 0) {
        m_FileHandler.Close(m_SourceFileRef);
        m_SourceFileRef = 0;
    }
}

int CMorvexWorker::DeleteEntry(int index) {
    if (!IsEntryIndex(index)) {
        return 0;
    }
    // The later records move down with their tables of given files; the last slot is left empty.
    std::free(m_Entries[index].GivenFilePaths);
    for (int i = index; i + 1 < kMaxEntries; ++i) {
        m_Entries[i] = m_Entries[i + 1];
    }
    std::memset(&m_Entries[kMaxEntries - 1], 0, sizeof(SplitEntryInfo));
    return 1;
}

namespace {

bool CopyNote(const char* note, char* text) {
    if (text == nullptr) {
        return false;
    }
    std::snprintf(text, kNoteTextBytes, "%s", note);
    return text[0] != '\0';
}

} // namespace

bool CMorvexWorker::GetTakeWarning(int index, char* text) const {
    return CopyNote(IsEntryIndex(index) ? m_Entries[index].TakeWarning : "", text);
}

bool CMorvexWorker::GetFailureDetail(int index, char* text) const {
    const bool failed = IsEntryIndex(index) && m_Entries[index].ErrorState != kErrorNone;
    return CopyNote(failed ? m_Entries[index].FailureDetail : "", text);
}

bool CMorvexWorker::GetAddFailureDetail(char* text) const {
    return CopyNote(m_AddFailureDetail, text);
}

int CMorvexWorker::GetLeftOverCount() const {
    return static_cast<int>(std::count(std::begin(m_DestLeftOver), std::end(m_DestLeftOver), true));
}

const char* CMorvexWorker::GetLeftOverOutput(int n) const {
    for (int i = 0; i < kMaxChannels; ++i) {
        if (m_DestLeftOver[i] && n-- == 0) {
            return m_DestFileNames[i];
        }
    }
    return "";
}
