#include "InputContainer.h"

#include <cstring>

namespace morvex {

namespace {

constexpr uint32_t kRiffFormBytes = 12;   // "RIFF", size, "WAVE"
constexpr uint32_t kWave64FormBytes = 40; // GUID, 64-bit size, GUID
constexpr uint32_t kRiffChunkHeaderBytes = 8;
constexpr uint32_t kWave64ChunkHeaderBytes = 24;
constexpr uint32_t kRiffAlign = 2;
constexpr uint32_t kWave64Align = 8;

// As Sony's format names them, and as libsndfile and ffmpeg write them.
constexpr uint8_t kWave64RiffGuid[kWave64GuidBytes] = {
    0x72, 0x69, 0x66, 0x66, 0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
constexpr uint8_t kWave64ChunkGuidTail[kWave64GuidBytes - 4] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1,
                                                                0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
constexpr uint8_t kWave64WaveGuid[kWave64GuidBytes] = {
    0x77, 0x61, 0x76, 0x65, 0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};

constexpr InputContainerInfo kWav{"WAV",      "RIFF",         nullptr,
                                  nullptr,    kRiffFormBytes, kRiffChunkHeaderBytes,
                                  kRiffAlign, false,          false};
constexpr InputContainerInfo kRf64{"RF64",     "RF64",         nullptr,
                                   nullptr,    kRiffFormBytes, kRiffChunkHeaderBytes,
                                   kRiffAlign, false,          true};
constexpr InputContainerInfo kBw64{"BW64",     "BW64",         nullptr,
                                   nullptr,    kRiffFormBytes, kRiffChunkHeaderBytes,
                                   kRiffAlign, false,          true};
constexpr InputContainerInfo kWave64{"Wave64",
                                     nullptr,
                                     kWave64RiffGuid,
                                     kWave64WaveGuid,
                                     kWave64FormBytes,
                                     kWave64ChunkHeaderBytes,
                                     kWave64Align,
                                     true,
                                     false};

} // namespace

const InputContainerInfo& DescribeContainer(InputContainer container) {
    switch (container) {
    case InputContainer::Wav:
        return kWav;
    case InputContainer::Rf64:
        return kRf64;
    case InputContainer::Bw64:
        return kBw64;
    case InputContainer::Wave64:
        return kWave64;
    }
    return kWav; // not reached: every enumerator has its case
}

bool IsWave64Guid(const uint8_t* guid, const char (&tag)[5]) {
    return std::memcmp(guid, tag, 4) == 0 &&
           std::memcmp(guid + 4, kWave64ChunkGuidTail, sizeof kWave64ChunkGuidTail) == 0;
}

} // namespace morvex
