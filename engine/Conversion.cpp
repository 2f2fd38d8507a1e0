// The conversion state machine: one bounded step per call, so the caller's loop stays
// responsive. A failure ends only its task; its outputs are deleted and the run goes on.
#include "Deinterleave.h"
#include "MorvexWorker.h"
#include "NoteText.h"
#include "OutputFormat.h"
#include "OutputHeaders.h"
#include "OutputPlan.h"
#include "OutputWriter.h"
#include "SampleFormat.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

using namespace morvex;

static_assert(kMaxChannels <= COutputWriter::kMaxSlots, "the writer holds a slot per channel");

namespace {

constexpr int kDestBufferGranule = 512;
// Output buffers share the source block's size between them, down to this each: a take of many
// channels keeps both sets of buffers near the source block's size (memory stays under 24 MiB).
constexpr int kMinDestBufferBytes = 65536;
constexpr uint8_t kSignBit = 0x80;
// How long a step waits for the writer's thread before it answers and is called again with the
// work where it stopped: the caller's loop is never held longer, and one that calls at once does
// not spin (the wait ends as soon as the writer is done). On a fast device the writer is done by
// then, and the caller sees the steps it always saw.
constexpr int kWriterWaitMs = 10;

int DestBufferBytes(int channels, int channelsPerFile) {
    const int bytes = static_cast<int>(kSourceBufferBytes) / channels * channelsPerFile;
    return std::max(bytes / kDestBufferGranule * kDestBufferGranule, kMinDestBufferBytes);
}

} // namespace

void CMorvexWorker::StartConversion(int count) {
    if (RunUnderway()) {
        return;
    }
    m_EntryCount = std::clamp(count, 0, kMaxEntries);
    m_DestTotalBytes = 0;
    m_CurrentEntry = -1;
    m_ConversionState = kConvNextTask;
}

int CMorvexWorker::ConversionStep() {
    m_WriterBehind = false;
    switch (m_ConversionState) {
    case kConvStartTask:
        return StepStartTask();
    case kConvConvert:
        return StepConvert();
    case kConvFinishTask:
        return StepFinishTask();
    case kConvNextTask:
        return StepNextTask();
    default:
        return m_ConversionState;
    }
}

void CMorvexWorker::StopConversion() {
    DoClear();
    m_ConversionState = kConvRunOver;
}

int CMorvexWorker::GetConversionInfo(double* fraction, int* entry) const {
    double done = 0.0;
    int error = kErrorNone;
    if (IsEntryIndex(m_CurrentEntry)) {
        const SplitEntryInfo& task = m_Entries[m_CurrentEntry];
        // A task converting some of the channels counts only their bytes; the plan is the task's
        // once it has started.
        const double total = m_ConversionState != kConvStartTask && m_Plan.Selective
                                 ? static_cast<double>(m_Plan.ConvertedBytes)
                                 : static_cast<double>(task.BytesTotal);
        if (total > 0) {
            done = static_cast<double>(m_DestTotalBytes) / total;
        }
        error = task.ErrorState;
    }
    if (fraction != nullptr) {
        *fraction = done;
    }
    if (entry != nullptr) {
        *entry = m_CurrentEntry;
    }
    return error;
}

int CMorvexWorker::FailTask(int code) {
    DoClear();
    m_Entries[m_CurrentEntry].ErrorState = code;
    m_ConversionState = kConvNextTask;
    return m_ConversionState;
}

// The reason is written before the clean-up, which may change errno.
int CMorvexWorker::FailTaskOnSystemError(int code, const char* path) {
    RecordDetail(path, CTzFileHandler::ErrorText(errno));
    return FailTask(code);
}

// What every output's header says: the take's samples, kept exactly, integer or float.
HeaderValues CMorvexWorker::OutputHeaderValues(uint64_t dataBytes) const {
    HeaderValues values = m_Plan.Header;
    values.DataBytes = dataBytes;
    return values;
}
int CMorvexWorker::StepNextTask() {
    ++m_CurrentEntry;
    while (m_CurrentEntry < m_EntryCount && m_Entries[m_CurrentEntry].fConversionDone) {
        ++m_CurrentEntry;
    }
    m_ConversionState = m_CurrentEntry < m_EntryCount ? kConvStartTask : kConvRunOver;
    return m_ConversionState;
}

