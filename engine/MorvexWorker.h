#pragma once

#include "Deinterleave.h"
#include "InputContainer.h"
#include "MorvexLimits.h"
#include "OutputPlan.h"
#include "TakeMetadata.h"
#include "TzFileHandler.h"
#include "WaveHeader.h"

#include <cstdint>

namespace morvex {
class COutputWriter;
} // namespace morvex

// The first 16 bytes of a "fmt " chunk body, little-endian as in the file.
struct FmtSubchunkInfo {
    int16_t wFormatTag;
    uint16_t wChannels;
    uint32_t dwSamplesPerSec;
    uint32_t dwAvgBytesPerSec;
    uint16_t wBlockAlign;
    uint16_t wBitsPerSample;
};
static_assert(sizeof(FmtSubchunkInfo) == 16);

// One task of the list.
struct SplitEntryInfo {
    char SourceFilePath[morvex::kMaxPathBytes];
    int SourceEndIndex;
    char DestinationBaseFilePath[morvex::kMaxPathBytes];
    int Type;
    int Format;
    int MainNumb;
    int StartSubNumb;
    int SubCount;
    int64_t BytesTotal;
    FmtSubchunkInfo FmtSubchunk;
    uint64_t DataSize[morvex::kMaxTakeFiles];
    uint16_t ChannelNumb;
    uint16_t WordLength;
    uint32_t SampleRate;
    bool fConversionDone;
    int ErrorState;
    // Bytes at the start file's data that finish a frame begun in the take's earlier files.
    uint32_t FrameSkipBytes;
    // The start file's "fmt " behind FmtSubchunk when it is the extensible one, else zeros.
    uint8_t FmtExtension[24];
    // Why the file after the take's last one is not part of it, or why the frame phase of a take
    // started from a later file is unknown; empty when there is nothing to tell.
    char TakeWarning[morvex::kNoteTextBytes];
    // The file and the system's reason behind ErrorState, when there is one.
    char FailureDetail[morvex::kNoteTextBytes];
    // Files of the take found by the recorder's upper-case ".WAV" rather than by the start file's
    // own extension.
    bool fRecorderExtension[morvex::kMaxTakeFiles];
    // The files of a take given one by one (SetTakeFiles), SubCount of them in the order given,
    // the first being SourceFilePath; null for a take found by the recorder's names. A table of
    // kMaxTakeFiles paths, owned by the worker.
    char (*GivenFilePaths)[morvex::kMaxPathBytes];
    // The start file's container, for the texts.
    morvex::InputContainer Container;
    // The source channels converted: bit c for channel c (from 0); 0 converts every channel.
    uint64_t ChannelSelection;
    // Outputs are named after the recording's track names as well as their numbers.
    bool fTrackNames;
    // Outputs whose samples are all digital silence are deleted before the task is done.
    bool fSkipSilent;
    // The source channels (bit c for channel c) whose outputs the last conversion deleted as
    // silent.
    uint64_t SkippedChannels;
    // What the start file knows of the recording: time, originator, track names, layout.
    morvex::TakeMetadata Metadata;
};

// The splitting engine: the task table, the analysis of takes, the conversion state machine and
// the texts that describe a task. Single-threaded; nothing throws; results are integers.
class CMorvexWorker {
public:
    CMorvexWorker();
    ~CMorvexWorker();
    CMorvexWorker(const CMorvexWorker&) = delete;
    CMorvexWorker& operator=(const CMorvexWorker&) = delete;

    // Task table.
    const char* GetDisplayName(int index) const;
    const char* GetDestinationBaseFile(int index) const;
    int SetDestinationBaseFile(int index, const char* path, int count);
    // Mends the name-clash mark (code 10) of the first `count` tasks after a destination was set
    // or a task removed: a mark whose clash is gone is cleared, and a clash that no task shows is
    // marked on its later tasks still to convert.
    void RecheckNameClashes(int count);
    void SetDestinationType(int index, int type);
    int GetDestinationType(int index) const;
    // With `count`, the name clashes of the first `count` tasks are checked again, as the files
    // the task writes change with its format.
    void SetDestinationFormat(int index, int format, int count = 0);
    int GetDestinationFormat(int index) const;
    // The source channels to convert, bit c for channel c (from 0); 0 for every channel. False,
    // leaving the task as it was, when it names a channel the take does not have. (Tasks of one
    // base clash whatever their channels: their names would differ only by chance.)
    bool SetChannelSelection(int index, uint64_t channels);
    uint64_t GetChannelSelection(int index) const;
    // Outputs named "BASE_NN_<track name>" from the recording's track names.
    void SetTrackNaming(int index, bool on);
    bool GetTrackNaming(int index) const;
    // Outputs of digital silence (a pair: both channels) deleted at the end of the task;
    // Entry(index).SkippedChannels tells which.
    void SetSkipSilent(int index, bool on);
    bool GetSkipSilent(int index) const;
    int GetEntryState(int index) const;
    bool CanStart(int count) const;
    bool AllDone(int count) const;
    // The path of output `n` (0 for the one holding the first channel) of the task as its
    // settings name it now; false past its last output or when it has no destination.
    bool GetOutputFileName(int index, int n, char* path) const;
    void GetErrorString(int code, char* text) const;
    void DoClear();
    int DeleteEntry(int index);

