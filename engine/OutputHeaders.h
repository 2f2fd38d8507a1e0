#pragma once

#include <cstdint>

// Output file headers. Pure functions of the header values; they write into the caller's buffer.
namespace morvex {

inline constexpr int kWavHeaderBytes = 80;
// The same layout for float samples, whose "fmt " carries its (empty) extension size: 18 bytes.
inline constexpr int kWavFloatHeaderBytes = 82;
inline constexpr int kCafHeaderBytes = 68;
inline constexpr uint64_t kRf64FileBytes = 1ULL << 31; // a file this large or larger is RF64

struct HeaderValues {
    uint64_t DataBytes = 0; // sample bytes behind the header
    int Channels = 0;       // channels in the file, 1 to 64
    int BytesPerSample = 0; // 1 to 4 for integer samples, 4 or 8 for float
    uint32_t SampleRate = 0;
    // The headers say the samples' whole bytes even where fewer bits are valid: sox cannot open
    // a WAV file that says so, and libsndfile misreads such a CAF file.
    bool Float = false;

    // What a WAV output carries beside its samples; with none of it the header is the plain one.
    // The extensible "fmt " (40 bytes) with the speakers of the output's channels (0: none).
    bool Extensible = false;
    uint32_t ChannelMask = 0;
    bool Fact = false; // a fact chunk with the frame count
    // bext and iXML chunk bodies of these sizes (each padded to even). A null body: zeros for
    // bext; for iXML a JUNK chunk of its size, which keeps the header's size for an output that
    // carries none.
    const uint8_t* Bext = nullptr;
    uint32_t BextBytes = 0;
    const uint8_t* Ixml = nullptr;
    uint32_t IxmlBytes = 0;
};

// True when a WAV output of this many sample bytes behind a header of `headerBytes` must be
// written as RF64.
bool NeedsRf64(uint64_t dataBytes, int headerBytes = kWavHeaderBytes);

// RIFF/WAVE with a JUNK chunk, or RF64 with a ds64 chunk in its place (first, so either can be
// written over the other), then "fmt ", fact, bext, iXML and data. 80 bytes without any of the
// chunks beside the samples; 82 for float samples (format tag 3).
void BuildWavHeader(const HeaderValues& values, uint8_t* out);
// 68 bytes: caff with desc and data chunks, numbers big-endian.
void BuildCafHeader(const HeaderValues& values, uint8_t* out);

// The header written before the sample data is known: the final layout whose sizes say
// "unknown", so a file left by a killed run reads as the audio it holds, never as another
// length. WAV: RIFF and data sizes 0xFFFFFFFF; CAF: data chunk size -1.
void BuildProvisionalWavHeader(const HeaderValues& values, uint8_t* out);
void BuildProvisionalCafHeader(const HeaderValues& values, uint8_t* out);

// The size of the WAV header for outputs of these values (without metadata: 82 for float
// samples, else 80).
int WavHeaderBytes(const HeaderValues& values);

} // namespace morvex
