#pragma once

#include <cstdint>

// Reading a RIFF/WAVE header chunk by chunk. A pure function of the bytes it is given.
namespace morvex {

inline constexpr uint32_t kFmtRecordBytes = 16; // the part of "fmt " every WAV file has
inline constexpr uint32_t kChunkHeaderBytes = 8;

struct WaveHeader {
    const uint8_t* FmtBody = nullptr; // the "fmt " chunk body, at least kFmtRecordBytes
    uint32_t FmtBytes = 0;            // its declared size
    uint32_t DataOffset = 0;          // the first byte of the data chunk's body
    uint32_t DataSize = 0;            // the data chunk's size as declared
};

enum class HeaderFault : int {
    None = 0,
    NoRiff,      // no "RIFF" ... "WAVE" at a multiple of 12 bytes
    NoFmt,       // the chunks end, or leave the bytes given, before a "fmt " chunk
    FmtTooShort, // "fmt " of fewer than 16 bytes
    NoData,      // the chunks end, or leave the bytes given, before the "data" chunk
};

// Finds "RIFF"/"WAVE" at a multiple of 12 bytes, then walks the chunks behind it (id, 32-bit
// size, a pad byte after an odd size) up to the "data" chunk, which must follow "fmt ". Only a
// chunk header, and the "fmt " body, that lie wholly within the `size` bytes count: tags inside
// another chunk's body are never taken.
HeaderFault ParseWaveHeader(const uint8_t* buffer, uint32_t size, WaveHeader& header);

// Words for a fault, for messages.
const char* HeaderFaultText(HeaderFault fault);

} // namespace morvex
