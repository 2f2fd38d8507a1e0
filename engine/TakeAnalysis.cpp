// The input side: which files are accepted, how a WAV header is read, how the recorder's file
// names are recognised and how the files of a take, before and after the start file, are found.
#include "ByteOrder.h"
#include "MorvexWorker.h"
#include "NoteText.h"
#include "OutputPlan.h"
#include "SampleFormat.h"
#include "TakeName.h"
#include "WaveHeader.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

using namespace morvex;

namespace {

FmtSubchunkInfo ReadFmtRecord(const uint8_t* at) {
    FmtSubchunkInfo fmt{};
    fmt.wFormatTag = static_cast<int16_t>(GetLE16(at));
    fmt.wChannels = GetLE16(at + 2);
    fmt.dwSamplesPerSec = GetLE32(at + 4);
    fmt.dwAvgBytesPerSec = GetLE32(at + 8);
    fmt.wBlockAlign = GetLE16(at + 12);
    fmt.wBitsPerSample = GetLE16(at + 14);
    return fmt;
}

// Header and format of a file; `reason` says why it is refused.
bool CheckHeader(const HeaderSource& source, WaveHeader& header, char* reason) {
    const HeaderFault fault = ParseWaveHeader(source, header);
    if (fault != HeaderFault::None) {
        HeaderFaultText(fault, header, reason, kNoteTextBytes);
        return false;
    }
    SampleFormat format;
    return DescribeFormat(header.Fmt, header.FmtBytes, format, reason, kNoteTextBytes);
}

// The bytes of a file beyond its first ones, for the header walk: read where they are, without
// moving the file's position, which the conversion reads on from.
struct OpenFile {
    CTzFileHandler* Handler;
    uint32_t Ref;
};

bool ReadOpenFile(void* context, uint64_t offset, uint8_t* out, uint32_t count) {
    const auto* file = static_cast<const OpenFile*>(context);
    return file->Handler->ReadAt(file->Ref, offset, out, count) == count;
}

// The whole format, extension and sub-format included, as a file of the take must repeat it.
bool SameFormat(const SplitEntryInfo& take, const uint8_t* fmtBody, uint32_t fmtBytes) {
    uint8_t extension[kFmtExtensionBytes];
    CopyFmtExtension(fmtBody, fmtBytes, extension);
    return std::memcmp(&take.FmtSubchunk, fmtBody, kFmtRecordBytes) == 0 &&
           std::memcmp(take.FmtExtension, extension, kFmtExtensionBytes) == 0;
}

// The name part of a path: after its last '/', unless that '/' is the first character.
const char* FileNamePart(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr && slash != path ? slash + 1 : path;
}

// Adds a note to the take's warning, after any it holds already.
void AddTakeWarning(SplitEntryInfo& entry, std::initializer_list<const char*> parts) {
    const size_t used = std::strlen(entry.TakeWarning);
    if (used == 0) {
        JoinNote(entry.TakeWarning, kNoteTextBytes, parts);
        return;
    }
    JoinNote(entry.TakeWarning + used, kNoteTextBytes - used, {" "});
    const size_t spaced = std::strlen(entry.TakeWarning);
    JoinNote(entry.TakeWarning + spaced, kNoteTextBytes - spaced, parts);
}

// A plain WAV file past 4 GiB whose 32-bit data size has wrapped around: the user should know
// that its audio was taken to be longer than the size says.
void AddWrappedNote(SplitEntryInfo& entry, const char* path, uint64_t declared, uint64_t extent) {
    constexpr int kNumberBytes = 24;
    char declaredText[kNumberBytes];
    char extentText[kNumberBytes];
    std::snprintf(declaredText, sizeof declaredText, "%" PRIu64, declared);
    std::snprintf(extentText, sizeof extentText, "%" PRIu64, extent);
    AddTakeWarning(entry, {FileNamePart(path), " declares ", declaredText,
                           " bytes of audio, a size wrapped around past 4 GiB: read as the ",
                           extentText, " bytes that end where the file does."});
}

void SystemReason(char* reason, int error) {
    std::snprintf(reason, kNoteTextBytes, "%s", CTzFileHandler::ErrorText(error));
}

// A chunk's body, read whole into memory of the caller's (std::free); null when it is larger
// than is ever carried or cannot be read.
uint8_t* ReadChunkBody(CTzFileHandler& files, uint32_t ref, const MetadataChunk& chunk) {
    if (chunk.Bytes == 0 || chunk.Bytes > kMaxMetadataBytes) {
        return nullptr;
    }
    const auto bytes = static_cast<uint32_t>(chunk.Bytes);
    auto* body = static_cast<uint8_t*>(std::malloc(bytes));
    if (body != nullptr && files.ReadAt(ref, chunk.Offset, body, bytes) != bytes) {
        std::free(body);
        return nullptr;
    }
    return body;
}

// What the start file knows of the recording beside its samples. A bext or iXML chunk that cannot
// be read, or is larger than is ever carried, counts as none; iXML that does not parse is noted.
void CaptureMetadata(CTzFileHandler& files, uint32_t ref, const MetadataChunk& bext,
                     const MetadataChunk& ixml, const char* path, SplitEntryInfo& entry) {
    TakeMetadata& metadata = entry.Metadata;
    metadata.ChannelMask = ChannelMaskOf(entry.FmtExtension);
    if (uint8_t* body = ReadChunkBody(files, ref, bext); body != nullptr) {
        metadata.BextOffset = bext.Offset;
        metadata.BextBytes = static_cast<uint32_t>(bext.Bytes);
        ReadBextFields(body, metadata.BextBytes, metadata);
        std::free(body);
    }
    uint8_t* text = ReadChunkBody(files, ref, ixml);
    if (text == nullptr && ixml.Bytes == 0) {
        return;
    }
    metadata.IxmlOffset = ixml.Offset;
    metadata.IxmlBytes = static_cast<uint32_t>(ixml.Bytes);
    metadata.IxmlParsed = text != nullptr && ReadIxmlTrackNames(reinterpret_cast<const char*>(text),
                                                                ixml.Bytes, metadata);
    std::free(text);
    if (!metadata.IxmlParsed) {
        std::memset(metadata.TrackNames, 0, sizeof metadata.TrackNames);
        AddTakeWarning(entry, {FileNamePart(path),
                               ": its iXML chunk does not parse; the outputs carry none."});
    }
}

} // namespace

