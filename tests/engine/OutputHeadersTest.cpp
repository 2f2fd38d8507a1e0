#include "OutputHeaders.h"
#include "EngineTestUtil.h"
#include "TempDir.h"

#include <algorithm>
#include <array>
#include <sndfile.h>
#include <string>
#include <tuple>

using namespace enginetest;
using namespace morvex;

namespace {

using Header = std::array<uint8_t, 80>;

struct Sound {
    SF_INFO info{};
    std::vector<int> samples; // interleaved, as libsndfile reads them
};

Sound ReadSound(const std::string& path) {
    Sound sound;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &sound.info);
    if (file == nullptr) {
        ADD_FAILURE() << "libsndfile cannot open " << path << ": " << sf_strerror(nullptr);
        return sound;
    }
    sound.samples.resize(static_cast<size_t>(sound.info.frames * sound.info.channels));
    EXPECT_EQ(sf_readf_int(file, sound.samples.data(), sound.info.frames), sound.info.frames);
    sf_close(file);
    return sound;
}

// libsndfile's int for a little-endian sample: left-justified, 8-bit WAV being offset binary.
int SndfileInt(const Bytes& sample, bool offsetBinary8) {
    uint32_t value = 0;
    for (size_t i = 0; i < sample.size(); ++i) {
        value |= static_cast<uint32_t>(sample[i]) << (8 * (4 - sample.size() + i));
    }
    if (offsetBinary8 && sample.size() == 1) {
        value ^= 0x80000000U;
    }
    return static_cast<int>(value);
}

uint64_t Le(const Header& h, size_t at, size_t bytes) {
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; ++i) {
        v |= static_cast<uint64_t>(h[at + i]) << (8 * i);
    }
    return v;
}
uint64_t Be(const Header& h, size_t at, size_t bytes) {
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; ++i) {
        v = (v << 8) | h[at + i];
    }
    return v;
}
std::string Tag(const Header& h, size_t at) {
    return std::string(h.begin() + at, h.begin() + at + 4);
}

Header Wav(uint64_t d, int n, int b, uint32_t r) {
    Header h{};
    BuildWavHeader(HeaderValues{d, n, b, r}, h.data());
    return h;
}
Header Caf(uint64_t d, int n, int b, uint32_t r) {
    Header h{};
    h.fill(0xCD); // shows a CAF header that runs past its 68 bytes
    BuildCafHeader(HeaderValues{d, n, b, r}, h.data());
    return h;
}

void ExpectWavFormatChunk(const Header& h, int n, int b, uint32_t r) {
    EXPECT_EQ(Tag(h, 8), "WAVE");
    EXPECT_EQ(Le(h, 16, 4), 28U);
    EXPECT_EQ(Tag(h, 48), "fmt ");
    EXPECT_EQ(Le(h, 52, 4), 16U);
    EXPECT_EQ(Le(h, 56, 2), 1U);
    EXPECT_EQ(Le(h, 58, 2), static_cast<uint64_t>(n));
    EXPECT_EQ(Le(h, 60, 4), r);
    EXPECT_EQ(Le(h, 64, 4), static_cast<uint64_t>(r) * static_cast<uint64_t>(n * b));
    EXPECT_EQ(Le(h, 68, 2), static_cast<uint64_t>(n * b));
    EXPECT_EQ(Le(h, 70, 2), static_cast<uint64_t>(8 * b));
    EXPECT_EQ(Tag(h, 72), "data");
}

TEST(OutputHeaders, WavUpToTwoGibibytesLessOneAndRf64From) {
    const Header mono = Wav(1440000, 1, 3, 48000);
    EXPECT_EQ(Tag(mono, 0), "RIFF");
    EXPECT_EQ(Le(mono, 4, 4), 1440072U);
    EXPECT_EQ(Tag(mono, 12), "JUNK");
    ExpectWavFormatChunk(mono, 1, 3, 48000);
    EXPECT_EQ(Le(mono, 64, 4), 144000U);
    EXPECT_EQ(Le(mono, 76, 4), 1440000U);

    EXPECT_FALSE(NeedsRf64(2147483567));
    EXPECT_TRUE(NeedsRf64(2147483568));
    const Header lastWav = Wav(2147483567, 2, 2, 44100);
    EXPECT_EQ(Tag(lastWav, 0), "RIFF");
    EXPECT_EQ(Le(lastWav, 4, 4), 2147483639U);
    EXPECT_EQ(Le(lastWav, 76, 4), 2147483567U);

    for (const auto& [d, n, b] : {std::tuple{2147483568ULL, 2, 2}, std::tuple{3000000000ULL, 2, 3},
                                  std::tuple{1ULL << 40, 60, 4}}) {
        const Header rf64 = Wav(d, n, b, 96000);
        EXPECT_EQ(Tag(rf64, 0), "RF64");
        EXPECT_EQ(Le(rf64, 4, 4), 0xFFFFFFFFU);
        EXPECT_EQ(Tag(rf64, 12), "ds64");
        EXPECT_EQ(Le(rf64, 20, 8), d + 72);
        EXPECT_EQ(Le(rf64, 28, 8), d);
        EXPECT_EQ(Le(rf64, 36, 8), d / static_cast<uint64_t>(n * b));
        EXPECT_EQ(Le(rf64, 44, 4), 0U);
        ExpectWavFormatChunk(rf64, n, b, 96000);
        EXPECT_EQ(Le(rf64, 76, 4), 0xFFFFFFFFU);
    }
    EXPECT_EQ(Le(Wav(3000000000ULL, 2, 3, 48000), 36, 8), 500000000U);

    const Header empty = Wav(0, 2, 2, 48000);
    EXPECT_EQ(Le(empty, 4, 4), 72U);
    EXPECT_EQ(Le(empty, 76, 4), 0U);

    // The byte rate of the largest accepted format at the highest rate that fits 32 bits.
    EXPECT_EQ(Le(Wav(0, 60, 4, 2236962), 64, 4), 536870880U);
}

