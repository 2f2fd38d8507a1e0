#pragma once

#include <cstddef>
#include <cstdint>

// What the "fmt " chunk says about the samples, and whether they can be split exactly.
namespace morvex {

inline constexpr uint32_t kFmtExtensibleBytes = 40;
// Behind the 16-byte record of an extensible "fmt ": size, valid bits, channel mask, sub-format.
inline constexpr int kFmtExtensionBytes = 24;
inline constexpr uint16_t kFormatTagPcm = 1;
inline constexpr uint16_t kFormatTagFloat = 3;
inline constexpr uint16_t kFormatTagExtensible = 0xFFFE;

struct SampleFormat {
    bool Float = false;
    bool Extensible = false; // the file's "fmt " is the extensible one
    int Channels = 0;
    int ContainerBytes = 0; // bytes each sample takes in a frame
    int ValidBits = 0;      // bits of them that carry the sample
};

// Reads a "fmt " body of `bytes` bytes. False, with the reason in words, for samples that cannot
// be split exactly: not integer PCM or float, an unknown size, more channels than an output
// name can number, or a frame that is not the channels' samples side by side.
bool DescribeFormat(const uint8_t* fmtBody, uint32_t bytes, SampleFormat& format, char* reason,
                    size_t reasonBytes);

// The format of a take as stored: its 16-byte record and the extension CopyFmtExtension kept.
SampleFormat DescribeStoredFormat(const void* record, const uint8_t* extension);

// The extension behind the 16-byte record, as the file has it; zeros for a file without one.
void CopyFmtExtension(const uint8_t* fmtBody, uint32_t bytes, uint8_t* extension);

} // namespace morvex