bool CMorvexWorker::AnalyseWaveHeader(const uint8_t* buffer, unsigned int size,
                                      unsigned int* dataOffset, int index, int fileIndex) {
    WaveHeader header;
    char reason[kNoteTextBytes];
    if (!CheckHeader(HeaderSource{buffer, size, size, nullptr, nullptr}, header, reason)) {
        return false;
    }
    if (IsEntryIndex(index) && fileIndex >= 0 && fileIndex < kMaxTakeFiles) {
        SplitEntryInfo& entry = m_Entries[index];
        if (fileIndex == 0) {
            StoreFormat(entry, header.Fmt, header.FmtBytes);
        } else if (!SameFormat(entry, header.Fmt, header.FmtBytes)) {
            return false;
        }
        entry.DataSize[fileIndex] = header.DataSize;
    }
    if (dataOffset != nullptr) {
        *dataOffset = static_cast<unsigned int>(header.DataOffset); // within the buffer's size
    }
    return true;
}

void CMorvexWorker::StoreFormat(SplitEntryInfo& entry, const uint8_t* fmtBody, uint32_t fmtBytes) {
    const FmtSubchunkInfo fmt = ReadFmtRecord(fmtBody);
    std::memcpy(&entry.FmtSubchunk, fmtBody, kFmtRecordBytes);
    CopyFmtExtension(fmtBody, fmtBytes, entry.FmtExtension);
    entry.ChannelNumb = fmt.wChannels;
    entry.WordLength = fmt.wBitsPerSample;
    entry.SampleRate = fmt.dwSamplesPerSec;
}

