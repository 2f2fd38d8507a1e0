// The input side: which files are accepted, how a WAV header is read, how the recorder's file
// names are recognised and how the follower files of a take are found.
#include "ByteOrder.h"
#include "MorvexWorker.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

using namespace morvex;

namespace {

constexpr uint32_t kRiffStride = 12; // "RIFF", size, "WAVE"
constexpr uint32_t kTagStride = 2;
constexpr uint32_t kTagBytes = 4;
constexpr uint32_t kFmtRecordBytes = 16;
constexpr uint32_t kChunkHeaderBytes = 8;
constexpr int16_t kPcmFormatTag = 1;
constexpr uint16_t kMinBits = 8;
constexpr uint16_t kMaxBits = 32;
constexpr uint16_t kUnsupportedBits = 20;

// The recorder names the files of a take "MKZ<take>_<file>.WAV"; only the last twelve
// characters of a path are looked at.
constexpr size_t kSchemeNameLength = 12;
constexpr size_t kFileNumberSuffixLength = 6; // "<file>.WAV"

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

int TwoDigits(const char* at) {
    return (at[0] - '0') * 10 + (at[1] - '0');
}

// Points at the scheme name at the end of the path, or null when the path has none.
const char* SchemeName(const char* path) {
    const size_t length = std::strlen(path);
    if (length < kSchemeNameLength) {
        return nullptr;
    }
    const char* c = path + length - kSchemeNameLength;
    const bool matches = std::strncmp(c, "MKZ", 3) == 0 && IsDigit(c[3]) && IsDigit(c[4]) &&
                         IsDigit(c[6]) && IsDigit(c[7]) && strncasecmp(c + 9, "WAV", 3) == 0;
    return matches ? c : nullptr;
}

bool IsAcceptedFormat(const FmtSubchunkInfo& fmt) {
    // Zero channels or a zero rate would leave the conversion and the texts nothing to divide by.
    return fmt.wFormatTag == kPcmFormatTag && fmt.wBitsPerSample >= kMinBits &&
           fmt.wBitsPerSample <= kMaxBits && fmt.wBitsPerSample != kUnsupportedBits &&
           fmt.wChannels >= 1 && fmt.wChannels <= kMaxChannels && fmt.dwSamplesPerSec != 0;
}

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

// The name part of a path: after its last '/', unless that '/' is the first character.
const char* FileNamePart(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr && slash != path ? slash + 1 : path;
}

} // namespace

bool CMorvexWorker::AnalyseWaveHeader(const uint8_t* buffer, unsigned int size,
                                      unsigned int* dataOffset, int index, int fileIndex) {
    if (buffer == nullptr) {
        return false;
    }
    // Every tag must lie wholly within the bytes given, with the format record after "fmt " and
    // the size field after "data".
    uint32_t p = 0;
    while (p + kRiffStride <= size &&
           !(HasTag(buffer + p, "RIFF") && HasTag(buffer + p + 8, "WAVE"))) {
        p += kRiffStride;
    }
    if (p + kRiffStride > size) {
        return false;
    }
    uint32_t q = p + kRiffStride;
    while (q + kChunkHeaderBytes + kFmtRecordBytes <= size && !HasTag(buffer + q, "fmt ")) {
        q += kTagStride;
    }
    if (q + kChunkHeaderBytes + kFmtRecordBytes > size) {
        return false;
    }
    const uint8_t* record = buffer + q + kChunkHeaderBytes;
    const FmtSubchunkInfo fmt = ReadFmtRecord(record);
    if (!IsAcceptedFormat(fmt)) {
        return false;
    }
    uint32_t d = q;
    while (d + kChunkHeaderBytes <= size && !HasTag(buffer + d, "data")) {
        d += kTagStride;
    }
    if (d + kChunkHeaderBytes > size) {
        return false;
    }
    const uint32_t dataSize = GetLE32(buffer + d + kTagBytes);

    if (IsEntryIndex(index) && fileIndex >= 0 && fileIndex < kMaxTakeFiles) {
        SplitEntryInfo& entry = m_Entries[index];
        if (fileIndex == 0) {
            std::memcpy(&entry.FmtSubchunk, record, kFmtRecordBytes);
            entry.ChannelNumb = fmt.wChannels;
            entry.WordLength = fmt.wBitsPerSample;
            entry.SampleRate = fmt.dwSamplesPerSec;
        } else if (std::memcmp(&entry.FmtSubchunk, record, kFmtRecordBytes) != 0) {
            return false;
        }
        entry.DataSize[fileIndex] = dataSize;
    }
    if (dataOffset != nullptr) {
        *dataOffset = d + kChunkHeaderBytes;
    }
    return true;
}