int CMorvexWorker::StepStartTask() {
    SplitEntryInfo& entry = m_Entries[m_CurrentEntry];
    entry.ErrorState = kErrorNone;
    entry.FailureDetail[0] = '\0';
    entry.SkippedChannels = 0;
    // Refused before anything is opened or created: no destination, unpairable channels, an
    // unknown format, or a base path that leaves no room for the output suffix.
    const OutputPlan asSet = PlanOutputs(entry);
    if (entry.DestinationBaseFilePath[0] == '\0' || asSet.CannotPair || !asSet.KnownFormat ||
        !asSet.NamesFit(entry.DestinationBaseFilePath)) {
        entry.ErrorState = kErrorOutputCreate;
        m_ConversionState = kConvNextTask;
        return m_ConversionState;
    }
    m_SourceFileRef = m_FileHandler.Open(entry.SourceFilePath, CTzFileHandler::kModeRead);
    if (m_SourceFileRef == 0) {
        return FailTaskOnSystemError(kErrorInputRead, entry.SourceFilePath);
    }
    m_pSourceBuffer = AllocateBlock(kSourceBufferBytes);
    if (m_pSourceBuffer == nullptr) {
        return FailTask(kErrorNoMemory);
    }
    const int code = OpenTakeFileData(0, kErrorInputRead);
    if (code != kErrorNone) {
        return FailTask(code);
    }
    m_Plan = PlanOutputs(entry); // as the start file is now: it may have changed since it was added
    if (m_Plan.CannotPair) {
        return FailTask(kErrorOutputCreate);
    }
    // From here on the take is one of the selected channels alone (see PrepareSourceBlock).
    m_SourceChannels = m_Plan.SelectedCount;
    m_DestBuffSize = DestBufferBytes(m_SourceChannels, m_Plan.ChannelsPerOutput);
    if (!CreateOutputs()) {
        return FailTask(kErrorOutputCreate);
    }
    if (!m_Writer->Prepare(m_SourceChannels, m_Plan.ChannelsPerOutput, m_DestBuffSize,
                           m_pDestinationBuffers)) {
        return FailTask(kErrorNoMemory);
    }
    m_ChannelPoint = 0;
    m_SampleOffset = 0;
    m_ChannelRuns = RunsOfChannels(m_Plan.Channels, m_Plan.SelectedCount, entry.ChannelNumb,
                                   m_Plan.BytesPerSample);
    m_SourceFramePhase = 0;
    PrepareSilenceCheck();
    m_DestTotalBytes = 0;
    m_CurrentSourceSubFile = 0;
    PrepareHeaderSpace();
    PrepareSourceBlock();
    m_ConversionState = kConvConvert;
    return m_ConversionState;
}

bool CMorvexWorker::CreateOutputs() {
    const SplitEntryInfo& entry = m_Entries[m_CurrentEntry];
    std::fill(std::begin(m_DestLeftOver), std::end(m_DestLeftOver), false);
    std::fill(std::begin(m_OutputSkipped), std::end(m_OutputSkipped), false);
    bool allCreated = true;
    for (int n = 0; n < m_Plan.OutputCount; ++n) {
        const int i = m_Plan.FirstChannel(n); // outputs take the slot of their first channel
        // Composed in a local buffer: g++ -O2 with the sanitizers takes the base path and the
        // destination, both members of this worker, for overlapping (-Wrestrict).
        char name[kMaxPathBytes];
        if (!m_Plan.OutputName(entry.DestinationBaseFilePath, n, name)) {
            allCreated = false; // never reached: the base path's room was checked at the start
            continue;
        }
        std::memcpy(m_DestFileNames[i], name, std::strlen(name) + 1);
        m_SendFileRefs[i] = m_FileHandler.Create(m_DestFileNames[i]);
        if (m_SendFileRefs[i] == 0 && allCreated) {
            RecordDetail(m_DestFileNames[i], std::strerror(errno));
        }
        if (m_SendFileRefs[i] == 0) {
            allCreated = false;
        }
    }
    return allCreated;
}