CMorvexWorker::FileCheck CMorvexWorker::AnalyseTakeFile(uint32_t ref, const uint8_t* buffer,
                                                        uint32_t got, const SplitEntryInfo* take,
                                                        TakeFile& file, char* reason) {
    if (got == CTzFileHandler::kReadFailed) {
        SystemReason(reason, errno);
        return FileCheck::Unreadable;
    }
    if (got < kMinFileBytes) {
        std::snprintf(reason, kNoteTextBytes, "it holds only %u bytes", got);
        return FileCheck::Unreadable;
    }
    const uint64_t fileBytes = m_FileHandler.Length(ref);
    if (fileBytes == CTzFileHandler::kUnknownLength) {
        SystemReason(reason, errno);
        return FileCheck::Unreadable;
    }
    // The walk reads the few bytes it needs beyond the first ones itself.
    OpenFile open{&m_FileHandler, ref};
    WaveHeader header;
    if (!CheckHeader(HeaderSource{buffer, got, fileBytes, ReadOpenFile, &open}, header, reason)) {
        return FileCheck::NotUsable;
    }
    if (take != nullptr && !SameFormat(*take, header.Fmt, header.FmtBytes)) {
        std::snprintf(reason, kNoteTextBytes, "its format differs from the start file's");
        return FileCheck::OtherFormat;
    }
    std::memcpy(file.Fmt, header.Fmt, sizeof file.Fmt);
    file.FmtBytes = header.FmtBytes;
    file.DataOffset = header.DataOffset;
    file.Extent = header.Extent;
    file.DeclaredSize = header.DataSize;
    file.Wrapped = header.ExtentKind == DataExtent::Wrapped;
    file.Container = header.Container;
    file.Bext = header.Bext;
    file.Ixml = header.Ixml;
    return FileCheck::Ok;
}

int64_t CMorvexWorker::SumDataSizes(const SplitEntryInfo& entry, int lastFile) const {
    int64_t total = 0;
    for (int k = 0; k <= lastFile && k < kMaxTakeFiles; ++k) {
        total += entry.DataSize[k];
    }
    return total;
}

bool CMorvexWorker::BuildTakeFilePath(const SplitEntryInfo& entry, int number, bool recorderCase,
                                      char* path) const {
    if (entry.GivenFilePaths != nullptr) {
        // Given files have their one name: there is no recorder's spelling to try.
        const int fileIndex = number - entry.StartSubNumb;
        if (recorderCase || fileIndex < 0 || fileIndex >= entry.SubCount) {
            return false;
        }
        std::strcpy(path, entry.GivenFilePaths[fileIndex]);
        return true;
    }
    TakeName name;
    return ParseTakeName(entry.SourceFilePath, name) &&
           RenderTakeFile(entry.SourceFilePath, name, number, recorderCase, path, kMaxPathBytes);
}

uint32_t CMorvexWorker::OpenTakeFile(const SplitEntryInfo& entry, int number, char* path,
                                     bool* recorderExtension) {
    // First in the start file's own letter case, then as the recorder writes the extension.
    char candidate[kMaxPathBytes];
    int firstError = ENOENT;
    path[0] = '\0';
    for (const bool recorderCase : {false, true}) {
        if (!BuildTakeFilePath(entry, number, recorderCase, candidate) ||
            (recorderCase && std::strcmp(candidate, path) == 0)) {
            continue;
        }
        if (path[0] == '\0') {
            std::strcpy(path, candidate);
        }
        const uint32_t ref = m_FileHandler.Open(candidate, CTzFileHandler::kModeRead);
        if (ref != 0) {
            std::strcpy(path, candidate);
            if (recorderExtension != nullptr) {
                *recorderExtension = recorderCase;
            }
            return ref;
        }
        if (errno != ENOENT && firstError == ENOENT) {
            firstError = errno;
            std::strcpy(path, candidate);
        }
    }
    errno = firstError;
    return 0;
}

