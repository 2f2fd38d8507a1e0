#pragma once

#include "MorvexWorker.h"
#include "TempDir.h"
#include "TestTake.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <vector>

// Shared by the fault, interrupted-output and interoperability suites.
namespace hardening {

using testtake::Bytes;

// A take written to disk: its files and the sample stream they hold together.
struct Take {
    testtake::WavFormat Format;
    Bytes Stream;
    std::vector<std::string> Paths;

    int Bps() const { return Format.BytesPerSample(); }
    uint64_t Frames() const { return Stream.size() / static_cast<size_t>(Format.FrameBytes()); }
};

// The whole file in one read (the stream-iterator reader of the test support is slow for takes of
// many MB in debug builds).
inline Bytes ReadAll(const std::string& path) {
    Bytes bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::fseek(file, 0, SEEK_END);
        bytes.resize(static_cast<size_t>(std::ftell(file)));
        std::fseek(file, 0, SEEK_SET);
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
        std::fclose(file);
    }
    return bytes;
}

inline Take WriteTake(const std::string& dir, int takeNumber, uint16_t channels, uint16_t bits,
                      uint32_t frames, const std::vector<size_t>& cuts = {}, uint32_t seed = 7) {
    Take take;
    take.Format.channels = channels;
    take.Format.bitsPerSample = bits;
    take.Stream = testtake::PatternSamples(frames, channels, take.Format.BytesPerSample(), seed);
    take.Paths = testtake::WriteTake(dir, takeNumber, 1, take.Format, take.Stream, cuts);
    return take;
}

inline void AddTask(CMorvexWorker& worker, int index, const std::string& start,
                    const std::string& base, int type, int format) {
    ASSERT_EQ(worker.SetStartFile(index, start.c_str()), 0) << start;
    ASSERT_EQ(worker.SetDestinationBaseFile(index, base.c_str(), index), 1);
    worker.SetDestinationType(index, type);
    worker.SetDestinationFormat(index, format);
}

// Steps a run to its end.
inline void RunAll(CMorvexWorker& worker, int count) {
    worker.StartConversion(count);
    for (int i = 0; i < 1000000; ++i) {
        if (worker.ConversionStep() == morvex::kConvRunOver) {
            return;
        }
    }
    FAIL() << "run did not end";
}

inline std::string OutputName(const std::string& base, int firstChannel, int format) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "_%02d.%s", firstChannel + 1, format == 1 ? "caf" : "wav");
    return base + suffix;
}

// The file names in a directory, sorted.
inline std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// libsndfile's int for a little-endian sample: left-justified; 8-bit WAV is offset binary and
// 8-bit CAF carries it with the top bit flipped, so both read as the same signed value.
inline int SndfileInt(const uint8_t* sample, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= static_cast<uint32_t>(sample[i]) << (8 * (4 - bytes + i));
    }
    if (bytes == 1) {
        value ^= 0x80000000U;
    }
    return static_cast<int>(value);
}

// The first `frames` frames of channels [first, first + count) of the take, as libsndfile or
// ffmpeg (s32le) give them.
inline std::vector<int> ExpectedInts(const Take& take, int first, int count, uint64_t frames) {
    std::vector<int> out;
    out.reserve(frames * static_cast<uint64_t>(count));
    const int bps = take.Bps();
    const size_t frameBytes = static_cast<size_t>(take.Format.FrameBytes());
    for (uint64_t f = 0; f < frames; ++f) {
        const uint8_t* frame = take.Stream.data() + f * frameBytes;
        for (int c = first; c < first + count; ++c) {
            out.push_back(SndfileInt(frame + c * bps, bps));
        }
    }
    return out;
}

struct Sound {
    bool Opened = false;
    SF_INFO Info{};
    std::vector<int> Samples; // interleaved
};

inline Sound ReadWithSndfile(const std::string& path) {
    Sound sound;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sound.Info);
    if (file == nullptr) {
        return sound;
    }
    sound.Opened = true;
    sound.Samples.resize(static_cast<size_t>(sound.Info.frames * sound.Info.channels));
    const sf_count_t got = sf_readf_int(file, sound.Samples.data(), sound.Info.frames);
    sound.Samples.resize(static_cast<size_t>(got * sound.Info.channels));
    sf_close(file);
    return sound;
}

// Checks that an output holds exactly the first `frames` frames of its channels of the take.
inline void ExpectOutputHolds(const std::string& path, const Take& take, int first, int count,
                              uint64_t frames) {
    const Sound sound = ReadWithSndfile(path);
    ASSERT_TRUE(sound.Opened) << path << ": " << sf_strerror(nullptr);
    EXPECT_EQ(sound.Info.channels, count) << path;
    EXPECT_EQ(static_cast<uint64_t>(sound.Info.frames), frames) << path;
    EXPECT_EQ(sound.Info.samplerate, static_cast<int>(take.Format.sampleRate)) << path;
    const std::vector<int> expected = ExpectedInts(take, first, count, frames);
    ASSERT_EQ(sound.Samples.size(), expected.size()) << path;
    const auto mismatch = std::mismatch(expected.begin(), expected.end(), sound.Samples.begin());
    EXPECT_TRUE(mismatch.first == expected.end())
        << path << ": first differing sample " << (mismatch.first - expected.begin());
}

// Every sample ffmpeg decodes from the file, as 32-bit left-justified integers; `ok` false when
// ffmpeg refuses the file.
inline std::vector<int> DecodeWithFfmpeg(const std::string& path, bool& ok) {
    const std::string command =
        "ffmpeg -nostdin -v error -i '" + path + "' -f s32le -c:a pcm_s32le - 2>/dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    std::vector<int> samples;
    if (pipe == nullptr) {
        ok = false;
        return samples;
    }
    int buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, sizeof(int), 4096, pipe)) > 0) {
        samples.insert(samples.end(), buffer, buffer + got);
    }
    ok = ::pclose(pipe) == 0;
    return samples;
}

} // namespace hardening
