// morvex-split end to end on generated takes: every output of every type and format for takes of
// 8 to 32 bits and 1 to 60 channels, runs that must convert nothing, and outputs in the way.
#include "SplitHarness.h"
#include "TempDir.h"

using namespace harness;

namespace {

class Interop : public testing::TestWithParam<std::tuple<int, int>> {};

// Two files cut inside a frame and half a frame at the end: each output holds every complete
// frame, byte for byte and as libsndfile reads it. Two takes pass a 4 MiB source block.
TEST_P(Interop, EveryOutputHoldsItsChannelsOfEveryCompleteFrame) {
    const auto [bits, channels] = GetParam();
    const int frameBytes = channels * ((bits + 7) / 8);
    const uint32_t frames = bits == 16 && channels == 2    ? 1200000
                            : bits == 24 && channels == 16 ? 120000
                                                           : 701;
    TempDir dir;
    const Take take = WriteTake(dir.Path(), 1, channels, bits, frames,
                                {static_cast<size_t>(frameBytes) * (frames / 2) + 1},
                                static_cast<uint32_t>(frameBytes / 2));
    for (const char* type : {"mono", "pairs", "all"}) {
        for (const char* format : {"wav", "caf"}) {
            const std::string base = dir.File(std::string(type) + "_" + format);
            SCOPED_TRACE(base);
            const Outcome run = RunSplit({"-t", type, "-f", format, take.Paths[0], base});
            const int perFile = type[0] == 'm' ? 1 : type[0] == 'p' ? 2 : channels;
            const bool caf = format[0] == 'c';
            if (channels % perFile != 0) {
                EXPECT_EQ(run.Exit, 1);
                EXPECT_TRUE(Says(run.Err, "odd channel count"));
                EXPECT_FALSE(testtake::FileExists(OutputName(base, 0, caf)));
                continue;
            }
            ASSERT_EQ(run.Exit, 0) << run.Err;
            std::string listed;
            for (int first = 0; first < channels; first += perFile) {
                listed += OutputName(base, first, caf) + "\n";
                EXPECT_TRUE(
                    Holds(OutputName(base, first, caf), take, first, perFile, take.Frames()));
            }
            EXPECT_EQ(run.Out, listed);
            EXPECT_FALSE(testtake::FileExists(OutputName(base, channels, caf)));
        }
    }
}

std::string InteropName(const testing::TestParamInfo<Interop::ParamType>& param) {
    return std::to_string(std::get<0>(param.param)) + "bit_" +
           std::to_string(std::get<1>(param.param)) + "ch";
}

INSTANTIATE_TEST_SUITE_P(Cli, Interop,
                         testing::Combine(testing::Values(8, 12, 16, 24, 32),
                                          testing::Values(1, 2, 3, 16, 60)),
                         InteropName);

// The last file converted is the one --end names; the frame its end cuts is left out.
TEST(Cli, EndIndexStopsAfterThatFile) {
    TempDir dir;
    const Take take = WriteTake(dir.Path(), 3, 2, 24, 900, {1001, 3002});
    const Outcome run = RunSplit({"--end", "1", take.Paths[0], dir.File("part")});
    ASSERT_EQ(run.Exit, 0) << run.Err;
    EXPECT_TRUE(Holds(dir.File("part_01.wav"), take, 0, 1, 3002 / 6));
    EXPECT_TRUE(Holds(dir.File("part_02.wav"), take, 1, 1, 3002 / 6));
}

// Usage errors end with 2, tasks that cannot be added or started with 1 and the reason, and
// analysing only with 0: none of them writes a file.
TEST(Cli, RunsThatConvertNothing) {
    // Arguments ("START" and "BASE" stand for the take and an output base), exit code, and what it
    // says on stdout or stderr.
    using Case = std::tuple<std::vector<std::string>, int, std::string>;
    std::vector<std::string> tooMany;
    for (int i = 0; i < 31; ++i) {
        tooMany.insert(tooMany.end(), {"START", "BASE" + std::to_string(i)});
    }
    const std::vector<Case> cases = {
        {{}, 2, "required"},
        {{"START"}, 2, "needs an OUTPUT_BASE"},
        {{"-t", "stereo", "START", "BASE"}, 2, "stereo"},
        {tooMany, 2, "at most 30 tasks"},
        {{"nothing.wav", "BASE"}, 1, "nothing.wav: Can not open selected input file."},
        {{"-e", "2", "START", "BASE"}, 1, "--end must lie from 0 to 1"},
        {{"-t", "pairs", "START", "BASE"}, 1, "Mismatch: 2 channel format / odd channel count."},
        {{"START", "BASE", "START", "BASE.wav"}, 1, "Output file name is already in use."},
        {{"-i", "START", "BASE"}, 0, "Files:   2 in the take: MKZ01_01.WAV MKZ01_02.WAV"},
    };
    TempDir dir;
    const Take take = WriteTake(dir.Path(), 1, 3, 16, 300, {401});
    for (const auto& [given, exit, says] : cases) {
        std::vector<std::string> args;
        for (const std::string& arg : given) {
            args.push_back(arg == "START"            ? take.Paths[0]
                           : arg.starts_with("BASE") ? dir.File("u" + arg.substr(4))
                                                     : arg);
        }
        const Outcome run = RunSplit(args);
        SCOPED_TRACE(run.Out + run.Err);
        EXPECT_EQ(run.Exit, exit);
        EXPECT_TRUE(Says(run.Out + run.Err, says));
        EXPECT_EQ(ListDir(dir.Path()), (std::vector<std::string>{"MKZ01_01.WAV", "MKZ01_02.WAV"}));
    }
}

// An output that cannot be created fails its task with error 5: whatever is in the way keeps
// every byte, the task's other outputs are removed, and the next task converts.
TEST(Cli, OutputsInTheWay) {
    enum Kind { kFile, kLinkToFile, kDanglingLink };
    // The base under the output directory, what is in the way (nullptr: nothing) and its kind.
    const std::tuple<const char*, const char*, Kind> cases[] = {{"t", "t_02.wav", kFile},
                                                                {"t", "t_03.wav", kLinkToFile},
                                                                {"t", "t_02.wav", kDanglingLink},
                                                                {"missing/t", nullptr, kFile},
                                                                {"file/t", "file", kFile}};
    namespace fs = std::filesystem;
    for (const auto& [base, inTheWay, kind] : cases) {
        TempDir in, out, next;
        SCOPED_TRACE(base + std::string(" ") + (inTheWay ? inTheWay : ""));
        const Take take = WriteTake(in.Path(), 1, 3, 24, 2000, {3001});
        const Take other = WriteTake(in.Path(), 2, 2, 16, 500);
        if (inTheWay != nullptr) {
            testtake::WriteFile(out.File(kind == kFile ? inTheWay : "target"),
                                testtake::PatternSamples(100, 1, 3, 99));
            if (kind != kFile) {
                fs::create_symlink(out.File("target"), out.File(inTheWay));
            }
            if (kind == kDanglingLink) {
                fs::remove(out.File("target"));
            }
        }
        const auto snapshot = [&] { // names and bytes; a dangling link has none
            std::vector<std::pair<std::string, Bytes>> files;
            for (const std::string& name : ListDir(out.Path())) {
                const std::string path = out.File(name);
                files.emplace_back(name, fs::exists(path) ? testtake::ReadFile(path) : Bytes{});
            }
            return files;
        };
        const auto before = snapshot();

        // A directory as the base names the outputs after the start file.
        const Outcome run = RunSplit({take.Paths[0], out.File(base), other.Paths[0], next.Path()});

        EXPECT_EQ(run.Exit, 1);
        EXPECT_TRUE(Says(run.Err, take.Paths[0] + ": Output file can not be created."));
        EXPECT_EQ(snapshot(), before);
        EXPECT_TRUE(Holds(next.File("MKZ02_01_01.wav"), other, 0, 1, other.Frames()));
        EXPECT_TRUE(Holds(next.File("MKZ02_01_02.wav"), other, 1, 1, other.Frames()));
    }
}

} // namespace