CMorvexWorker::FileCheck CMorvexWorker::ExamineTakeFile(const SplitEntryInfo& entry, int number,
                                                        uint8_t* scratch, TakeFile& file,
                                                        char* path, char* reason) {
    const uint32_t ref = OpenTakeFile(entry, number, path, &file.RecorderExtension);
    if (ref == 0) {
        if (errno == ENOENT || path[0] == '\0') {
            return FileCheck::Missing;
        }
        SystemReason(reason, errno);
        return FileCheck::Unreadable;
    }
    const uint32_t got = m_FileHandler.Read(ref, scratch, kHeaderScanBytes);
    const FileCheck check = AnalyseTakeFile(ref, scratch, got, &entry, file, reason);
    m_FileHandler.Close(ref);
    return check;
}

void CMorvexWorker::FindFollowers(int index, uint8_t* scratch) {
    SplitEntryInfo& entry = m_Entries[index];
    char path[kMaxPathBytes];
    char reason[kNoteTextBytes];
    int k = 1;
    for (; k <= kMaxTakeFiles; ++k) {
        TakeFile file;
        const FileCheck check =
            ExamineTakeFile(entry, entry.StartSubNumb + k, scratch, file, path, reason);
        if (check == FileCheck::Missing) {
            break;
        }
        if (k == kMaxTakeFiles) {
            std::snprintf(reason, kNoteTextBytes, "a take has at most %d files", kMaxTakeFiles);
        }
        if (check != FileCheck::Ok || k == kMaxTakeFiles) {
            AddTakeWarning(entry, {FileNamePart(path), " is not part of the take: ", reason, "."});
            break;
        }
        entry.DataSize[k] = file.Extent;
        entry.fRecorderExtension[k] = file.RecorderExtension;
        if (file.Wrapped) {
            AddWrappedNote(entry, path, file.DeclaredSize, file.Extent);
        }
    }
    entry.SubCount = std::min(k, kMaxTakeFiles);
}

// A take started from a later file: the frame that its earlier files leave unfinished ends in
// the start file, and those bytes are no whole frame of this task. The earlier files tell how
// many, down to the first of the take (01; 00 when the take has one) or to a file of another
// format, another recording before this one. When one of them is missing or cannot be used, the
// split starts at the first byte of audio, as for any file, and says that the phase is unknown.
void CMorvexWorker::FindFramePhase(int index, uint8_t* scratch) {
    SplitEntryInfo& entry = m_Entries[index];
    char path[kMaxPathBytes];
    char reason[kNoteTextBytes];
    uint64_t earlierBytes = 0;
    for (int number = entry.StartSubNumb - 1; number >= 0; --number) {
        TakeFile file;
        const FileCheck check = ExamineTakeFile(entry, number, scratch, file, path, reason);
        if (check == FileCheck::OtherFormat || (check == FileCheck::Missing && number == 0)) {
            break;
        }
        if (check == FileCheck::Missing) {
            std::snprintf(reason, kNoteTextBytes, "it is missing");
        }
        if (check != FileCheck::Ok) {
            AddTakeWarning(entry, {"Frame phase unknown: ", FileNamePart(path),
                                   ", an earlier file of the take: ", reason,
                                   ". The split starts at the first byte of audio."});
            return;
        }
        earlierBytes += file.Extent;
    }
    const auto frameBytes = static_cast<uint32_t>(PlanOutputs(entry).FrameBytes);
    const auto skip = static_cast<uint32_t>((frameBytes - earlierBytes % frameBytes) % frameBytes);
    if (skip > entry.DataSize[0]) {
        return; // the unfinished frame runs past the start file: nothing here to skip by
    }
    entry.FrameSkipBytes = skip;
    entry.DataSize[0] -= skip;
}

int CMorvexWorker::SetStartFile(int index, const char* path) {
    return AddStartFile(index, path, true);
}