    // Take analysis.
    int SetStartFile(int index, const char* path);
    // A take of the `count` files named, read in the order given as one stream, whatever their
    // names: the first is its start file, and each other must have its format. A later file that
    // cannot be used refuses the whole take (GetAddFailureDetail names it) and empties the slot.
    int SetTakeFiles(int index, const char* const* paths, int count);
    bool AnalyseWaveHeader(const uint8_t* buffer, unsigned int size, unsigned int* dataOffset,
                           int index, int fileIndex);
    uint32_t OpenFollowerFile(int index, int fileIndex);
    bool GetSourceEndName(int index, int fileIndex, char* text) const;
    void SetSourceEndIndex(int index, int value);
    int GetSourceEndIndex(int index) const;

    // Conversion.
    void StartConversion(int count);
    int ConversionStep();
    void StopConversion();
    int GetConversionInfo(double* fraction, int* entry) const;
    // The last step made no progress: it waited a little for the thread that writes the outputs,
    // which is behind (a slow device). A caller with other work should get on with it.
    bool WriterBehind() const;

    // Texts.
    void GetInfoStrings(int entry, int kind, char* out) const;

    // Details for the front ends, beside the fixed texts above. Each writes into a buffer of
    // kNoteTextBytes and answers false (writing "") when there is nothing to tell.
    // What the user should know about the take of task `index` (see SplitEntryInfo::TakeWarning).
    bool GetTakeWarning(int index, char* text) const;
    // The file and the system's reason behind the task's error code.
    bool GetFailureDetail(int index, char* text) const;
    // Why the last SetStartFile refused its file: the format's fault or the system's reason.
    bool GetAddFailureDetail(char* text) const;
    // Outputs of the last failed or stopped task that are still there because deleting them
    // failed. Valid until the next task starts.
    int GetLeftOverCount() const;
    const char* GetLeftOverOutput(int n) const;

    // Read-only view of a task record, for tests and front ends.
    const SplitEntryInfo& Entry(int index) const { return m_Entries[index]; }

private:
    static bool IsEntryIndex(int index) { return index >= 0 && index < morvex::kMaxEntries; }
    bool RunUnderway() const;
    int64_t SumDataSizes(const SplitEntryInfo& entry, int lastFile) const;
    // Whether another of the first `count` tasks would write a file of the same name.
    bool SharesBase(int index, int count) const;
    bool WriteSameFiles(int index, int other) const;
    // What the other tasks writing the same files are: before it, marked, converted.
    struct NameGroup {
        bool Earlier = false;
        bool Marked = false;
        bool Converted = false;
    };
    NameGroup GroupOf(int index, int count) const;

    // One file of a take as analysed: where its audio lies.
    enum class FileCheck { Ok, Missing, Unreadable, NotUsable, OtherFormat };
    struct TakeFile {
        uint8_t Fmt[morvex::kFmtKeptBytes] = {}; // the "fmt " body's first bytes
        uint32_t FmtBytes = 0;                   // of them that the chunk has
        uint64_t DataOffset = 0;
        uint64_t Extent = 0; // bytes of audio: the data chunk, or to the end of an unfinished file
        uint64_t DeclaredSize = 0;
        bool Wrapped = false; // Extent is DeclaredSize with the 2^32 multiples it lost
        morvex::InputContainer Container = morvex::InputContainer::Wav;
        bool RecorderExtension = false; // found by the recorder's ".WAV", not the start file's
        morvex::MetadataChunk Bext;
        morvex::MetadataChunk Ixml;
    };
    int AddStartFile(int index, const char* path, bool findTake);
    int AddGivenFiles(SplitEntryInfo& entry, const char* const* paths, int count);
    static void StoreFormat(SplitEntryInfo& entry, const uint8_t* fmtBody, uint32_t fmtBytes);
    FileCheck AnalyseTakeFile(uint32_t ref, const uint8_t* buffer, uint32_t got,
                              const SplitEntryInfo* take, TakeFile& file, char* reason);
    bool BuildTakeFilePath(const SplitEntryInfo& entry, int number, bool recorderCase,
                           char* path) const;
    // `recorderExtension`, when given, tells whether the file was found by the recorder's ".WAV".
    uint32_t OpenTakeFile(const SplitEntryInfo& entry, int number, char* path,
                          bool* recorderExtension = nullptr);
    FileCheck ExamineTakeFile(const SplitEntryInfo& entry, int number, uint8_t* scratch,
                              TakeFile& file, char* path, char* reason);
    void FindFollowers(int index, uint8_t* scratch);
    void FindFramePhase(int index, uint8_t* scratch);

