// Small takes of any shape through a whole conversion: channels, word length, type, format, files
// cut anywhere (also inside a frame), a chunk behind the data, the source end, a follower that
// changes after adding, and a stop after any step. Checks what the run leaves on disk.
//
// Input: 8 parameter bytes (see Params), then bytes that are repeated as the sample stream.
#include "FuzzUtil.h"
#include "MorvexWorker.h"
#include "TempDir.h"
#include "TestTake.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace {

// Whether anything, a dangling link included, has this name.
bool FileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

using fuzzutil::Check;

using testtake::Bytes;

struct Params {
    int Channels;
    int Bits;
    int Type;   // 3 acts as 0
    int Format; // 2 is unknown: the task fails at its start
    int Files;
    int Change; // 0 none, 1 follower 1 gets another rate, 2 follower 1 is removed
    bool Trailing;
    int EndIndex;
    int StopAfter; // -1: no stop
    bool Rf64;     // every file as RF64, its data size in a ds64 chunk
    size_t Frames;
    size_t Extra; // bytes of an incomplete last frame
    std::vector<size_t> Cuts;
};

Params Decode(const uint8_t* p, size_t streamSeed) {
    Params params{};
    params.Channels = 1 + p[0] % morvex::kMaxChannels;
    params.Bits = 8 + p[1] % 25;
    params.Type = p[2] & 3;
    params.Format = (p[2] >> 2) % 3;
    params.Files = 1 + (p[3] & 3);
    params.Change = (p[3] >> 2) % 3;
    params.Trailing = (p[3] & 0x40) != 0;
    params.EndIndex = (p[3] >> 4) % params.Files;
    params.StopAfter = (p[4] & 0x80) != 0 ? p[4] & 0x7f : -1;
    params.Frames = (p[5] | static_cast<size_t>(p[6] & 7) << 8);
    params.Rf64 = (p[6] & 8) != 0;
    const size_t frameBytes = static_cast<size_t>(params.Channels) * ((params.Bits + 7) / 8);
    params.Extra = p[7] % frameBytes;
    const size_t total = params.Frames * frameBytes + params.Extra;
    for (int i = 1; i < params.Files; ++i) {
        params.Cuts.push_back((streamSeed * static_cast<size_t>(i) * 2654435761U) % (total + 1));
    }
    std::sort(params.Cuts.begin(), params.Cuts.end());
    return params;
}

// The bytes an output must hold behind its header: the channels [first, first + perFile) of every
// complete frame of the stream, with the top bit of 8-bit samples flipped for CAF.
Bytes ExpectedData(const Bytes& stream, int channels, int bps, int first, int perFile, bool caf) {
    const size_t frameBytes = static_cast<size_t>(channels) * bps;
    Bytes out;
    for (size_t f = 0; f + frameBytes <= stream.size(); f += frameBytes) {
        const auto* at = stream.data() + f + static_cast<size_t>(first) * bps;
        out.insert(out.end(), at, at + static_cast<size_t>(perFile) * bps);
    }
    if (caf && bps == 1) {
        for (uint8_t& b : out) {
            b ^= 0x80;
        }
    }
    return out;
}

// The same file as RF64: a ds64 chunk before "fmt " holds the data size, the data chunk's says
// "unknown" (a data size of 0 stays 0 in ds64: a recording never finished).
void MakeRf64(const std::string& path) {
    const Bytes wav = fuzzutil::ReadAll(path);
    size_t data = 12;
    while (data + 8 <= wav.size() && std::memcmp(wav.data() + data, "data", 4) != 0) {
        data += 8 + (wav[data + 4] | wav[data + 5] << 8 | wav[data + 6] << 16 |
                     static_cast<size_t>(wav[data + 7]) << 24);
        data += data % 2;
    }
    Bytes ds64 = {'d', 's', '6', '4', 28, 0, 0, 0};
    ds64.resize(8 + 28, 0);
    const uint64_t sizes[] = {wav.size() + ds64.size() - 8,
                              wav[data + 4] | wav[data + 5] << 8 | wav[data + 6] << 16 |
                                  static_cast<uint64_t>(wav[data + 7]) << 24};
    for (int i = 0; i < 16; ++i) {
        ds64[8 + i] = static_cast<uint8_t>(sizes[i / 8] >> (8 * (i % 8)));
    }
    Bytes rf64{'R', 'F', '6', '4', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E'};
    rf64.insert(rf64.end(), ds64.begin(), ds64.end());
    rf64.insert(rf64.end(), wav.begin() + 12, wav.end());
    std::fill_n(rf64.begin() + static_cast<long>(data + ds64.size() + 4), 4, 0xFF);
    testtake::WriteFile(path, rf64);
}

uint64_t BigEndian64(const uint8_t* at) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) {
        v = v << 8 | at[i];
    }
    return v;
}