// The start file of a take; with `findTake`, the other files of the recorder's take it names.
int CMorvexWorker::AddStartFile(int index, const char* path, bool findTake) {
    m_AddFailureDetail[0] = '\0';
    if (!IsEntryIndex(index)) {
        return kErrorTableFull;
    }
    if (path == nullptr || std::strlen(path) >= kMaxPathBytes) {
        std::snprintf(m_AddFailureDetail, kNoteTextBytes, "the path is too long");
        return kErrorOpenInput; // a path that does not fit is refused, never cut
    }
    const uint32_t ref = m_FileHandler.Open(path, CTzFileHandler::kModeRead);
    if (ref == 0) {
        SystemReason(m_AddFailureDetail, errno);
        return kErrorOpenInput;
    }
    auto* buffer = static_cast<uint8_t*>(std::malloc(kHeaderScanBytes));
    if (buffer == nullptr) {
        m_FileHandler.Close(ref);
        return kErrorNoMemory;
    }
    const uint32_t got = m_FileHandler.Read(ref, buffer, kHeaderScanBytes);
    TakeFile file;
    int result = kErrorNone;
    switch (AnalyseTakeFile(ref, buffer, got, nullptr, file, m_AddFailureDetail)) {
    case FileCheck::Ok:
        break;
    case FileCheck::Unreadable:
        result = got == CTzFileHandler::kReadFailed || got >= kMinFileBytes ? kErrorOpenInput
                                                                            : kErrorInputTooSmall;
        break;
    default:
        result = kErrorIncompatibleWav;
        break;
    }
    if (result != kErrorNone) {
        std::free(buffer);
        m_FileHandler.Close(ref);
        return result;
    }

    SplitEntryInfo& entry = m_Entries[index];
    std::strcpy(entry.SourceFilePath, path);
    StoreFormat(entry, file.Fmt, file.FmtBytes);
    entry.DataSize[0] = file.Extent;
    entry.Container = file.Container;
    entry.FrameSkipBytes = 0;
    entry.ChannelSelection = 0; // a selection is of the take it was made for
    entry.SkippedChannels = 0;
    entry.Metadata = {};
    entry.TakeWarning[0] = '\0';
    if (file.Wrapped) {
        AddWrappedNote(entry, path, file.DeclaredSize, file.Extent);
    }
    CaptureMetadata(m_FileHandler, ref, file.Bext, file.Ixml, path, entry);
    entry.FailureDetail[0] = '\0';
    entry.MainNumb = -1;
    entry.StartSubNumb = 0;
    entry.SubCount = 1;
    std::fill(std::begin(entry.fRecorderExtension), std::end(entry.fRecorderExtension), false);
    std::free(entry.GivenFilePaths);
    entry.GivenFilePaths = nullptr;
    if (TakeName name; findTake && ParseTakeName(path, name)) {
        entry.MainNumb = name.Take;
        entry.StartSubNumb = name.File;
        FindFollowers(index, buffer);
        FindFramePhase(index, buffer);
    }
    entry.SourceEndIndex = entry.SubCount - 1;
    entry.BytesTotal = SumDataSizes(entry, entry.SourceEndIndex);
    std::free(buffer);
    m_FileHandler.Close(ref);
    return kErrorNone;
}

uint32_t CMorvexWorker::OpenFollowerFile(int index, int fileIndex) {
    if (!IsEntryIndex(index) || fileIndex < 0 || fileIndex >= kMaxTakeFiles) {
        return 0;
    }
    const SplitEntryInfo& entry = m_Entries[index];
    if (fileIndex == 0) {
        // The start file by its own name: rebuilding it could change the extension's case.
        return m_FileHandler.Open(entry.SourceFilePath, CTzFileHandler::kModeRead);
    }
    if (entry.MainNumb < 0 && entry.GivenFilePaths == nullptr) {
        return 0;
    }
    char path[kMaxPathBytes];
    return OpenTakeFile(entry, entry.StartSubNumb + fileIndex, path);
}

bool CMorvexWorker::GetSourceEndName(int index, int fileIndex, char* text) const {
    if (!IsEntryIndex(index) || text == nullptr || fileIndex < 0 ||
        fileIndex >= m_Entries[index].SubCount) {
        return false;
    }
    const SplitEntryInfo& entry = m_Entries[index];
    // The name each file was found by, so that every name shown is a file that is there.
    char path[kMaxPathBytes];
    if (fileIndex == 0 || !BuildTakeFilePath(entry, entry.StartSubNumb + fileIndex,
                                             entry.fRecorderExtension[fileIndex], path)) {
        std::strcpy(text, FileNamePart(entry.SourceFilePath));
        return true;
    }
    std::strcpy(text, FileNamePart(path));
    return true;
}

