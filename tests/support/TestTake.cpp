#include "TestTake.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace testtake {

Bytes Le(uint64_t v, int bytes) {
    Bytes out;
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes Chunk(const char tag[4], const Bytes& body) {
    Bytes out = Cat({Bytes(tag, tag + 4), Le(static_cast<uint32_t>(body.size()), 4), body});
    out.resize(out.size() + body.size() % 2);
    return out;
}

Bytes MakeWav(const WavFormat& f, const Bytes& sampleData, const WavLayout& layout) {
    const auto align = static_cast<uint32_t>(f.FrameBytes());
    // The extensible "fmt ": its size, valid bits, no speaker positions, and the sub-format GUID.
    const Bytes guidTail = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    const Bytes validBits = Le(f.validBits != 0 ? f.validBits : f.bitsPerSample, 2);
    const Bytes extension =
        f.extensible ? Cat({Le(22, 2), validBits, Le(0, 4), Le(f.formatTag, 2), guidTail})
                     : Bytes{};
    const Bytes fmt =
        Cat({Le(f.extensible ? 0xFFFE : f.formatTag, 2), Le(f.channels, 2), Le(f.sampleRate, 4),
             Le(f.avgBytesPerSec != 0 ? f.avgBytesPerSec : f.sampleRate * align, 4),
             Le(f.blockAlign != 0 ? f.blockAlign : align, 2), Le(f.bitsPerSample, 2), extension,
             Bytes(layout.fmtExtraBytes, 0)});
    const Bytes pad(layout.padData ? sampleData.size() % 2 : 0, 0);
    const Bytes body =
        Cat({Bytes{'W', 'A', 'V', 'E'}, Chunk("fmt ", fmt), layout.chunksBeforeData,
             Bytes{'d', 'a', 't', 'a'},
             Le(layout.dataSize.value_or(static_cast<uint32_t>(sampleData.size())), 4), sampleData,
             pad, layout.trailingBytes});
    return Cat({Bytes{'R', 'I', 'F', 'F'}, Le(static_cast<uint32_t>(body.size()), 4), body});
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
            // 8-byte (64-bit float) samples take a second word of the same hash.
            const uint64_t wide = v | static_cast<uint64_t>(v * 0x9E3779B1U) << 32;
            for (int i = 0; i < bytesPerSample; ++i) {
                out.push_back(static_cast<uint8_t>(wide >> (8 * i)));
            }
        }
    }
    return out;
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
    std::ifstream in(path, std::ios::binary | std::ios::ate); // one read: takes of many MB
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    Bytes bytes(static_cast<size_t>(in.tellg()));
    in.seekg(0).read(reinterpret_cast<char*>(bytes.data()),
                     static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

std::vector<std::string> WriteTake(const std::string& directory, int take, int firstFileNumber,
                                   const WavFormat& format, const Bytes& stream,
                                   const std::vector<size_t>& cuts, const WavLayout& layout) {
    std::vector<std::string> paths;
    for (size_t i = 0, begin = 0; i <= cuts.size(); ++i) {
        const size_t end = i < cuts.size() ? cuts[i] : stream.size();
        const Bytes part(stream.begin() + static_cast<std::ptrdiff_t>(begin),
                         stream.begin() + static_cast<std::ptrdiff_t>(end));
        paths.push_back(directory + "/" + SchemeName(take, firstFileNumber + static_cast<int>(i)));
        WriteFile(paths.back(), MakeWav(format, part, layout));
        begin = end;
    }
    return paths;
}

} // namespace testtake
