#include "WaveHeader.h"

#include "ByteOrder.h"
#include "MorvexLimits.h"

namespace morvex {

namespace {

constexpr uint32_t kRiffStride = 12; // "RIFF", size, "WAVE"

// The position of "RIFF"/"WAVE", or `size` when there is none.
uint32_t FindRiff(const uint8_t* buffer, uint32_t size) {
    uint32_t p = 0;
    while (p + kRiffStride <= size &&
           !(HasTag(buffer + p, "RIFF") && HasTag(buffer + p + 8, "WAVE"))) {
        p += kRiffStride;
    }
    return p + kRiffStride <= size ? p : size;
}

bool IsChunkId(const uint8_t* buffer, uint32_t size, uint64_t at) {
    constexpr uint8_t kFirstPrintable = 0x20;
    constexpr uint8_t kLastPrintable = 0x7E;
    if (at + 4 > size) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (buffer[at + i] < kFirstPrintable || buffer[at + i] > kLastPrintable) {
            return false;
        }
    }
    return true;
}

// After an odd size comes a pad byte; some writers leave it out, which shows as a chunk id one
// byte early and none where the pad would put it.
uint64_t NextChunk(const uint8_t* buffer, uint32_t size, uint64_t at, uint32_t bodyBytes) {
    const uint64_t unpadded = at + kChunkHeaderBytes + bodyBytes;
    const uint64_t padded = unpadded + (bodyBytes & 1U);
    if (padded != unpadded && !IsChunkId(buffer, size, padded) &&
        IsChunkId(buffer, size, unpadded)) {
        return unpadded;
    }
    return padded;
}

} // namespace

HeaderFault ParseWaveHeader(const uint8_t* buffer, uint32_t size, WaveHeader& header) {
    header = WaveHeader{};
    if (buffer == nullptr) {
        return HeaderFault::NoRiff;
    }
    const uint32_t riff = FindRiff(buffer, size);
    if (riff == size) {
        return HeaderFault::NoRiff;
    }
    // 64 bits: a chunk size near 2^32 must not wrap the walk back into the bytes already seen.
    for (uint64_t at = riff + kRiffStride; at + kChunkHeaderBytes <= size;) {
        const uint8_t* chunk = buffer + at;
        const uint32_t bodyBytes = GetLE32(chunk + 4);
        const auto body = static_cast<uint32_t>(at + kChunkHeaderBytes);
        if (HasTag(chunk, "fmt ")) {
            if (bodyBytes < kFmtRecordBytes) {
                return HeaderFault::FmtTooShort;
            }
            if (body + kFmtRecordBytes > size) {
                return HeaderFault::NoFmt;
            }
            header.FmtBody = buffer + body;
            header.FmtBytes = bodyBytes;
        } else if (HasTag(chunk, "data")) {
            if (header.FmtBody == nullptr) {
                return HeaderFault::NoFmt;
            }
            header.DataOffset = body;
            header.DataSize = bodyBytes;
            return HeaderFault::None;
        }
        at = NextChunk(buffer, size, at, bodyBytes);
    }
    return header.FmtBody == nullptr ? HeaderFault::NoFmt : HeaderFault::NoData;
}

// The texts spell the limits out; a changed limit must change them too.
static_assert(kHeaderScanBytes == 10240 && kFmtRecordBytes == 16);

const char* HeaderFaultText(HeaderFault fault) {
    switch (fault) {
    case HeaderFault::NoRiff:
        return "no RIFF/WAVE header";
    case HeaderFault::NoFmt:
        return "no \"fmt \" chunk within the first 10240 bytes";
    case HeaderFault::FmtTooShort:
        return "its \"fmt \" chunk is shorter than 16 bytes";
    case HeaderFault::NoData:
        return "no \"data\" chunk within the first 10240 bytes";
    default:
        return "";
    }
}

} // namespace morvex