    // Conversion steps and their helpers.
    int StepStartTask();
    int StepConvert();
    int StepFinishTask();
    int StepNextTask();
    int FailTask(int code);
    int FailTaskOnSystemError(int code, const char* path);
    void RecordDetail(const char* path, const char* reason);
    int RecordSystemError(const char* path);
    int OpenTakeFileData(int fileIndex, int headerError);
    int TakeFirstBlock(uint32_t got, uint64_t dataOffset, uint64_t extent);
    int ReadNextBlock();
    bool CreateOutputs();
    void PrepareHeaderSpace();
    void PrepareSourceBlock();
    void Deinterleave();
    bool FlushOutputs();
    bool WriteFinalHeaders();
    bool CompleteOutputs();
    bool SyncOutputs(bool& failed);
    bool OutputsInPlace();
    void DiscardOutputs();
    // The slots of the running task's outputs (each output's first converted channel), less
    // those deleted as silent.
    struct OutputSlots {
        int Count = 0;
        int Slot[morvex::kMaxChannels] = {};
        const int* begin() const { return Slot; }
        const int* end() const { return Slot + Count; }
    };
    OutputSlots KeptOutputSlots() const;
    void PrepareSilenceCheck();
    void NoteSound();
    void DeleteSilentOutputs();
    morvex::HeaderValues OutputHeaderValues(uint64_t dataBytes) const;
    void StateText(int entry, char* out) const;

    SplitEntryInfo m_Entries[morvex::kMaxEntries];
    CTzFileHandler m_FileHandler;
    int m_EntryCount;
    int m_ConversionState;
    int m_CurrentEntry;
    int m_CurrentSourceSubFile;
    morvex::OutputPlan m_Plan; // of the running task, as it was when the task started
    int m_DestBuffSize;
    uint32_t m_SourceFileRef;
    uint32_t m_SendFileRefs[morvex::kMaxChannels];
    char m_DestFileNames[morvex::kMaxChannels][morvex::kMaxPathBytes];
    uint8_t* m_pSourceBuffer;
    uint8_t* m_pDestinationBuffers[morvex::kMaxChannels];
    uint32_t m_SourceDataCount;
    uint32_t m_SourceDataPoint;
    int m_SourceChannels;
    int m_DestDataPoint;
    int m_ChannelPoint;
    int m_SampleOffset;
    uint64_t m_DestTotalBytes;

    // Beyond the conversion state: the audio of the current source file not yet read, and its
    // path.
    uint64_t m_SourceBytesLeft;
    char m_SourcePath[morvex::kMaxPathBytes];
    // Details for the front ends.
    char m_AddFailureDetail[morvex::kNoteTextBytes];
    bool m_DestLeftOver[morvex::kMaxChannels]; // deleting the slot's output failed

    // Flushed buffers are written on a thread of their own while the next ones fill.
    bool CollectWrites();
    // Owned. Known here by name only, so that the front ends need not see its thread.
    morvex::COutputWriter* const m_Writer;
    bool m_OutputsSyncing = false; // a finishing task's outputs are being synced by the writer
    bool m_WriterBehind = false;   // the last step waited for the writer in vain

    // A task converting some of the channels: what of each source frame it keeps, and where the
    // next source byte stands in its frame.
    morvex::ChannelRuns m_ChannelRuns;
    int m_SourceFramePhase = 0;
    // Silent outputs to be deleted at the finish: whether each slot's output has had sound, and
    // whether the buffers in hand are the first (they begin with the header).
    bool m_CheckSilence = false;
    morvex::SilenceWords m_Silence;
    bool m_FirstBuffers = false;
    bool m_OutputSounds[morvex::kMaxChannels] = {};
    bool m_OutputSkipped[morvex::kMaxChannels] = {};
};
