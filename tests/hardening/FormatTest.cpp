// WAV files as sox, ffmpeg and the take writer make them; outputs read back by all three readers.
#include "MorvexWorker.h"
#include "SplitHarness.h"

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>

using namespace harness;
using namespace morvex;

namespace {

// The sample format as libsndfile (its subtype) and ffmpeg (its codec) see it.
std::string ReadersSee(const std::string& path) {
    SF_INFO info{};
    SNDFILE* sound = sf_open(path.c_str(), SFM_READ, &info);
    sf_close(sound);
    return std::to_string(sound ? info.format & SF_FORMAT_SUBMASK : -1) + "|" +
           Run("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + path + "'");
}

// Channel `channel` of `channels` as a reader decodes it, as doubles.
std::vector<double> Decoded(const std::string& reader, const std::string& path, int channel,
                            int channels) {
    std::vector<double> all;
    if (reader == "libsndfile") {
        SF_INFO info{};
        SNDFILE* sound = sf_open(path.c_str(), SFM_READ, &info);
        all.resize(sound ? static_cast<size_t>(info.frames * info.channels) : 0);
        sf_readf_double(sound, all.data(), sound ? info.frames : 0);
        sf_close(sound);
    } else {
        const std::string raw =
            Run(reader == "ffmpeg" ? "ffmpeg -nostdin -v error -i '" + path + "' -f f64le -"
                                   : "sox '" + path + "' -t f64 -");
        all.resize(raw.size() / sizeof(double));
        std::memcpy(all.data(), raw.data(), all.size() * sizeof(double));
    }
    std::vector<double> column;
    for (size_t i = static_cast<size_t>(channel); i < all.size(); i += channels) {
        column.push_back(all[i]);
    }
    return column;
}

struct Source {
    std::string Name;
    std::string Command; // makes the WAV file (second %s) of the raw samples (first); "": MakeWav
    testtake::WavFormat Format{};
    // sox misreads 20 bits in a plain "fmt " and refuses valid bits fewer than the container's.
    bool SoxMisreadsSource = false;
};

void PrintTo(const Source& source, std::ostream* out) {
    *out << source.Name;
}

// Raw samples that name their channel and frame; float ones are numbers from -1 to 1.
Bytes RawSamples(const testtake::WavFormat& f, uint32_t frames) {
    const size_t bps = static_cast<size_t>(f.BytesPerSample());
    Bytes raw = testtake::PatternSamples(frames, f.channels, static_cast<int>(bps));
    for (size_t at = 0; f.formatTag == 3 && at < raw.size(); at += bps) {
        const double value = static_cast<double>(Field(raw, at, 4)) / 2147483648.0 - 1.0;
        const auto single = static_cast<float>(value);
        std::memcpy(&raw[at], bps == 8 ? static_cast<const void*>(&value) : &single, bps);
    }
    return raw;
}

class WrittenBy : public testing::TestWithParam<Source> {};

TEST_P(WrittenBy, SplitsSampleExactAtItsOwnFormat) {
    const Source& source = GetParam();
    TempDir in, out;
    const std::string path = in.File(source.Name + ".wav");
    const Bytes raw = RawSamples(source.Format, 701);
    if (source.Command.empty()) {
        testtake::WriteFile(path, testtake::MakeWav(source.Format, raw));
    } else {
        testtake::WriteFile(in.File("raw"), raw);
        char line[1024];
        std::snprintf(line, sizeof line, source.Command.c_str(), in.File("raw").c_str(),
                      path.c_str());
        ASSERT_EQ(std::system(line), 0) << line;
    }
    // Mono outputs; libsndfile reads every one, ffmpeg and sox the first and the last.
    for (int format : {kFormatWav, kFormatCaf}) {
        const std::string base = out.File(std::to_string(format));
        CMorvexWorker worker;
        AddTask(worker, 0, path, base, kTypeMono, format);
        RunAll(worker, 1);
        ASSERT_EQ(worker.GetEntryState(0), kStateDone);
        const bool caf = format == kFormatCaf;
        const int channels = source.Format.channels;
        for (int c = 0; c < channels; ++c) {
            const std::string output = OutputName(base, c, caf);
            const bool edge = c == 0 || c == channels - 1;
            if (!caf && edge) {
                EXPECT_EQ(ReadersSee(output), ReadersSee(path)) << output;
            }
            // sox scales float CAF files (its own as well) otherwise than float WAV files.
            const bool soxMisreads =
                source.SoxMisreadsSource || (caf && source.Format.formatTag == 3);
            for (const std::string reader : {"libsndfile", "ffmpeg", "sox"}) {
                if ((reader == "libsndfile" || edge) && !(reader == "sox" && soxMisreads)) {
                    const std::vector<double> samples = Decoded(reader, path, c, channels);
                    EXPECT_TRUE(!samples.empty() && Decoded(reader, output, 0, 1) == samples)
                        << reader << " " << output;
                }
            }
        }
    }
}

// sox with its default settings: the extensible "fmt " from three channels or 24 bits on.
Source Sox(uint16_t channels, uint16_t bits, bool isFloat = false) {
    return {"sox_" + std::to_string(channels) + "ch_" + (isFloat ? "f" : "") + std::to_string(bits),
            "sox -t raw -r 48000 -e " + std::string(isFloat ? "floating-point" : "signed-integer") +
                " -b " + std::to_string(bits) + " -c " + std::to_string(channels) + " '%s' '%s'",
            {channels, bits, 48000, 0, 0, static_cast<uint16_t>(isFloat ? 3 : 1)}};
}

// ffmpeg writes the extensible "fmt " for every 24-bit file and for more than two channels.
Source Ffmpeg(const std::string& codec, uint16_t bits, bool isFloat) {
    const std::string raw = codec.substr(4); // pcm_s24le -> s24le
    return {"ffmpeg_" + raw,
            "ffmpeg -nostdin -v error -f " + raw + " -ar 44100 -ac 3 -i '%s' -c:a " + codec +
                " '%s'",
            {3, bits, 48000, 0, 0, static_cast<uint16_t>(isFloat ? 3 : 1)}};
}

INSTANTIATE_TEST_SUITE_P(
    Formats, WrittenBy,
    testing::Values(Sox(1, 16), Sox(2, 24), Sox(6, 24), Sox(16, 32), Sox(64, 16), Sox(8, 32, true),
                    Ffmpeg("pcm_s24le", 24, false), Ffmpeg("pcm_s32le", 32, false),
                    Ffmpeg("pcm_f32le", 32, true), Ffmpeg("pcm_f64le", 64, true),
                    Source{"plain_20bit", "", {3, 20}, true},
                    Source{"ext_20_in_24", "", {2, 24, 48000, 0, 0, 1, true, 20}, true},
                    Source{"ext_12_in_16", "", {3, 16, 48000, 0, 0, 1, true, 12}, true},
                    Source{"float32", "", {4, 32, 48000, 0, 0, 3}},
                    Source{"ext_float64", "", {2, 64, 48000, 0, 0, 3, true}},
                    Source{"plain_64ch_8bit", "", {64, 8}}),
    [](const testing::TestParamInfo<Source>& param) { return param.param.Name; });

Bytes ReadAt(const std::string& path, uint64_t offset, size_t count) {
    Bytes bytes(count);
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset))
        .read(reinterpret_cast<char*>(bytes.data()), count);
    bytes.resize(static_cast<size_t>(file.gcount()));
    return bytes;
}

