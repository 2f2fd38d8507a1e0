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
constexpr uint16_t kPcmFormatTag = 1;
constexpr uint16_t kFloatFormatTag = 3;
constexpr int kBitsPerByte = 8;

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
    return v.Float ? kFmtFloatChunkBytes : kFmtChunkBytes;
}

int DataSizeAt(const HeaderValues& v) {
    return WavHeaderBytes(v) - 4;
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
    return kFmtBodyAt + static_cast<int>(FmtChunkBytes(v)) + 8;
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