int64_t CMorvexWorker::SumDataSizes(const SplitEntryInfo& entry, int lastFile) const {
    int64_t total = 0;
    for (int k = 0; k <= lastFile && k < kMaxTakeFiles; ++k) {
        total += entry.DataSize[k];
    }
    return total;
}

bool CMorvexWorker::FollowerBelongs(int index, int fileIndex, uint8_t* scratch) {
    const uint32_t ref = OpenFollowerFile(index, fileIndex);
    if (ref == 0) {
        return false;
    }
    const uint32_t got = m_FileHandler.Read(ref, scratch, kHeaderScanBytes);
    m_FileHandler.Close(ref);
    return got >= kMinFileBytes && AnalyseWaveHeader(scratch, got, nullptr, index, fileIndex);
}

int CMorvexWorker::SetStartFile(int index, const char* path) {
    if (!IsEntryIndex(index)) {
        return kErrorTableFull;
    }
    if (path == nullptr || std::strlen(path) >= kMaxPathBytes) {
        return kErrorOpenInput; // a path that does not fit is refused, never cut
    }
    const uint32_t ref = m_FileHandler.Open(path, CTzFileHandler::kModeRead);
    if (ref == 0) {
        return kErrorOpenInput;
    }
    auto* buffer = static_cast<uint8_t*>(std::malloc(kHeaderScanBytes));
    if (buffer == nullptr) {
        m_FileHandler.Close(ref);
        return kErrorNoMemory;
    }
    const uint32_t got = m_FileHandler.Read(ref, buffer, kHeaderScanBytes);
    int result = kErrorNone;
    if (got < kMinFileBytes) {
        result = kErrorInputTooSmall;
    } else if (!AnalyseWaveHeader(buffer, got, nullptr, index, 0)) {
        result = kErrorIncompatibleWav;
    }
    if (result != kErrorNone) {
        std::free(buffer);
        m_FileHandler.Close(ref);
        return result;
    }

    SplitEntryInfo& entry = m_Entries[index];
    std::strcpy(entry.SourceFilePath, path);
    entry.MainNumb = -1;
    entry.StartSubNumb = 0;
    entry.SubCount = 1;
    entry.SourceEndIndex = 0;
    entry.BytesTotal = entry.DataSize[0];

    if (const char* name = SchemeName(path)) {
        entry.MainNumb = TwoDigits(name + 3);
        entry.StartSubNumb = TwoDigits(name + 6);
        int k = 1;
        while (k < kMaxTakeFiles && FollowerBelongs(index, k, buffer)) {
            ++k;
        }
        entry.SubCount = k;
        entry.SourceEndIndex = k - 1;
        entry.BytesTotal = SumDataSizes(entry, entry.SourceEndIndex);
    }
    std::free(buffer);
    m_FileHandler.Close(ref);
    return kErrorNone;
}

bool CMorvexWorker::BuildFollowerPath(int index, int fileIndex, char* path) const {
    const SplitEntryInfo& entry = m_Entries[index];
    const size_t length = std::strlen(entry.SourceFilePath);
    if (length < kFileNumberSuffixLength) {
        return false;
    }
    const size_t keep = length - kFileNumberSuffixLength;
    std::memcpy(path, entry.SourceFilePath, keep);
    const int written = std::snprintf(path + keep, kMaxPathBytes - keep, "%02i.WAV",
                                      entry.StartSubNumb + fileIndex);
    // File numbers of 100 and more add a digit; a path that no longer fits names no follower.
    return written > 0 && keep + static_cast<size_t>(written) < kMaxPathBytes;
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
    if (entry.MainNumb < 0) {
        return 0;
    }
    char path[kMaxPathBytes];
    if (!BuildFollowerPath(index, fileIndex, path)) {
        return 0;
    }
    return m_FileHandler.Open(path, CTzFileHandler::kModeRead);
}

bool CMorvexWorker::GetSourceEndName(int index, int fileIndex, char* text) const {
    if (!IsEntryIndex(index) || text == nullptr || fileIndex < 0 ||
        fileIndex >= m_Entries[index].SubCount) {
        return false;
    }
    const SplitEntryInfo& entry = m_Entries[index];
    if (entry.SubCount == 1) {
        std::strcpy(text, FileNamePart(entry.SourceFilePath));
    } else {
        std::snprintf(text, kMaxPathBytes, "MKZ%02i_%02i.WAV", entry.MainNumb,
                      entry.StartSubNumb + fileIndex);
    }
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
