// Every PCM WAV a user is likely to hold: extensible headers, float, 12 and 20 bits, up to 64
// channels, as sox, ffmpeg and the test take writer make them. Each output holds its channels'
// bytes exactly, and libsndfile, ffmpeg and sox open it at the source's own sample format and
// read the source's samples from it.
#include "MorvexWorker.h"
#include "SplitHarness.h"
#include "TempDir.h"

#include <cstdlib>
#include <cstring>

using namespace harness;
using namespace morvex;
namespace fs = std::filesystem;

namespace {

std::string Run(const std::string& command) {
    std::string out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t got; pipe != nullptr && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, got);
    }
    if (pipe != nullptr) {
        ::pclose(pipe);
    }
    return out;
}

// The audio bytes of a file, found by walking its chunks: an independent look at the layout.
Bytes AudioBytes(const Bytes& file) {
    if (TagAt(file, 0, "caff")) {
        return Bytes(file.begin() + 68, file.end());
    }
    for (size_t at = 12; at + 8 <= file.size();) {
        const size_t size = Field(file, at + 4, 4);
        if (TagAt(file, at, "data")) {
            const size_t end =
                size == 0xFFFFFFFFU ? file.size() : std::min(file.size(), at + 8 + size);
            return Bytes(file.begin() + static_cast<long>(at) + 8,
                         file.begin() + static_cast<long>(end));
        }
        at += 8 + size + size % 2;
    }
    return {};
}

// How each reader sees a file's samples: libsndfile's subtype, ffmpeg's codec, sox's encoding
// and precision (or that it cannot open the file). Warnings are left out.
std::string ReadersSee(const std::string& path) {
    SF_INFO info{};
    SNDFILE* sound = sf_open(path.c_str(), SFM_READ, &info);
    sf_close(sound);
    const std::string quoted = "'" + path + "'";
    std::string sox = Run("soxi -e " + quoted + " 2>&1 && soxi -p " + quoted + " 2>&1");
    if (sox.find("FAIL") != std::string::npos) {
        sox = "sox cannot open it";
    }
    for (size_t warning; (warning = sox.find("soxi WARN")) != std::string::npos;) {
        sox.erase(warning, sox.find('\n', warning) + 1 - warning);
    }
    return std::to_string(sound ? info.format & SF_FORMAT_SUBMASK : -1) + "|" +
           Run("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + quoted) + "|" +
           sox;
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
        const std::string command = reader == "ffmpeg"
                                        ? "ffmpeg -nostdin -v error -i '" + path + "' -f f64le -"
                                        : "sox '" + path + "' -t f64 -";
        const std::string raw = Run(command);
        all.resize(raw.size() / sizeof(double));
        std::memcpy(all.data(), raw.data(), all.size() * sizeof(double));
    }
    std::vector<double> column;
    for (size_t i = static_cast<size_t>(channel); i < all.size();
         i += static_cast<size_t>(channels)) {
        column.push_back(all[i]);
    }
    return column;
}

struct Source {
    std::string Name;
    // Turns the raw samples in the first %s into the WAV file named by the second; empty for the
    // take writer's files.
    std::string Command;
    testtake::WavFormat Format{};
    // sox misreads 20-bit samples in a plain "fmt " (it runs out of data) and cannot open an
    // extensible one whose valid bits are fewer than its samples hold: its view of such a source
    // is no measure of the outputs, which say the samples' whole bytes, as all readers take.
    bool SoxMisreadsSource = false;
};

void PrintTo(const Source& source, std::ostream* out) {
    *out << source.Name;
}

// Raw samples that name their channel and frame; float ones are numbers from -1 to 1.
Bytes RawSamples(const testtake::WavFormat& f, uint32_t frames) {
    const int bps = f.BytesPerSample();
    Bytes raw = testtake::PatternSamples(frames, f.channels, bps);
    if (f.formatTag != 3) {
        return raw;
    }
    for (size_t at = 0; at < raw.size(); at += static_cast<size_t>(bps)) {
        const double value = static_cast<double>(Field(raw, at, 4)) / 2147483648.0 - 1.0;
        if (bps == 8) {
            std::memcpy(&raw[at], &value, 8);
        } else {
            const auto single = static_cast<float>(value);
            std::memcpy(&raw[at], &single, 4);
        }
    }
    return raw;
}