void CMorvexWorker::SetSourceEndIndex(int index, int value) {
    if (!IsEntryIndex(index)) {
        return;
    }
    SplitEntryInfo& entry = m_Entries[index];
    if (value >= 0 && value < entry.SubCount) {
        entry.SourceEndIndex = value;
        entry.BytesTotal = SumDataSizes(entry, value);
    }
}

int CMorvexWorker::GetSourceEndIndex(int index) const {
    return IsEntryIndex(index) ? m_Entries[index].SourceEndIndex : -1;
}

// Given files are the user's own choice: one that cannot be read, or of another format, refuses
// the take rather than ending it early with a warning, as a file after a recorder's take would.
int CMorvexWorker::SetTakeFiles(int index, const char* const* paths, int count) {
    m_AddFailureDetail[0] = '\0';
    if (!IsEntryIndex(index)) {
        return kErrorTableFull;
    }
    if (paths == nullptr || count < 1) {
        std::snprintf(m_AddFailureDetail, kNoteTextBytes, "no file given");
        return kErrorOpenInput;
    }
    if (count > kMaxTakeFiles) {
        std::snprintf(m_AddFailureDetail, kNoteTextBytes, "a take has at most %d files, not %d",
                      kMaxTakeFiles, count);
        return kErrorOpenInput;
    }
    const int result = AddStartFile(index, paths[0], false);
    if (result != kErrorNone) {
        return result;
    }
    SplitEntryInfo& entry = m_Entries[index];
    const int given = AddGivenFiles(entry, paths, count);
    if (given != kErrorNone) {
        std::free(entry.GivenFilePaths);
        std::memset(&entry, 0, sizeof entry);
        return given;
    }
    entry.SourceEndIndex = entry.SubCount - 1;
    entry.BytesTotal = SumDataSizes(entry, entry.SourceEndIndex);
    return kErrorNone;
}

// The files after the start file, each checked against its format as a follower is.
int CMorvexWorker::AddGivenFiles(SplitEntryInfo& entry, const char* const* paths, int count) {
    entry.GivenFilePaths =
        static_cast<char(*)[kMaxPathBytes]>(std::malloc(size_t{kMaxTakeFiles} * kMaxPathBytes));
    auto* scratch = static_cast<uint8_t*>(std::malloc(kHeaderScanBytes));
    if (entry.GivenFilePaths == nullptr || scratch == nullptr) {
        std::free(scratch);
        return kErrorNoMemory;
    }
    std::strcpy(entry.GivenFilePaths[0], entry.SourceFilePath);
    for (int k = 1; k < count; ++k) {
        if (paths[k] == nullptr || std::strlen(paths[k]) >= kMaxPathBytes) {
            std::snprintf(m_AddFailureDetail, kNoteTextBytes, "file %d: the path is too long",
                          k + 1);
            std::free(scratch);
            return kErrorOpenInput;
        }
        std::strcpy(entry.GivenFilePaths[k], paths[k]);
    }
    entry.SubCount = count;
    char path[kMaxPathBytes];
    char reason[kNoteTextBytes];
    int result = kErrorNone;
    for (int k = 1; k < count && result == kErrorNone; ++k) {
        TakeFile file;
        switch (ExamineTakeFile(entry, k, scratch, file, path, reason)) {
        case FileCheck::Ok:
            entry.DataSize[k] = file.Extent;
            continue;
        case FileCheck::Missing:
            SystemReason(reason, ENOENT);
            result = kErrorOpenInput;
            break;
        case FileCheck::Unreadable:
            result = kErrorOpenInput;
            break;
        case FileCheck::NotUsable:
            result = kErrorIncompatibleWav;
            break;
        case FileCheck::OtherFormat:
            result = kErrorFollowerFormat;
            break;
        }
        JoinNote(m_AddFailureDetail, kNoteTextBytes, {path, ": ", reason});
    }
    std::free(scratch);
    return result;
}
