#pragma once

#include <cstdint>

// Output file headers. Pure functions of the header values; they write into the caller's buffer.
namespace morvex {

inline constexpr int kWavHeaderBytes = 80;
inline constexpr int kCafHeaderBytes = 68;
inline constexpr uint64_t kRf64FileBytes = 1ULL << 31; // a file this large or larger is RF64

struct HeaderValues {
    uint64_t DataBytes = 0; // sample bytes behind the header
    int Channels = 0;       // channels in the file, 1 to 60
    int BytesPerSample = 0; // 1 to 4
    uint32_t SampleRate = 0;
};

// True when a WAV output of this many sample bytes must be written as RF64.
bool NeedsRf64(uint64_t dataBytes);

// 80 bytes: RIFF/WAVE with a JUNK chunk, or RF64 with a ds64 chunk in its place.
void BuildWavHeader(const HeaderValues& values, uint8_t* out);
// 68 bytes: caff with desc and data chunks, numbers big-endian.
void BuildCafHeader(const HeaderValues& values, uint8_t* out);

// The header written before the sample data is known: the final layout whose sizes say
// "unknown", so a file left by a killed run reads as the audio it holds, never as another
// length. WAV: RIFF and data sizes 0xFFFFFFFF; CAF: data chunk size -1.
void BuildProvisionalWavHeader(const HeaderValues& values, uint8_t* out);
void BuildProvisionalCafHeader(const HeaderValues& values, uint8_t* out);

// Header size of an output format (WAV 80, CAF 68), 0 for an unknown format.
int HeaderBytesForFormat(int format);

} // namespace morvex