// Each output's first buffer begins with the room for its header. It carries a provisional
// header whose sizes say "unknown", so an output left by a killed run is read as the audio it
// holds; the final header replaces it once the size is known.
void CMorvexWorker::PrepareHeaderSpace() {
    m_DestDataPoint = m_Plan.HeaderBytes;
    const HeaderValues values = OutputHeaderValues(0);
    uint8_t header[kMaxHeaderBytes];
    Describe(m_Plan.Format).BuildProvisionalHeader(values, header);
    for (const int i : KeptOutputSlots()) {
        std::memcpy(m_pDestinationBuffers[i], header, static_cast<size_t>(m_DestDataPoint));
    }
}

// Done on the source block, once, before it is de-interleaved: a task converting some of the
// channels keeps only their samples, and 8-bit WAV samples (unsigned) become signed, where the
// output wants them so, by flipping their top bit.
void CMorvexWorker::PrepareSourceBlock() {
    if (m_Plan.Selective) {
        m_SourceDataCount = KeepSelectedChannels(m_ChannelRuns, m_pSourceBuffer, m_SourceDataPoint,
                                                 m_SourceDataCount, m_SourceFramePhase);
    }
    if (!Describe(m_Plan.Format).SignedBytes || m_Plan.BytesPerSample != 1) {
        return;
    }
    for (uint32_t i = m_SourceDataPoint; i < m_SourceDataCount; ++i) {
        m_pSourceBuffer[i] ^= kSignBit;
    }
}

// The full buffers go to the writer and de-interleaving goes on into its empty ones. A write
// that fell short shows here, at the flush after it, or at the finish. While the writer is still
// busy with the set before, the buffers stay full and the step ends (see WriterBehind).
bool CMorvexWorker::FlushOutputs() {
    if (!CollectWrites()) {
        return false;
    }
    NoteSound();
    m_Writer->Hand(m_SendFileRefs, m_pDestinationBuffers, static_cast<uint32_t>(m_DestDataPoint));
    return true;
}

// Outputs of one file for every channel hold the take itself and are never deleted.
void CMorvexWorker::PrepareSilenceCheck() {
    const SplitEntryInfo& entry = m_Entries[m_CurrentEntry];
    m_CheckSilence = entry.fSkipSilent && entry.Type != kTypeAll;
    m_Silence =
        SilenceOf(m_Plan.BytesPerSample, m_Plan.Header.Float, !Describe(m_Plan.Format).SignedBytes);
    m_FirstBuffers = true;
    std::fill(std::begin(m_OutputSounds), std::end(m_OutputSounds), false);
}

// Each buffer is looked at as it goes to the writer, until its output has had sound; the first
// buffers begin with the header, which is no sample.
void CMorvexWorker::NoteSound() {
    const int from = m_FirstBuffers ? m_Plan.HeaderBytes : 0;
    m_FirstBuffers = false;
    if (!m_CheckSilence || m_DestDataPoint <= from) {
        return;
    }
    for (int n = 0; n < m_Plan.OutputCount; ++n) {
        const int slot = m_Plan.FirstChannel(n);
        m_OutputSounds[slot] =
            m_OutputSounds[slot] || !HoldsOnlySilence(m_Silence, m_pDestinationBuffers[slot] + from,
                                                      static_cast<size_t>(m_DestDataPoint - from));
    }
}

// Silent outputs go once every write is done and before the final headers; the syncs and the
// checks after see only the outputs kept. One that is no longer ours, or that cannot be deleted,
// is kept as written.
void CMorvexWorker::DeleteSilentOutputs() {
    SplitEntryInfo& entry = m_Entries[m_CurrentEntry];
    for (int n = 0; m_CheckSilence && n < m_Plan.OutputCount; ++n) {
        const int slot = m_Plan.FirstChannel(n);
        if (m_OutputSounds[slot] || m_OutputSkipped[slot] ||
            m_FileHandler.IsFileAt(m_SendFileRefs[slot], m_DestFileNames[slot]) == 0 ||
            m_FileHandler.Delete(m_DestFileNames[slot]) == 0) {
            continue;
        }
        m_FileHandler.Close(m_SendFileRefs[slot]);
        m_SendFileRefs[slot] = 0;
        m_pDestinationBuffers[slot] = nullptr; // the writer's: freed by its Release
        m_OutputSkipped[slot] = true;
        for (int k = 0; k < m_Plan.ChannelsPerOutput; ++k) {
            entry.SkippedChannels |= uint64_t{1} << m_Plan.SourceChannel(n, k);
        }
    }
}

