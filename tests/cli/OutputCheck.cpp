#include "OutputCheck.h"

#include <sndfile.h>

#include <algorithm>
#include <filesystem>

namespace outputcheck {

namespace {

uint32_t Le32(const testtake::Bytes& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

uint64_t Be64(const testtake::Bytes& bytes, size_t at) {
    uint64_t value = 0;
    for (size_t i = 0; i < 8; ++i) {
        value = value << 8 | bytes[at + i];
    }
    return value;
}

bool TagAt(const testtake::Bytes& bytes, size_t at, const char* tag) {
    return bytes.size() >= at + 4 &&
           std::equal(tag, tag + 4, bytes.begin() + static_cast<long>(at));
}

// The value libsndfile gives for a source sample as a 32-bit int: left-justified and signed;
// 8-bit WAV samples are unsigned around 128.
int32_t SampleAsInt(const uint8_t* sample, int bytesPerSample) {
    if (bytesPerSample == 1) {
        return static_cast<int32_t>(static_cast<uint32_t>(sample[0] ^ 0x80U) << 24);
    }
    uint32_t value = 0;
    for (int b = 0; b < bytesPerSample; ++b) {
        value |= static_cast<uint32_t>(sample[b]) << (8 * (4 - bytesPerSample + b));
    }
    return static_cast<int32_t>(value);
}

} // namespace

Take WriteTake(const std::string& directory, int takeNumber, uint16_t channels, uint16_t bits,
               uint32_t frames, const std::vector<size_t>& cuts, uint32_t tailBytes,
               uint32_t seed) {
    Take take;
    take.Format.channels = channels;
    take.Format.bitsPerSample = bits;
    take.Stream = testtake::PatternSamples(frames, channels, take.Format.BytesPerSample(), seed);
    for (uint32_t i = 0; i < tailBytes; ++i) {
        take.Stream.push_back(static_cast<uint8_t>(0xA5 ^ i));
    }
    take.Paths = testtake::WriteTake(directory, takeNumber, 1, take.Format, take.Stream, cuts);
    return take;
}

testtake::Bytes ExpectedData(const Take& take, size_t streamBytes, int first, int count, bool caf) {
    const int bytesPerSample = take.Format.BytesPerSample();
    const size_t frames = streamBytes / static_cast<size_t>(take.Format.FrameBytes());
    testtake::Bytes data;
    for (size_t f = 0; f < frames; ++f) {
        for (int c = first; c < first + count; ++c) {
            for (uint8_t byte :
                 testtake::SampleAt(take.Stream, take.Format.channels, bytesPerSample, f, c)) {
                data.push_back(caf && bytesPerSample == 1 ? static_cast<uint8_t>(byte ^ 0x80)
                                                          : byte);
            }
        }
    }
    return data;
}

::testing::AssertionResult OutputMatches(const std::string& path, const Take& take,
                                         size_t streamBytes, int first, int count, bool caf) {
    if (!testtake::FileExists(path)) {
        return ::testing::AssertionFailure() << path << " is missing";
    }
    const testtake::Bytes file = testtake::ReadFile(path);
    const testtake::Bytes expected = ExpectedData(take, streamBytes, first, count, caf);
    const size_t header = caf ? 68 : 80;
    if (file.size() != header + expected.size()) {
        return ::testing::AssertionFailure()
               << path << ": " << file.size() << " bytes, expected " << header + expected.size();
    }
    if (caf) {
        if (!TagAt(file, 0, "caff") || !TagAt(file, 52, "data") ||
            Be64(file, 56) != expected.size() + 4) {
            return ::testing::AssertionFailure() << path << ": CAF header does not fit the data";
        }
    } else if (!TagAt(file, 0, "RIFF") || Le32(file, 4) != file.size() - 8 ||
               !TagAt(file, 72, "data") || Le32(file, 76) != expected.size()) {
        return ::testing::AssertionFailure() << path << ": WAV header does not fit the data";
    }
    const auto mismatch =
        std::mismatch(expected.begin(), expected.end(), file.begin() + static_cast<long>(header));
    if (mismatch.first != expected.end()) {
        return ::testing::AssertionFailure()
               << path << ": sample data differs at byte " << (mismatch.first - expected.begin());
    }

    // A reader that knows nothing of this program must see the same audio.
    SF_INFO info{};
    SNDFILE* sound = sf_open(path.c_str(), SFM_READ, &info);
    if (sound == nullptr) {
        return ::testing::AssertionFailure() << path << ": libsndfile: " << sf_strerror(nullptr);
    }
    const int bytesPerSample = take.Format.BytesPerSample();
    const size_t frames = expected.size() / static_cast<size_t>(count * bytesPerSample);
    std::vector<int32_t> values(frames * static_cast<size_t>(count) + 1);
    const sf_count_t got = sf_readf_int(sound, values.data(), static_cast<sf_count_t>(frames));
    sf_close(sound);
    if (info.channels != count || info.samplerate != static_cast<int>(take.Format.sampleRate) ||
        info.frames != static_cast<sf_count_t>(frames) || got != info.frames) {
        return ::testing::AssertionFailure()
               << path << ": libsndfile sees " << info.channels << " channels, " << info.samplerate
               << " Hz, " << info.frames << " frames; expected " << count << ", "
               << take.Format.sampleRate << ", " << frames;
    }
    // The source bytes, not the output's: 8-bit CAF samples must read as the WAV ones do.
    const testtake::Bytes source = ExpectedData(take, streamBytes, first, count, false);
    for (size_t i = 0; i < frames * static_cast<size_t>(count); ++i) {
        const int32_t want =
            SampleAsInt(&source[i * static_cast<size_t>(bytesPerSample)], bytesPerSample);
        if (values[i] != want) {
            return ::testing::AssertionFailure() << path << ": libsndfile sample " << i << " is "
                                                 << values[i] << ", expected " << want;
        }
    }
    return ::testing::AssertionSuccess();
}

std::vector<std::string> FilesStartingWith(const std::string& directory,
                                           const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(directory)) {
        const std::string name = item.path().filename().string();
        if (name.rfind(prefix, 0) == 0) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace outputcheck
