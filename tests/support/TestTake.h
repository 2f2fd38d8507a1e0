#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

// Writes WAV takes for the tests: headers with chosen fields, tags and extra chunks, sample data
// whose every sample names its channel and frame, and takes cut into follower files anywhere.
namespace testtake {

using Bytes = std::vector<uint8_t>;

struct WavFormat {
    uint16_t channels = 2;
    uint16_t bitsPerSample = 16;
    uint32_t sampleRate = 48000;
    uint32_t avgBytesPerSec = 0; // 0: derived from the others
    uint16_t blockAlign = 0;     // 0: derived from the others
    uint16_t formatTag = 1;      // 1 integer PCM, 3 float, or another tag for refusals
    bool extensible = false;     // an extensible "fmt " whose sub-format is formatTag
    uint16_t validBits = 0;      // of the extensible "fmt "; 0: bitsPerSample

    int BytesPerSample() const { return (bitsPerSample + 7) / 8; }
    int FrameBytes() const { return BytesPerSample() * channels; }
};

struct WavLayout {
    Bytes chunksBeforeData{};           // whole chunks (tag, size, body) between "fmt " and "data"
    uint32_t fmtExtraBytes = 0;         // body bytes of "fmt " beyond its 16
    std::optional<uint32_t> dataSize{}; // declared in the data chunk; unset: the body's size
    Bytes trailingBytes{};              // bytes after the data chunk, such as further chunks
    bool padData = false;               // a pad byte after data of odd size, as RIFF asks
};

// `value` in `bytes` little-endian bytes; parts joined in order.
Bytes Le(uint64_t value, int bytes);
Bytes Cat(std::initializer_list<Bytes> parts);
// A whole chunk: tag, little-endian size and body, padded to even length.
Bytes Chunk(const char tag[4], const Bytes& body);

// The bytes of a WAV file holding the given sample data.
Bytes MakeWav(const WavFormat& format, const Bytes& sampleData, const WavLayout& layout = {});

// `frames` frames whose sample (f, c) is derived from f, c and the seed, little-endian in
// `bytesPerSample` bytes, so a shifted channel or frame shows.
Bytes PatternSamples(uint32_t frames, int channels, int bytesPerSample, uint32_t seed = 1);

std::string SchemeName(int take, int fileNumber); // "MKZ%02d_%02d.WAV"

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);

// The stream cut at the given byte positions (also inside frames) into files named by the
// recorder's scheme from `firstFileNumber` on; answers the paths, the start file first.
std::vector<std::string> WriteTake(const std::string& directory, int take, int firstFileNumber,
                                   const WavFormat& format, const Bytes& stream,
                                   const std::vector<size_t>& cuts, const WavLayout& layout = {});

} // namespace testtake