CMorvexWorker::OutputSlots CMorvexWorker::KeptOutputSlots() const {
    OutputSlots slots;
    for (int n = 0; n < m_Plan.OutputCount; ++n) {
        const int slot = m_Plan.FirstChannel(n);
        if (!m_OutputSkipped[slot]) {
            slots.Slot[slots.Count++] = slot;
        }
    }
    return slots;
}

// Whether the writer is done with the batch in hand, after waiting for it a little. False when it
// is still behind (noted for the step), or when a write of its fell short: that fails the task
// with the output's name and the reason the writer's thread was given.
bool CMorvexWorker::CollectWrites() {
    COutputWriter::Outcome outcome;
    if (!m_Writer->WaitFor(kWriterWaitMs, outcome)) {
        m_WriterBehind = true;
        return false;
    }
    if (!outcome.Failed) {
        return true;
    }
    errno = outcome.Errno;
    FailTaskOnSystemError(kErrorOutputWrite, m_DestFileNames[outcome.Slot]);
    return false;
}

void CMorvexWorker::Deinterleave() {
    const DeinterleaveLayout layout{m_SourceChannels, m_Plan.BytesPerSample,
                                    m_Plan.ChannelsPerOutput, m_DestBuffSize,
                                    m_pDestinationBuffers};
    DeinterleaveCursor cursor{m_SourceDataPoint, m_ChannelPoint, m_SampleOffset, m_DestDataPoint,
                              m_DestTotalBytes};
    const auto flush = [](void* context, int fillBytes) {
        auto* self = static_cast<CMorvexWorker*>(context);
        self->m_DestDataPoint = fillBytes;
        return self->FlushOutputs();
    };
    DeinterleaveBlock(layout, cursor, m_pSourceBuffer, m_SourceDataCount, flush, this);
    m_SourceDataPoint = cursor.SourceDataPoint;
    m_ChannelPoint = cursor.ChannelPoint;
    m_SampleOffset = cursor.SampleOffset;
    m_DestDataPoint = cursor.DestDataPoint;
    m_DestTotalBytes = cursor.DestTotalBytes;
}

// Reads a file's first block and finds its audio. The file must give the audio found when the
// task was added: `DataSize` is its amount (less the bytes of a frame begun in earlier files,
// for the start file), and the header is analysed anew against the take's format.
int CMorvexWorker::OpenTakeFileData(int fileIndex, int headerError) {
    SplitEntryInfo& entry = m_Entries[m_CurrentEntry];
    char* const path = m_SourcePath;
    std::memcpy(path, entry.SourceFilePath, kMaxPathBytes);
    if (fileIndex > 0) {
        m_SourceFileRef = OpenTakeFile(entry, entry.StartSubNumb + fileIndex, path);
        if (m_SourceFileRef == 0) {
            return RecordSystemError(path);
        }
    }
    const uint32_t got = m_FileHandler.Read(m_SourceFileRef, m_pSourceBuffer, kSourceBufferBytes);
    char reason[kNoteTextBytes];
    TakeFile file;
    const FileCheck check = AnalyseTakeFile(m_SourceFileRef, m_pSourceBuffer, got,
                                            fileIndex == 0 ? nullptr : &entry, file, reason);
    if (check != FileCheck::Ok) {
        RecordDetail(path, reason);
        return check == FileCheck::Unreadable ? kErrorInputRead : headerError;
    }
    const uint32_t skip = fileIndex == 0 ? entry.FrameSkipBytes : 0;
    if (file.Extent != entry.DataSize[fileIndex] + skip) {
        RecordDetail(path, "its audio has changed since the task was added");
        return kErrorInputRead;
    }
    if (fileIndex == 0) {
        StoreFormat(entry, file.Fmt, file.FmtBytes);
    }
    return TakeFirstBlock(got, file.DataOffset + skip, entry.DataSize[fileIndex]);
}