// Splits `path` into mono outputs (WAV, and CAF when asked) and checks them against it.
void ExpectSplitsExactly(const std::string& path, const std::string& outDir, bool caf,
                         bool soxMisreadsSource) {
    CMorvexWorker worker;
    const std::string base = outDir + "/o";
    ASSERT_EQ(worker.SetStartFile(0, path.c_str()), 0) << [&] {
        char text[kNoteTextBytes] = "";
        worker.GetAddFailureDetail(text);
        return std::string(text);
    }();
    worker.SetDestinationBaseFile(0, base.c_str(), 0);
    worker.SetDestinationFormat(0, caf ? kFormatCaf : kFormatWav);
    RunAll(worker, 1);
    ASSERT_EQ(worker.GetEntryState(0), kStateDone);
    const int channels = worker.Entry(0).ChannelNumb;
    const int bps = (worker.Entry(0).WordLength + 7) / 8;
    const Bytes source = AudioBytes(testtake::ReadFile(path));
    const std::string sourceSees = ReadersSee(path);
    for (int c = 0; c < channels; ++c) {
        const std::string output = OutputName(base, c, caf);
        const Bytes audio = AudioBytes(testtake::ReadFile(output));
        Bytes want;
        for (size_t at = static_cast<size_t>(c * bps); at + bps <= source.size();
             at += static_cast<size_t>(channels * bps)) {
            const uint8_t* sample = &source[at];
            want.insert(want.end(), sample, sample + bps);
        }
        if (caf && bps == 1) {
            for (uint8_t& byte : want) {
                byte ^= 0x80; // CAF's 8-bit samples are signed
            }
        }
        EXPECT_TRUE(audio == want) << output;
        if (c != 0 && c != channels - 1) {
            continue; // the readers on the first and the last output
        }
        if (!caf) {
            const std::string outputSees = ReadersSee(output);
            EXPECT_EQ(outputSees.substr(0, outputSees.rfind('|')),
                      sourceSees.substr(0, sourceSees.rfind('|')))
                << output;
            if (!soxMisreadsSource) {
                EXPECT_EQ(outputSees, sourceSees) << output;
            }
            EXPECT_EQ(outputSees.find("cannot open"), std::string::npos) << outputSees;
        }
        // sox scales float CAF files (its own as well) otherwise than float WAV files, so its
        // reading of one cannot be held against its reading of the other.
        const bool floatCaf = caf && sourceSees.find("Floating") != std::string::npos;
        for (const std::string reader : {"libsndfile", "ffmpeg", "sox"}) {
            if (!((floatCaf || soxMisreadsSource) && reader == "sox")) {
                EXPECT_TRUE(Decoded(reader, output, 0, 1) == Decoded(reader, path, c, channels))
                    << reader << " " << output;
            }
        }
    }
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
    ExpectSplitsExactly(path, out.Path(), false, source.SoxMisreadsSource);
    fs::remove_all(out.Path());
    fs::create_directory(out.Path());
    ExpectSplitsExactly(path, out.Path(), true, source.SoxMisreadsSource);
}

testtake::WavFormat Writer(uint16_t channels, uint16_t bits, uint16_t tag, bool extensible,
                           uint16_t valid = 0) {
    testtake::WavFormat f{channels, bits};
    f.formatTag = tag;
    f.extensible = extensible;
    f.validBits = valid;
    return f;
}

// sox with its default settings: the extensible "fmt " from three channels or 24 bits on.
Source Sox(uint16_t channels, uint16_t bits, bool isFloat = false) {
    const std::string name =
        "sox_" + std::to_string(channels) + "ch_" + (isFloat ? "f" : "") + std::to_string(bits);
    const std::string encoding = isFloat ? "floating-point" : "signed-integer";
    return {name,
            "sox -t raw -r 48000 -e " + encoding + " -b " + std::to_string(bits) + " -c " +
                std::to_string(channels) + " '%s' '%s'",
            Writer(channels, bits, isFloat ? 3 : 1, false)};
}

