#include "TestTake.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>

namespace testtake {

namespace {

void PutTag(Bytes& out, const char tag[4]) {
    out.insert(out.end(), tag, tag + 4);
}

void Put16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(Bytes& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(v >> shift));
    }
}

void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

} // namespace

Bytes Chunk(const char tag[4], const Bytes& body) {
    Bytes out;
    PutTag(out, tag);
    Put32(out, static_cast<uint32_t>(body.size()));
    Append(out, body);
    if (body.size() % 2 != 0) {
        out.push_back(0);
    }
    return out;
}

Bytes MakeWav(const WavFormat& format, const Bytes& sampleData, const WavLayout& layout) {
    const uint16_t blockAlign =
        format.blockAlign != 0 ? format.blockAlign : static_cast<uint16_t>(format.FrameBytes());
    const uint32_t avgBytes =
        format.avgBytesPerSec != 0 ? format.avgBytesPerSec : format.sampleRate * blockAlign;

    Bytes body; // everything after "RIFF" size
    PutTag(body, "WAVE");
    Append(body, layout.chunksBeforeFmt);
    PutTag(body, "fmt ");
    Put32(body, 16 + layout.fmtExtraBytes);
    Put16(body, static_cast<uint16_t>(format.formatTag));
    Put16(body, format.channels);
    Put32(body, format.sampleRate);
    Put32(body, avgBytes);
    Put16(body, blockAlign);
    Put16(body, format.bitsPerSample);
    body.insert(body.end(), layout.fmtExtraBytes, 0);
    Append(body, layout.chunksBeforeData);
    PutTag(body, "data");
    Put32(body, layout.dataSizeFromBody ? static_cast<uint32_t>(sampleData.size())
                                        : layout.dataSizeOverride);
    Append(body, sampleData);
    Append(body, layout.trailingBytes);

    Bytes out = layout.leadingBytes;
    PutTag(out, "RIFF");
    Put32(out, static_cast<uint32_t>(body.size()));
    Append(out, body);
    return out;
}

Bytes PatternSamples(uint32_t frames, int channels, int bytesPerSample, uint32_t seed) {
    Bytes out;
    out.reserve(static_cast<size_t>(frames) * channels * bytesPerSample);
    for (uint32_t f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            // A cheap hash keeps neighbouring samples distinct in every byte.
            uint32_t v = (f * 2654435761U) ^ (static_cast<uint32_t>(c + 1) * 40503U) ^ seed;
            v ^= v >> 13;
            v *= 0x5bd1e995U;
            v ^= v >> 15;
            for (int b = 0; b < bytesPerSample; ++b) {
                out.push_back(static_cast<uint8_t>(v >> (8 * b)));
            }
        }
    }
    return out;
}

Bytes SampleAt(const Bytes& data, int channels, int bytesPerSample, uint64_t frame, int channel) {
    const size_t at = (static_cast<size_t>(frame) * channels + channel) * bytesPerSample;
    return Bytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                 data.begin() + static_cast<std::ptrdiff_t>(at + bytesPerSample));
}

std::string SchemeName(int take, int fileNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "MKZ%02d_%02d.WAV", take, fileNumber);
    return name;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> WriteTake(const std::string& directory, int take, int firstFileNumber,
                                   const WavFormat& format, const Bytes& stream,
                                   const std::vector<size_t>& cuts, const WavLayout& layout) {
    std::vector<std::string> paths;
    size_t begin = 0;
    for (size_t i = 0; i <= cuts.size(); ++i) {
        const size_t end = i < cuts.size() ? cuts[i] : stream.size();
        const Bytes part(stream.begin() + static_cast<std::ptrdiff_t>(begin),
                         stream.begin() + static_cast<std::ptrdiff_t>(end));
        const std::string path =
            directory + "/" + SchemeName(take, firstFileNumber + static_cast<int>(i));
        WriteFile(path, MakeWav(format, part, layout));
        paths.push_back(path);
        begin = end;
    }
    return paths;
}

} // namespace testtake
