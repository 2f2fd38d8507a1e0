#include "TestTake.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>

namespace testtake {

namespace {

void PutTag(Bytes& out, const char tag[4]) {
    out.insert(out.end(), tag, tag + 4);
}

void PutLe(Bytes& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

} // namespace

Bytes Chunk(const char tag[4], const Bytes& body) {
    Bytes out;
    PutTag(out, tag);
    PutLe(out, static_cast<uint32_t>(body.size()), 4);
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
    PutLe(body, 16 + layout.fmtExtraBytes, 4);
    PutLe(body, static_cast<uint16_t>(format.formatTag), 2);
    PutLe(body, format.channels, 2);
    PutLe(body, format.sampleRate, 4);
    PutLe(body, avgBytes, 4);
    PutLe(body, blockAlign, 2);
    PutLe(body, format.bitsPerSample, 2);
    body.insert(body.end(), layout.fmtExtraBytes, 0);
    Append(body, layout.chunksBeforeData);
    PutTag(body, "data");
    PutLe(body,
          layout.dataSizeFromBody ? static_cast<uint32_t>(sampleData.size())
                                  : layout.dataSizeOverride,
          4);
    Append(body, sampleData);
    Append(body, layout.trailingBytes);

    Bytes out = layout.leadingBytes;
    PutTag(out, "RIFF");
    PutLe(out, static_cast<uint32_t>(body.size()), 4);
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
            PutLe(out, v, bytesPerSample);
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
    // One read of the whole file: takes of many MB are read back in debug builds.
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    Bytes bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0).read(reinterpret_cast<char*>(bytes.data()),
                     static_cast<std::streamsize>(bytes.size()));
    return bytes;
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
