#pragma once

#include "InputContainer.h"

#include <cstddef>
#include <cstdint>

// Reading a WAV, RF64, BW64 or Wave64 header chunk by chunk. A pure function of the bytes it is
// given and of those it asks its reader for.
namespace morvex {

inline constexpr uint32_t kFmtRecordBytes = 16; // the part of "fmt " every WAV file has
inline constexpr uint32_t kFmtKeptBytes = 40;   // the extensible "fmt ": all of it that is read
inline constexpr uint32_t kChunkHeaderBytes = 8;
// A header is walked through the file, but never without end: a file of more chunks than this
// before its audio is refused, and only this many chunks after the audio are listed.
inline constexpr int kMaxChunksBeforeData = 1000;
inline constexpr int kMaxListedChunks = 16;

// Gives `count` (at most 40) bytes of the file from `offset` on; false when they cannot be read.
using HeaderReader = bool (*)(void* context, uint64_t offset, uint8_t* out, uint32_t count);

// A file as the walk sees it: its first bytes, read already, its length, and a reader for the
// few bytes it needs beyond them (none: the file is the first bytes alone).
struct HeaderSource {
    const uint8_t* Prefix = nullptr;
    uint32_t PrefixBytes = 0;
    uint64_t FileBytes = 0;
    HeaderReader Read = nullptr;
    void* Context = nullptr;
};

// How the bytes of audio were found.
enum class DataExtent : uint8_t {
    Declared, // the data chunk's size (or the ds64 chunk's)
    ToEnd,    // a size of 0, "unknown", or one past the end: a recording never finished
    Wrapped,  // a 32-bit size that lost whole multiples of 2^32, which the file's end restores
};

struct ListedChunk {
    char Id[5] = {};     // printable, or '?' for each byte that is not
    uint64_t Offset = 0; // of its header
    uint64_t Bytes = 0;  // of its body
};

// A chunk of what the file knows beside its samples (bext, iXML): where its body lies.
struct MetadataChunk {
    uint64_t Offset = 0; // of its body
    uint64_t Bytes = 0;  // 0: the file has none
};

struct WaveHeader {
    InputContainer Container = InputContainer::Wav;
    uint8_t Fmt[kFmtKeptBytes] = {}; // the "fmt " body's first bytes
    uint32_t FmtBytes = 0;           // of them that the chunk has: its size, at most 40
    uint64_t DataOffset = 0;         // the first byte of audio
    uint64_t DataSize = 0;           // as the header declares it
    uint64_t Extent = 0;             // the bytes of audio
    DataExtent ExtentKind = DataExtent::Declared;
    uint64_t Ds64SampleCount = 0;
    int ChunksAfterData = 0; // listed in AfterData, up to kMaxListedChunks
    ListedChunk AfterData[kMaxListedChunks];
    ListedChunk Fault; // the chunk a fault names
    // The first of each before the audio, else the first listed after it.
    MetadataChunk Bext;
    MetadataChunk Ixml;
};

enum class HeaderFault : int {
    None = 0,
    NoRiff,        // no "RIFF"/"RF64"/"BW64" ... "WAVE" at a multiple of 12 bytes, nor Wave64
    NoFmt,         // the chunks end before a "fmt " chunk
    FmtTooShort,   // "fmt " of fewer than 16 bytes
    NoData,        // the chunks end before the "data" chunk
    ChunkPastEnd,  // a chunk before the audio runs past the end of the file
    TooManyChunks, // more than kMaxChunksBeforeData chunks before the audio
    NoDs64,        // RF64/BW64 whose data size is in a ds64 chunk that is not there
    Ds64TooShort,  // a ds64 chunk of fewer than 24 bytes
    Ds64Disagrees, // a ds64 chunk whose data size is more than its RIFF size
    BadWave64Guid, // a Wave64 "riff" GUID without the "wave" one
    BadWave64Size, // a Wave64 chunk smaller than its own header
    Unreadable,    // the reader failed
};

// Finds the container's header (RIFF-style at a multiple of 12 bytes within the first bytes, or
// Wave64 at the start), then walks the chunks behind it up to the "data" chunk, which must follow
// "fmt ": id, size, a pad byte after an odd size (or none, as some writers leave it out); Wave64
// chunks carry a GUID and a 64-bit size and start 8-byte aligned. Tags inside another chunk's
// body are never taken. Works out where the audio ends and lists the chunks after it.
HeaderFault ParseWaveHeader(const HeaderSource& source, WaveHeader& header);

// The same for a buffer that holds a whole file.
HeaderFault ParseWaveHeader(const uint8_t* buffer, uint32_t size, WaveHeader& header);

// Words for a fault, for messages, naming the chunk where there is one.
void HeaderFaultText(HeaderFault fault, const WaveHeader& header, char* text, size_t bytes);

} // namespace morvex
