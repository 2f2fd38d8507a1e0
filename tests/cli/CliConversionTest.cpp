// morvex-split converting generated takes: every type and format, takes cut inside frames,
// source ends, and the output names it reports.
#include "OutputCheck.h"
#include "SplitProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using outputcheck::OutputMatches;
using outputcheck::Take;

struct Case {
    const char* Name;
    const char* Type;
    const char* Format;
    uint16_t Channels;
    uint16_t Bits;
    uint32_t Frames;
};

int ChannelsPerFile(const Case& c) {
    const std::string type = c.Type;
    return type == "mono" ? 1 : type == "pairs" ? 2 : c.Channels;
}

class TypeAndFormat : public ::testing::TestWithParam<Case> {};

// Three files cut inside frames, the last ending with half a frame: every output holds every
// complete frame of the stream, channels in place, and a reader sees the same samples.
TEST_P(TypeAndFormat, OutputsHoldEveryChannelOfEveryCompleteFrame) {
    const Case& c = GetParam();
    TempDir dir;
    const int frameBytes = c.Channels * ((c.Bits + 7) / 8);
    const size_t total = static_cast<size_t>(c.Frames) * frameBytes;
    const Take take =
        outputcheck::WriteTake(dir.Path(), 7, c.Channels, c.Bits, c.Frames,
                               {total / 3 + 1, 2 * total / 3 + frameBytes / 2},
                               static_cast<uint32_t>(frameBytes / 2 + 1) % frameBytes);
    const std::string base = dir.File("split");

    const auto run = splitprocess::Run({"-t", c.Type, "-f", c.Format, take.Paths[0], base});

    ASSERT_EQ(run.ExitStatus, 0) << run.Err;
    const bool caf = std::string(c.Format) == "caf";
    const int perFile = ChannelsPerFile(c);
    std::string listed;
    for (int first = 0; first < c.Channels; first += perFile) {
        char name[64];
        std::snprintf(name, sizeof name, "split_%02d.%s", first + 1, c.Format);
        listed += dir.File(name) + "\n";
        EXPECT_TRUE(OutputMatches(dir.File(name), take, take.Stream.size(), first, perFile, caf));
    }
    EXPECT_EQ(run.Out, listed);
    EXPECT_EQ(outputcheck::FilesStartingWith(dir.Path(), "split").size(),
              static_cast<size_t>((c.Channels + perFile - 1) / perFile));
    EXPECT_NE(run.Err.find("Conversion done."), std::string::npos) << run.Err;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, TypeAndFormat,
    ::testing::Values(
        Case{"MonoWav24", "mono", "wav", 5, 24, 3001}, Case{"MonoWav8", "mono", "wav", 2, 8, 4001},
        Case{"MonoCaf8", "mono", "caf", 3, 8, 3001}, Case{"MonoCaf32", "mono", "caf", 4, 32, 1999},
        Case{"PairsWav16", "pairs", "wav", 6, 16, 2500},
        Case{"PairsCaf24", "pairs", "caf", 4, 24, 3333},
        Case{"AllWav32", "all", "wav", 3, 32, 2048}, Case{"AllWav12", "all", "wav", 3, 12, 1500},
        Case{"AllCaf16", "all", "caf", 7, 16, 2222},
        // More than one 4 MiB source block and many output buffer flushes.
        Case{"MonoWavLarge", "mono", "wav", 7, 24, 320000},
        Case{"PairsCafLarge", "pairs", "caf", 10, 16, 260000}),
    [](const auto& param) { return std::string(param.param.Name); });

TEST(CliSourceEnd, EndIndexStopsAfterThatFileOfTheTake) {
    TempDir dir;
    const Take take = outputcheck::WriteTake(dir.Path(), 3, 2, 24, 900, {1001, 3002});

    const auto run = splitprocess::Run({"--end", "1", take.Paths[0], dir.File("part")});

    ASSERT_EQ(run.ExitStatus, 0) << run.Err;
    // Stream bytes up to the end of file 1: the frame cut by that end is left out.
    EXPECT_TRUE(OutputMatches(dir.File("part_01.wav"), take, 3002, 0, 1, false));
    EXPECT_TRUE(OutputMatches(dir.File("part_02.wav"), take, 3002, 1, 1, false));
}

TEST(CliSourceEnd, EndIndexBeyondTheTakeAddsNothing) {
    TempDir dir;
    const Take take = outputcheck::WriteTake(dir.Path(), 3, 2, 16, 300, {401});

    const auto run = splitprocess::Run({"-e", "2", take.Paths[0], dir.File("part")});

    EXPECT_EQ(run.ExitStatus, 1);
    EXPECT_NE(run.Err.find(take.Paths[0]), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("--end must lie from 0 to 1"), std::string::npos) << run.Err;
    EXPECT_TRUE(outputcheck::FilesStartingWith(dir.Path(), "part").empty());
}

TEST(CliNames, RelativePathsAndADirectoryAsOutputBase) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("out"));
    const Take take = outputcheck::WriteTake(dir.Path(), 12, 2, 16, 500, {});
    const Take other = outputcheck::WriteTake(dir.Path(), 13, 2, 16, 400, {});

    splitprocess::Options inDir;
    inDir.WorkingDirectory = dir.Path();
    const auto run = splitprocess::Run(
        {"-t", "all", "MKZ12_01.WAV", "out", "MKZ13_01.WAV", "out/take13.WAV"}, inDir);

    ASSERT_EQ(run.ExitStatus, 0) << run.Err;
    // A directory takes the start file's name; a ".WAV" at the end of a base is dropped.
    EXPECT_TRUE(
        OutputMatches(dir.File("out/MKZ12_01_01.wav"), take, take.Stream.size(), 0, 2, false));
    EXPECT_TRUE(
        OutputMatches(dir.File("out/take13_01.wav"), other, other.Stream.size(), 0, 2, false));
    EXPECT_EQ(run.Out,
              dir.File("out/MKZ12_01_01.wav") + "\n" + dir.File("out/take13_01.wav") + "\n");
}

TEST(CliNames, QuietPrintsNothingAndStillConverts) {
    TempDir dir;
    const Take take = outputcheck::WriteTake(dir.Path(), 1, 4, 16, 700, {999});

    const auto run = splitprocess::Run({"-q", "-t", "pairs", take.Paths[0], dir.File("q")});

    EXPECT_EQ(run.ExitStatus, 0);
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, "");
    EXPECT_TRUE(OutputMatches(dir.File("q_01.wav"), take, take.Stream.size(), 0, 2, false));
    EXPECT_TRUE(OutputMatches(dir.File("q_03.wav"), take, take.Stream.size(), 2, 2, false));
}

} // namespace