// The part of the first block that is audio; the rest of the file's audio is read later. Audio
// that starts beyond the first block (behind a large chunk) is read from where it starts.
int CMorvexWorker::TakeFirstBlock(uint32_t got, uint64_t dataOffset, uint64_t extent) {
    if (dataOffset >= got) {
        if (m_FileHandler.Seek(m_SourceFileRef, dataOffset) == 0) {
            return RecordSystemError(m_SourcePath);
        }
        m_SourceDataPoint = 0;
        m_SourceDataCount = 0;
        m_SourceBytesLeft = extent;
        return kErrorNone;
    }
    m_SourceDataPoint = static_cast<uint32_t>(dataOffset);
    const uint32_t inBlock = got - m_SourceDataPoint;
    if (got < kSourceBufferBytes && inBlock < extent) {
        RecordDetail(m_SourcePath, "it ends before the end of its audio");
        return kErrorInputRead;
    }
    const auto taken = static_cast<uint32_t>(std::min<uint64_t>(inBlock, extent));
    m_SourceDataCount = m_SourceDataPoint + taken;
    m_SourceBytesLeft = extent - taken;
    return kErrorNone;
}

void CMorvexWorker::RecordDetail(const char* path, const char* reason) {
    JoinNote(m_Entries[m_CurrentEntry].FailureDetail, kNoteTextBytes, {path, ": ", reason});
}

int CMorvexWorker::RecordSystemError(const char* path) {
    RecordDetail(path, CTzFileHandler::ErrorText(errno));
    return kErrorInputRead;
}

// The next block of the current file's audio. Fewer bytes than its audio still holds, or a
// failing read, fail the task: never taken for the end of the file.
int CMorvexWorker::ReadNextBlock() {
    const auto want =
        static_cast<uint32_t>(std::min<uint64_t>(m_SourceBytesLeft, kSourceBufferBytes));
    const uint32_t got = m_FileHandler.Read(m_SourceFileRef, m_pSourceBuffer, want);
    if (got == CTzFileHandler::kReadFailed) {
        return RecordSystemError(m_SourcePath);
    }
    if (got != want) {
        RecordDetail(m_SourcePath, "it ends before the end of its audio");
        return kErrorInputRead;
    }
    m_SourceDataPoint = 0;
    m_SourceDataCount = got;
    m_SourceBytesLeft -= got;
    return kErrorNone;
}

int CMorvexWorker::StepConvert() {
    Deinterleave();
    // Stopped at a full set while the writer is behind: the block is taken up there next time.
    if (m_Entries[m_CurrentEntry].ErrorState != kErrorNone || m_WriterBehind) {
        return m_ConversionState;
    }
    if (m_SourceBytesLeft > 0) {
        const int code = ReadNextBlock();
        if (code != kErrorNone) {
            return FailTask(code);
        }
        PrepareSourceBlock();
        return m_ConversionState;
    }
    m_FileHandler.Close(m_SourceFileRef);
    m_SourceFileRef = 0;
    ++m_CurrentSourceSubFile;
    if (m_CurrentSourceSubFile > m_Entries[m_CurrentEntry].SourceEndIndex) {
        m_ConversionState = kConvFinishTask;
        return m_ConversionState;
    }
    const int code = OpenTakeFileData(m_CurrentSourceSubFile, kErrorFollowerFormat);
    if (code != kErrorNone) {
        return FailTask(code);
    }
    PrepareSourceBlock();
    return m_ConversionState;
}

bool CMorvexWorker::WriteFinalHeaders() {
    const uint64_t dataBytes =
        m_DestTotalBytes / static_cast<uint64_t>(m_SourceChannels) * m_Plan.ChannelsPerOutput;
    const HeaderValues values = OutputHeaderValues(dataBytes);
    uint8_t header[kMaxHeaderBytes];
    Describe(m_Plan.Format).BuildHeader(values, header);
    const auto headerBytes = static_cast<uint32_t>(m_Plan.HeaderBytes);
    for (const int i : KeptOutputSlots()) {
        if (m_FileHandler.Seek(m_SendFileRefs[i], 0) == 0 ||
            m_FileHandler.Write(m_SendFileRefs[i], header, headerBytes) != headerBytes) {
            RecordDetail(m_DestFileNames[i], std::strerror(errno));
            return false;
        }
    }
    return true;
}

// Done means durable and present: every output's data and header on the device, the folder's
// entries too, and every output name still naming the file that was written (a folder removed
// or a name replaced during the run would otherwise be reported as written).
// The syncs run on the writer's thread: a device that takes its time over them must not hold the
// caller, so a finishing step answers 4 again until they are done, waiting a little each time.
bool CMorvexWorker::SyncOutputs(bool& failed) {
    failed = false;
    COutputWriter::Outcome outcome;
    if (!m_Writer->WaitFor(kWriterWaitMs, outcome)) {
        m_WriterBehind = true;
        return false;
    }
    m_OutputsSyncing = false;
    if (outcome.Failed) {
        errno = outcome.Errno;
        const int slot = outcome.Slot == COutputWriter::kFolderSlot ? 0 : outcome.Slot;
        RecordDetail(m_DestFileNames[slot], std::strerror(errno));
        failed = true;
        return true;
    }
    failed = !OutputsInPlace();
    return true;
}

