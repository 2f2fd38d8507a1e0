#include "OutputHeaders.h"

#include "ByteOrder.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

namespace morvex {

namespace {

constexpr uint32_t kUnknownSize32 = 0xFFFFFFFFU;
constexpr uint32_t kDs64ChunkBytes = 28;
constexpr uint32_t kFmtChunkBytes = 16;
constexpr uint32_t kFmtFloatChunkBytes = 18;
constexpr uint32_t kFmtExtensibleChunkBytes = 40;
constexpr uint16_t kExtensionBytes = 22;
constexpr uint32_t kFactChunkBytes = 4;
constexpr uint16_t kPcmFormatTag = 1;
constexpr uint16_t kFloatFormatTag = 3;
constexpr uint16_t kExtensibleFormatTag = 0xFFFE;
// The sub-format GUID of the extensible "fmt " behind its format tag: KSDATAFORMAT_SUBTYPE_*.
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr int kBitsPerByte = 8;
constexpr uint32_t kChunkHeaderBytes = 8;

constexpr uint16_t kCafVersion = 1;
constexpr int64_t kCafDescChunkBytes = 32;
constexpr uint32_t kCafLinearPcmLittleEndianInteger = 2;
constexpr uint32_t kCafLinearPcmFloat = 1;
constexpr uint32_t kCafFramesPerPacket = 1;
constexpr uint32_t kCafEditCountBytes = 4;
constexpr int64_t kCafSizeToEndOfFile = -1;

// Offsets of the WAV/RF64 header.
constexpr int kRiffSizeAt = 4;
constexpr int kJunkTagAt = 12;
constexpr int kDs64RiffSizeAt = 20;
constexpr int kDs64DataSizeAt = 28;
constexpr int kDs64SampleCountAt = 36;
constexpr int kDs64TableLengthAt = 44;
constexpr int kFmtTagAt = 48;
constexpr int kFmtBodyAt = 56;

// Float samples take the "fmt " with its extension size (0), as readers expect of any format
// other than integer PCM.
uint32_t FmtChunkBytes(const HeaderValues& v) {
    if (v.Extensible) {
        return kFmtExtensibleChunkBytes;
    }
    return v.Float ? kFmtFloatChunkBytes : kFmtChunkBytes;
}

uint32_t Padded(uint32_t bytes) {
    return bytes + (bytes & 1U);
}

// The whole chunk, header and pad byte, or nothing when it has no body.
uint32_t ChunkBytes(uint32_t bodyBytes) {
    return bodyBytes == 0 ? 0 : kChunkHeaderBytes + Padded(bodyBytes);
}

int DataSizeAt(const HeaderValues& v) {
    return WavHeaderBytes(v) - 4;
}

// A chunk at `at`, its body copied (or left zero); answers where the next one starts.
uint8_t* PutChunk(uint8_t* at, const char (&tag)[5], const uint8_t* body, uint32_t bytes) {
    if (bytes == 0) {
        return at;
    }
    PutTag(at, tag);
    PutLE32(at + 4, bytes);
    if (body != nullptr) {
        std::memcpy(at + kChunkHeaderBytes, body, bytes);
    }
    return at + ChunkBytes(bytes);
}

void PutExtension(const HeaderValues& v, uint32_t bits, uint8_t* fmt) {
    PutLE16(fmt, kExtensibleFormatTag);
    PutLE16(fmt + 16, kExtensionBytes);
    PutLE16(fmt + 18, static_cast<uint16_t>(bits)); // valid bits: the whole bytes, as ever
    PutLE32(fmt + 20, v.ChannelMask);
    PutLE16(fmt + 24, v.Float ? kFloatFormatTag : kPcmFormatTag);
    std::memcpy(fmt + 26, kSubFormatTail, sizeof kSubFormatTail);
}

// The chunks between "fmt " and "data": fact (the frames, or all ones when they pass 32 bits;
// RF64 keeps the true count in ds64), bext, iXML.
void PutChunksBeforeData(const HeaderValues& v, uint8_t* at) {
    if (v.Fact) {
        const uint64_t frameBytes = static_cast<uint64_t>(v.Channels) * v.BytesPerSample;
        const uint64_t frames = frameBytes == 0 ? 0 : v.DataBytes / frameBytes;
        uint8_t count[kFactChunkBytes];
        PutLE32(count, static_cast<uint32_t>(std::min<uint64_t>(frames, kUnknownSize32)));
        at = PutChunk(at, "fact", count, kFactChunkBytes);
    }
    at = PutChunk(at, "bext", v.Bext, v.BextBytes);
    PutChunk(at, v.Ixml != nullptr || v.IxmlBytes == 0 ? "iXML" : "JUNK", v.Ixml, v.IxmlBytes);
}

// Everything the WAV and RF64 layouts share: tags, chunk sizes and the format chunk.
void FillWavCommon(const HeaderValues& v, uint8_t* out, const char (&riffTag)[5],
                   const char (&firstChunkTag)[5]) {
    std::memset(out, 0, static_cast<size_t>(WavHeaderBytes(v)));
    PutTag(out, riffTag);
    PutTag(out + 8, "WAVE");
    PutTag(out + kJunkTagAt, firstChunkTag);
    PutLE32(out + 16, kDs64ChunkBytes);
    PutTag(out + kFmtTagAt, "fmt ");
    PutLE32(out + 52, FmtChunkBytes(v));
    const uint64_t bits = static_cast<uint64_t>(kBitsPerByte) * v.BytesPerSample;
    const auto channels = static_cast<uint64_t>(v.Channels);

    // The product in 64 bits: 64 channels of 64-bit float pass 2^32 at high rates, where the
    // field then says as much as it can hold.
    const uint64_t bytesPerSecond = v.SampleRate * bits * channels / kBitsPerByte;
    uint8_t* fmt = out + kFmtBodyAt;
    PutLE16(fmt, v.Float ? kFloatFormatTag : kPcmFormatTag);
    PutLE16(fmt + 2, static_cast<uint16_t>(channels));
    PutLE32(fmt + 4, v.SampleRate);
    PutLE32(fmt + 8, static_cast<uint32_t>(std::min<uint64_t>(bytesPerSecond, UINT32_MAX)));
    PutLE16(fmt + 12, static_cast<uint16_t>(bits * channels / kBitsPerByte));
    PutLE16(fmt + 14, static_cast<uint16_t>(bits));
    if (v.Extensible) {
        PutExtension(v, static_cast<uint32_t>(bits), fmt);
    }
    PutChunksBeforeData(v, fmt + FmtChunkBytes(v));
    PutTag(out + DataSizeAt(v) - 4, "data");
}

void FillCaf(const HeaderValues& v, int64_t dataChunkSize, uint8_t* out) {
    std::memset(out, 0, kCafHeaderBytes);
    const auto channels = static_cast<uint32_t>(v.Channels);
    const auto bytesPerSample = static_cast<uint32_t>(v.BytesPerSample);
    PutTag(out, "caff");
    PutBE16(out + 4, kCafVersion);
    PutBE16(out + 6, 0);
    PutTag(out + 8, "desc");
    PutBE64(out + 12, static_cast<uint64_t>(kCafDescChunkBytes));
    PutBE64(out + 20, std::bit_cast<uint64_t>(static_cast<double>(v.SampleRate)));
    PutTag(out + 28, "lpcm");
    PutBE32(out + 32, kCafLinearPcmLittleEndianInteger | (v.Float ? kCafLinearPcmFloat : 0U));
    PutBE32(out + 36, channels * bytesPerSample);
    PutBE32(out + 40, kCafFramesPerPacket);
    PutBE32(out + 44, channels);
    PutBE32(out + 48, kBitsPerByte * bytesPerSample);
    PutTag(out + 52, "data");
    PutBE64(out + 56, static_cast<uint64_t>(dataChunkSize));
    PutBE32(out + 64, 0); // edit count
}

} // namespace

int WavHeaderBytes(const HeaderValues& v) {
    const uint32_t beforeData = (v.Fact ? ChunkBytes(kFactChunkBytes) : 0) +
                                ChunkBytes(v.BextBytes) + ChunkBytes(v.IxmlBytes);
    return kFmtBodyAt + static_cast<int>(FmtChunkBytes(v) + beforeData + kChunkHeaderBytes);
}

bool NeedsRf64(uint64_t dataBytes, int headerBytes) {
    return dataBytes >= kRf64FileBytes - static_cast<uint64_t>(headerBytes);
}

void BuildWavHeader(const HeaderValues& v, uint8_t* out) {
    const uint64_t riffSize = v.DataBytes + static_cast<uint64_t>(WavHeaderBytes(v)) - 8;
    if (!NeedsRf64(v.DataBytes, WavHeaderBytes(v))) {
        FillWavCommon(v, out, "RIFF", "JUNK");
        PutLE32(out + kRiffSizeAt, static_cast<uint32_t>(riffSize));
        PutLE32(out + DataSizeAt(v), static_cast<uint32_t>(v.DataBytes));
        return;
    }
    FillWavCommon(v, out, "RF64", "ds64");
    const uint64_t frameBytes = static_cast<uint64_t>(v.Channels) * v.BytesPerSample;
    PutLE32(out + kRiffSizeAt, kUnknownSize32);
    PutLE64(out + kDs64RiffSizeAt, riffSize);
    PutLE64(out + kDs64DataSizeAt, v.DataBytes);
    PutLE64(out + kDs64SampleCountAt, frameBytes == 0 ? 0 : v.DataBytes / frameBytes);
    PutLE32(out + kDs64TableLengthAt, 0);
    PutLE32(out + DataSizeAt(v), kUnknownSize32);
}

void BuildCafHeader(const HeaderValues& v, uint8_t* out) {
    FillCaf(v, static_cast<int64_t>(v.DataBytes + kCafEditCountBytes), out);
}

void BuildProvisionalWavHeader(const HeaderValues& v, uint8_t* out) {
    FillWavCommon(v, out, "RIFF", "JUNK");
    PutLE32(out + kRiffSizeAt, kUnknownSize32);
    PutLE32(out + DataSizeAt(v), kUnknownSize32);
}

void BuildProvisionalCafHeader(const HeaderValues& v, uint8_t* out) {
    FillCaf(v, kCafSizeToEndOfFile, out);
}

} // namespace morvex