// A sparse stereo source with marks at both ends; needs about 2 GiB free for the output.
TEST(Rf64, OutputPast2GiBIsRf64AndReadsBack) {
    constexpr uint64_t kDataBytes = (1ULL << 31) + 4096, kFrames = kDataBytes / 4;
    constexpr uint32_t kMarkBytes = 4096, kSourceHeader = 44;
    TempDir dir;
    const std::string source = dir.File("big.wav"), output = dir.File("out_01.wav");
    testtake::WriteFile(source, testtake::MakeWav({2, 16}, {}, {.dataSize = uint32_t{kDataBytes}}));
    const Bytes head = testtake::PatternSamples(kMarkBytes / 4, 2, 2, 1);
    const Bytes tail = testtake::PatternSamples(kMarkBytes / 4, 2, 2, 2);
    const int fd = ::open(source.c_str(), O_WRONLY);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kSourceHeader + kDataBytes)), 0);
    ASSERT_EQ(::pwrite(fd, head.data(), kMarkBytes, kSourceHeader), kMarkBytes);
    ASSERT_EQ(::pwrite(fd, tail.data(), kMarkBytes, kSourceHeader + kDataBytes - kMarkBytes),
              kMarkBytes);
    ::close(fd);

    const Outcome run = RunSplit({"-q", "-t", "all", source, dir.File("out")});
    ASSERT_EQ(run.Exit, 0) << run.Err;
    const Bytes header = ReadAt(output, 0, 80);
    EXPECT_TRUE(Field(header, 4, 4) == 0xFFFFFFFFU && Field(header, 76, 4) == 0xFFFFFFFFU);
    // ds64: its size, RIFF size, data size, frames, table length.
    EXPECT_EQ(std::tuple(Field(header, 16, 4), Field(header, 20, 8), Field(header, 28, 8),
                         Field(header, 36, 8), Field(header, 44, 4)),
              std::tuple(28U, kDataBytes + 72, kDataBytes, kFrames, 0U));
    EXPECT_EQ(ReadAt(output, 80, kMarkBytes), head);
    EXPECT_EQ(ReadAt(output, 80 + kDataBytes - kMarkBytes, kMarkBytes + 1), tail);

    SF_INFO info{};
    SNDFILE* file = sf_open(output.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(std::tuple(info.format & SF_FORMAT_TYPEMASK, static_cast<uint64_t>(info.frames)),
              std::tuple(SF_FORMAT_RF64, kFrames));
    short last[kMarkBytes / 2] = {};
    EXPECT_EQ(sf_seek(file, info.frames - kMarkBytes / 4, SEEK_SET), info.frames - kMarkBytes / 4);
    EXPECT_EQ(sf_readf_short(file, last, kMarkBytes / 4), kMarkBytes / 4);
    sf_close(file);
    EXPECT_EQ(std::memcmp(last, tail.data(), kMarkBytes), 0);
}

} // namespace