// ffmpeg writes the extensible "fmt " for every 24-bit file and for more than two channels.
Source Ffmpeg(const std::string& codec, uint16_t bits, bool isFloat) {
    const std::string raw = codec.substr(4); // pcm_s24le -> s24le
    return {"ffmpeg_" + raw,
            "ffmpeg -nostdin -v error -f " + raw + " -ar 44100 -ac 3 -i '%s' -c:a " + codec +
                " '%s'",
            Writer(3, bits, isFloat ? 3 : 1, false)};
}

INSTANTIATE_TEST_SUITE_P(
    Formats, WrittenBy,
    testing::Values(Sox(1, 16), Sox(2, 24), Sox(6, 24), Sox(16, 32), Sox(64, 16), Sox(8, 32, true),
                    Ffmpeg("pcm_s24le", 24, false), Ffmpeg("pcm_s32le", 32, false),
                    Ffmpeg("pcm_f32le", 32, true), Ffmpeg("pcm_f64le", 64, true),
                    Source{"plain_20bit", "", Writer(3, 20, 1, false), true},
                    Source{"ext_20_in_24", "", Writer(2, 24, 1, true, 20), true},
                    Source{"ext_12_in_16", "", Writer(3, 16, 1, true, 12), true},
                    Source{"float32", "", Writer(4, 32, 3, false)},
                    Source{"ext_float64", "", Writer(2, 64, 3, true)},
                    Source{"plain_64ch_8bit", "", Writer(64, 8, 1, false)}),
    [](const testing::TestParamInfo<Source>& param) { return param.param.Name; });

// Refused files say why after the fixed message; a follower whose format differs only in its
// sub-format is no part of the take.
TEST(Formats, RefusalsSayWhy) {
    TempDir in;
    testtake::WavFormat adpcm{2, 4};
    adpcm.formatTag = 2;
    const std::pair<testtake::WavFormat, std::string> cases[] = {
        {Writer(1, 8, 3, false), "8-bit float is not a sample format"},
        {Writer(96, 16, 1, false), "96 channels: at most 64"},
        {Writer(2, 16, 2, true), "its sub-format is neither integer PCM nor float"},
        {adpcm, "format tag 0x0002 is neither integer PCM nor float"},
        {Writer(2, 24, 1, true, 28), "28 valid bits in 24-bit samples"},
    };
    for (const auto& [format, reason] : cases) {
        const std::string path = in.File("refused.wav");
        testtake::WriteFile(path, testtake::MakeWav(format, Bytes(96, 1)));
        CMorvexWorker worker;
        EXPECT_EQ(worker.SetStartFile(0, path.c_str()), kErrorIncompatibleWav) << reason;
        char text[kNoteTextBytes] = "";
        worker.GetAddFailureDetail(text);
        EXPECT_EQ(std::string(text), reason);
    }

    const testtake::WavFormat pcm = Writer(2, 32, 1, true), flt = Writer(2, 32, 3, true);
    testtake::WriteFile(in.File("MKZ01_01.WAV"), testtake::MakeWav(pcm, Bytes(800, 1)));
    testtake::WriteFile(in.File("MKZ01_02.WAV"), testtake::MakeWav(flt, Bytes(800, 1)));
    CMorvexWorker worker;
    ASSERT_EQ(worker.SetStartFile(0, in.File("MKZ01_01.WAV").c_str()), 0);
    EXPECT_EQ(worker.Entry(0).SubCount, 1);
    char text[kNoteTextBytes] = "";
    worker.GetTakeWarning(0, text);
    EXPECT_EQ(std::string(text),
              "MKZ01_02.WAV is not part of the take: its format differs from the start file's.");
    char format[kInfoTextBytes] = "";
    testtake::WriteFile(in.File("f.wav"), testtake::MakeWav(Writer(6, 64, 3, false), Bytes(96, 1)));
    ASSERT_EQ(worker.SetStartFile(1, in.File("f.wav").c_str()), 0);
    worker.GetInfoStrings(1, kInfoFormat, format);
    EXPECT_EQ(std::string(format), "6 channels, 48000 Hz, 64-bit float");
}

} // namespace