bool CMorvexWorker::OutputsInPlace() {
    for (const int i : KeptOutputSlots()) {
        if (m_FileHandler.IsFileAt(m_SendFileRefs[i], m_DestFileNames[i]) == 0) {
            RecordDetail(m_DestFileNames[i], "the file written is no longer there");
            return false;
        }
    }
    return true;
}

// The last data and the headers, then the syncs handed to the writer. Outputs keep the take's
// time, so that folders sort by recording time. False when the task failed, or when the writer
// is behind: the finishing step then answers 4 again and goes on from here.
bool CMorvexWorker::CompleteOutputs() {
    if (m_DestDataPoint != 0) {
        if (!FlushOutputs()) {
            return false;
        }
        m_DestDataPoint = 0;
    }
    // The headers are rewritten through the same descriptors: every write must be done first.
    if (!CollectWrites()) {
        return false;
    }
    DeleteSilentOutputs();
    // Checked before the syncs as well, whose failure in a folder that has gone would say less.
    if (!WriteFinalHeaders() || !OutputsInPlace()) {
        FailTask(kErrorOutputWrite);
        return false;
    }
    for (const int i : KeptOutputSlots()) {
        m_FileHandler.CopyModificationTime(m_SendFileRefs[i],
                                           m_Entries[m_CurrentEntry].SourceFilePath);
    }
    m_Writer->HandSync(m_SendFileRefs, m_DestFileNames[0]); // all outputs share one folder
    m_OutputsSyncing = true;
    return true;
}

int CMorvexWorker::StepFinishTask() {
    // A task counts as done only when every output has its final header, is durable and is
    // closed: anything less fails the task rather than leave a broken file.
    if (!m_OutputsSyncing && !CompleteOutputs()) {
        return m_ConversionState;
    }
    bool failed = false;
    if (!SyncOutputs(failed)) {
        return m_ConversionState;
    }
    if (failed) {
        return FailTask(kErrorOutputWrite);
    }
    bool allClosed = true;
    for (const int i : KeptOutputSlots()) {
        if (m_FileHandler.Close(m_SendFileRefs[i]) == 0 && allClosed) {
            RecordDetail(m_DestFileNames[i], std::strerror(errno));
            allClosed = false;
        }
        m_SendFileRefs[i] = 0;
        m_pDestinationBuffers[i] = nullptr; // the writer's: freed by its Release
    }
    m_Writer->Release();
    if (!allClosed) {
        for (const int i : KeptOutputSlots()) {
            m_FileHandler.Delete(m_DestFileNames[i]);
        }
        return FailTask(kErrorOutputWrite);
    }
    std::free(m_pSourceBuffer);
    m_pSourceBuffer = nullptr;
    m_Entries[m_CurrentEntry].fConversionDone = true;
    m_ConversionState = kConvNextTask;
    return m_ConversionState;
}

bool CMorvexWorker::WriterBehind() const {
    return m_WriterBehind;
}

// The running task's outputs go at once, whatever the writer is doing: a stop or a failure must
// not wait for a slow device to take data that is to be deleted. Only our own files are deleted:
// a name that now names another file (or none) is left as it is. The writer closes them.
void CMorvexWorker::DiscardOutputs() {
    m_OutputsSyncing = false;
    // Every slot is visited, not only those of the current task's channels: whatever a slot
    // holds is released even if the task record changed under a run.
    for (int i = 0; i < kMaxChannels; ++i) {
        if (m_SendFileRefs[i] != 0 &&
            m_FileHandler.IsFileAt(m_SendFileRefs[i], m_DestFileNames[i]) != 0 &&
            m_FileHandler.Delete(m_DestFileNames[i]) == 0 && errno != ENOENT) {
            m_DestLeftOver[i] = true;
        }
        m_pDestinationBuffers[i] = nullptr; // the writer's, freed by it
    }
    m_Writer->Abandon(m_SendFileRefs);
}