TEST(OutputHeaders, CafIsBigEndianWithExactRateAndNeverSwitchesLayout) {
    const Header caf = Caf(1440000, 1, 3, 48000);
    const uint8_t expected[68] = {
        'c',  'a',  'f',  'f', 0, 1, 0, 0,                    // type, version, flags
        'd',  'e',  's',  'c', 0, 0, 0, 0, 0, 0,    0,    32, // desc, size
        0x40, 0xE7, 0x70, 0,   0, 0, 0, 0,                    // 48000.0
        'l',  'p',  'c',  'm', 0, 0, 0, 2, 0, 0,    0,    3,    0, 0, 0, 1,
        0,    0,    0,    1,                                                 // flags, packet
        0,    0,    0,    24,                                                // bits
        'd',  'a',  't',  'a', 0, 0, 0, 0, 0, 0x15, 0xF9, 0x04, 0, 0, 0, 0}; // size, edits
    EXPECT_TRUE(std::equal(expected, expected + 68, caf.begin()));
    EXPECT_EQ(caf[68], 0xCD);

    EXPECT_EQ(Be(Caf(0, 2, 2, 44100), 56, 8), 4U);
    const Header large = Caf(3000000000ULL, 60, 4, 192000);
    EXPECT_EQ(Tag(large, 0), "caff");
    EXPECT_EQ(Be(large, 56, 8), 3000000004ULL);
    EXPECT_EQ(Be(large, 36, 4), 240U);
    EXPECT_EQ(Be(large, 44, 4), 60U);
    EXPECT_EQ(Be(large, 48, 4), 32U);
    EXPECT_EQ(Be(large, 20, 8), 0x4107700000000000ULL); // 192000.0
}

// An independent reader must see what the header claims: format, channels, rate, frames and the
// samples themselves, also for an odd number of sample bytes without a pad byte.
TEST(OutputHeaders, LibsndfileReadsWhatTheHeadersDescribe) {
    TempDir dir;
    for (int format : {kFormatWav, kFormatCaf}) {
        for (const auto& [n, b, frames] : {std::tuple{1, 3, 7U}, std::tuple{2, 2, 5U},
                                           std::tuple{7, 4, 3U}, std::tuple{1, 1, 9U}}) {
            const Bytes samples = testtake::PatternSamples(frames, n, b);
            Header h{};
            const HeaderValues values{samples.size(), n, b, 44100};
            format == kFormatWav ? BuildWavHeader(values, h.data())
                                 : BuildCafHeader(values, h.data());
            Bytes file(h.begin(), h.begin() + (format == kFormatWav ? 80 : 68));
            file.insert(file.end(), samples.begin(), samples.end());
            const std::string path = dir.File("h" + std::to_string(format) + std::to_string(n));
            testtake::WriteFile(path, file);

            SCOPED_TRACE(testing::Message() << "format " << format << ", " << n << "x" << b);
            const Sound sound = ReadSound(path);
            EXPECT_EQ(sound.info.format & SF_FORMAT_TYPEMASK,
                      format == kFormatWav ? SF_FORMAT_WAV : SF_FORMAT_CAF);
            const int subtypes[] = {
                0, b == 1 && format == kFormatWav ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8,
                SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_32};
            EXPECT_EQ(sound.info.format & SF_FORMAT_SUBMASK, subtypes[b]);
            EXPECT_EQ(sound.info.channels, n);
            EXPECT_EQ(sound.info.samplerate, 44100);
            ASSERT_EQ(sound.info.frames, static_cast<sf_count_t>(frames));
            for (uint32_t f = 0; f < frames; ++f) {
                for (int c = 0; c < n; ++c) {
                    EXPECT_EQ(
                        sound.samples[f * static_cast<size_t>(n) + static_cast<size_t>(c)],
                        SndfileInt(testtake::SampleAt(samples, n, b, f, c), format == kFormatWav));
                }
            }
        }
    }
}

} // namespace
