#include "SampleFormat.h"

#include "ByteOrder.h"
#include "MorvexLimits.h"

#include <cstdio>
#include <cstring>

namespace morvex {

namespace {

constexpr int kBitsPerByte = 8;
constexpr uint16_t kMinPcmBits = 8;
constexpr uint16_t kMaxPcmBits = 32;
constexpr int kMaxPcmBytes = 4;
constexpr uint32_t kExtensionAt = 16;
constexpr uint32_t kValidBitsAt = 18;
constexpr uint32_t kSubFormatAt = 24;
// Every sub-format GUID ends like this; its first two bytes are the format tag it stands for.
constexpr uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// Ambisonic B-format PCM and float: the same samples, which libsndfile and ffmpeg read as such.
constexpr uint8_t kAmbisonicSubFormatTail[14] = {0x00, 0x00, 0x21, 0x07, 0xD3, 0x11, 0x86,
                                                 0x44, 0xC8, 0xC1, 0xCA, 0x00, 0x00, 0x00};

bool IsFloatBits(uint16_t bits) {
    return bits == 32 || bits == 64;
}

// The sample format of an extensible "fmt ": its sub-format, container and valid bits.
bool DescribeExtensible(const uint8_t* body, uint32_t bytes, SampleFormat& format, char* reason,
                        size_t reasonBytes) {
    if (bytes < kFmtExtensibleBytes) {
        std::snprintf(reason, reasonBytes, "an extensible \"fmt \" chunk of %u bytes, not 40",
                      bytes);
        return false;
    }
    const uint16_t subFormat = GetLE16(body + kSubFormatAt);
    const uint8_t* tail = body + kSubFormatAt + 2;
    if ((std::memcmp(tail, kSubFormatTail, sizeof kSubFormatTail) != 0 &&
         std::memcmp(tail, kAmbisonicSubFormatTail, sizeof kAmbisonicSubFormatTail) != 0) ||
        (subFormat != kFormatTagPcm && subFormat != kFormatTagFloat)) {
        std::snprintf(reason, reasonBytes, "its sub-format is neither integer PCM nor float");
        return false;
    }
    const uint16_t bits = GetLE16(body + 14);
    const uint16_t valid = GetLE16(body + kValidBitsAt);
    format.Float = subFormat == kFormatTagFloat;
    format.Extensible = true;
    format.ValidBits = valid == 0 ? bits : valid; // some writers leave it 0: all bits count
    if (bits % kBitsPerByte != 0 || format.ValidBits > bits) {
        std::snprintf(reason, reasonBytes, "%u valid bits in %u-bit samples", valid, bits);
        return false;
    }
    format.ContainerBytes = bits / kBitsPerByte;
    return true;
}

bool DescribeSampleKind(const uint8_t* body, uint32_t bytes, SampleFormat& format, char* reason,
                        size_t reasonBytes) {
    const uint16_t tag = GetLE16(body);
    const uint16_t bits = GetLE16(body + 14);
    switch (tag) {
    case kFormatTagPcm:
        format.ValidBits = bits;
        format.ContainerBytes = (bits + kBitsPerByte - 1) / kBitsPerByte;
        return true;
    case kFormatTagFloat:
        format.Float = true;
        format.ValidBits = bits;
        format.ContainerBytes = bits / kBitsPerByte;
        return true;
    case kFormatTagExtensible:
        return DescribeExtensible(body, bytes, format, reason, reasonBytes);
    default:
        std::snprintf(reason, reasonBytes, "format tag 0x%04X is neither integer PCM nor float",
                      tag);
        return false;
    }
}

bool CheckSampleSize(const SampleFormat& format, uint16_t bits, char* reason, size_t reasonBytes) {
    if (format.Float && !(IsFloatBits(bits) && format.ValidBits > 0)) {
        std::snprintf(reason, reasonBytes, "%u-bit float is not a sample format", bits);
        return false;
    }
    if (!format.Float && (format.ValidBits < kMinPcmBits || format.ValidBits > kMaxPcmBits ||
                          format.ContainerBytes > kMaxPcmBytes)) {
        std::snprintf(reason, reasonBytes, "%d-bit integer samples: 8 to 32 bits",
                      format.ValidBits);
        return false;
    }
    return true;
}

} // namespace

bool DescribeFormat(const uint8_t* body, uint32_t bytes, SampleFormat& format, char* reason,
                    size_t reasonBytes) {
    format = SampleFormat{};
    if (!DescribeSampleKind(body, bytes, format, reason, reasonBytes) ||
        !CheckSampleSize(format, GetLE16(body + 14), reason, reasonBytes)) {
        return false;
    }
    const uint16_t channels = GetLE16(body + 2);
    const uint16_t blockAlign = GetLE16(body + 12);
    format.Channels = channels;
    if (channels == 0) {
        // Zero channels would leave the conversion and the texts nothing to divide by.
        std::snprintf(reason, reasonBytes, "no channels");
    } else if (channels > kMaxChannels) {
        std::snprintf(reason, reasonBytes, "%u channels: at most %d", channels, kMaxChannels);
    } else if (GetLE32(body + 4) == 0) {
        std::snprintf(reason, reasonBytes, "a sample rate of 0");
    } else if (blockAlign != channels * format.ContainerBytes) {
        // The frame size the data is laid out in must be the one the split steps by.
        std::snprintf(reason, reasonBytes, "block align %u for %u channels of %d bytes", blockAlign,
                      channels, format.ContainerBytes);
    } else {
        return true;
    }
    return false;
}

SampleFormat DescribeStoredFormat(const void* record, const uint8_t* extension) {
    uint8_t body[kFmtExtensibleBytes];
    std::memcpy(body, record, kExtensionAt);
    std::memcpy(body + kExtensionAt, extension, kFmtExtensionBytes);
    const uint32_t bytes =
        GetLE16(body) == kFormatTagExtensible ? kFmtExtensibleBytes : kExtensionAt;
    SampleFormat format;
    char reason[kNoteTextBytes];
    DescribeFormat(body, bytes, format, reason, sizeof reason);
    return format;
}

void CopyFmtExtension(const uint8_t* body, uint32_t bytes, uint8_t* extension) {
    const bool extensible = GetLE16(body) == kFormatTagExtensible && bytes >= kFmtExtensibleBytes;
    if (extensible) {
        std::memcpy(extension, body + kExtensionAt, kFmtExtensionBytes);
    } else {
        std::memset(extension, 0, kFmtExtensionBytes);
    }
}

} // namespace morvex