// Checks every output of a done task; answers how many there are.
size_t CheckOutputs(const std::string& base, const Params& params, const Bytes& converted) {
    const int bps = (params.Bits + 7) / 8;
    const int perFile = params.Type == morvex::kTypePairs ? 2
                        : params.Type == morvex::kTypeAll ? params.Channels
                                                          : 1;
    const bool caf = params.Format == morvex::kFormatCaf;
    const size_t header = caf ? 68 : 80;
    for (int first = 0; first < params.Channels; first += perFile) {
        char name[32];
        std::snprintf(name, sizeof name, "_%02d.%s", first + 1, caf ? "caf" : "wav");
        const Bytes file = fuzzutil::ReadAll(base + name);
        const Bytes data = ExpectedData(converted, params.Channels, bps, first, perFile, caf);
        Check(file.size() == header + data.size());
        Check(std::equal(data.begin(), data.end(), file.begin() + static_cast<long>(header)));
        if (caf) {
            Check(std::memcmp(file.data(), "caff", 4) == 0);
            Check(BigEndian64(file.data() + 56) == data.size() + 4);
        } else {
            Check(std::memcmp(file.data(), "RIFF", 4) == 0 || data.size() + 80 >= (1U << 31));
            const uint32_t dataSize =
                file[76] | file[77] << 8 | file[78] << 16 | static_cast<uint32_t>(file[79]) << 24;
            Check(dataSize == data.size());
        }
    }
    return static_cast<size_t>((params.Channels + perFile - 1) / perFile);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9) {
        return 0;
    }
    const Params params = Decode(data, size);
    testtake::WavFormat format;
    format.channels = static_cast<uint16_t>(params.Channels);
    format.bitsPerSample = static_cast<uint16_t>(params.Bits);
    Bytes stream(params.Frames * static_cast<size_t>(format.FrameBytes()) + params.Extra);
    for (size_t i = 0; i < stream.size(); ++i) {
        stream[i] = data[8 + i % (size - 8)];
    }
    testtake::WavLayout layout;
    layout.padData = true;
    if (params.Trailing) {
        layout.trailingBytes = testtake::Chunk("LIST", Bytes(3, 0x11));
    }

    const TempDir dir;
    const std::vector<std::string> paths =
        testtake::WriteTake(dir.Path(), 1, 1, format, stream, params.Cuts, layout);
    for (const std::string& path : params.Rf64 ? paths : std::vector<std::string>{}) {
        MakeRf64(path);
    }
    // A file with no sample bytes is 44 bytes long: too short to start or to continue a take
    // (RF64: 80 bytes, a take's file of no audio).
    size_t files = 0;
    while (files < paths.size() && fuzzutil::ReadAll(paths[files]).size() >= 45) {
        ++files;
    }
    auto worker = std::make_unique<CMorvexWorker>();
    const int added = worker->SetStartFile(0, paths[0].c_str());
    if (files == 0) {
        Check(added == morvex::kErrorInputTooSmall);
        return 0;
    }
    Check(added == 0 && worker->Entry(0).SubCount == static_cast<int>(files));
    const int endIndex = std::min(params.EndIndex, static_cast<int>(files) - 1);
    worker->SetSourceEndIndex(0, params.EndIndex);
    Check(worker->GetSourceEndIndex(0) == endIndex);
    const std::string base = dir.File("out");
    worker->SetDestinationBaseFile(0, base.c_str(), 0);
    worker->SetDestinationType(0, params.Type);
    worker->SetDestinationFormat(0, params.Format);
    const bool changed = params.Change != 0 && files > 1;
    if (changed) {
        if (params.Change == 1) {
            testtake::WavFormat other = format;
            other.sampleRate = 44100;
            testtake::WriteFile(paths[1], testtake::MakeWav(other, Bytes(64, 0)));
        } else {
            std::filesystem::remove(paths[1]);
        }
    }
    std::vector<Bytes> sources;
    for (size_t k = 0; k < paths.size(); ++k) {
        sources.push_back(FileExists(paths[k]) ? fuzzutil::ReadAll(paths[k]) : Bytes{});
    }

    worker->StartConversion(1);
    int steps = 0;
    bool stopped = false;
    while (worker->ConversionStep() != morvex::kConvRunOver) {
        Check(++steps < 10000);
        if (steps == params.StopAfter) {
            worker->StopConversion();
            stopped = true;
        }
    }
    const SplitEntryInfo& entry = worker->Entry(0);
    int expectedError = 0;
    if ((params.Type == morvex::kTypePairs && params.Channels % 2 != 0) || params.Format == 2) {
        expectedError = morvex::kErrorOutputCreate;
    } else if (changed && endIndex >= 1) {
        expectedError = params.Change == 1 ? morvex::kErrorFollowerFormat : morvex::kErrorInputRead;
    }
    // A stop may come before the failure; a finished task has no error.
    Check(entry.ErrorState == expectedError || (stopped && entry.ErrorState == 0));
    Check(!entry.fConversionDone || entry.ErrorState == 0);
    Check(stopped || entry.fConversionDone == (expectedError == 0));

    for (size_t k = 0; k < paths.size(); ++k) {
        Check(!FileExists(paths[k]) || fuzzutil::ReadAll(paths[k]) == sources[k]);
    }
    const auto listed = static_cast<size_t>(std::distance(
        std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()));
    const size_t inputs = paths.size() - (changed && params.Change == 2 ? 1 : 0);
    if (!entry.fConversionDone) {
        Check(listed == inputs); // a failed or stopped task leaves no output
        return 0;
    }
    // The sample stream the task converted: the data chunks of every file up to the source end;
    // pad bytes and chunks behind them are no audio. A data chunk of size 0 is a recording that
    // was never finished: what follows it, to the end of the file, is its audio.
    Bytes converted;
    size_t begin = 0;
    for (int k = 0; k <= endIndex; ++k) {
        const size_t end =
            k < static_cast<int>(params.Cuts.size()) ? params.Cuts[k] : stream.size();
        converted.insert(converted.end(), stream.begin() + static_cast<long>(begin),
                         stream.begin() + static_cast<long>(end));
        if (begin == end) {
            converted.insert(converted.end(), layout.trailingBytes.begin(),
                             layout.trailingBytes.end());
        }
        begin = end;
    }
    Check(listed == inputs + CheckOutputs(base, params, converted));
    return 0;
}
