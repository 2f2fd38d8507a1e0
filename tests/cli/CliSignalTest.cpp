// morvex-split on a terminal: the live progress, and a stop by signal that leaves no half-written
// output of the running task while the tasks done before it keep theirs.
#include "OutputCheck.h"
#include "SplitProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

using outputcheck::FilesStartingWith;
using outputcheck::OutputMatches;
using outputcheck::Take;

// Quick to write: only the stop is looked at, not the samples.
std::vector<std::string> WriteBulkyTake(const std::string& directory, int takeNumber) {
    testtake::WavFormat format;
    format.channels = 16;
    format.bitsPerSample = 24;
    const size_t bytes = 24u << 20; // 48 MiB in two files: a dozen conversion steps
    testtake::Bytes stream(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        stream[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    }
    auto first = testtake::WriteTake(directory, takeNumber, 1, format, stream, {bytes / 2 + 5});
    stream.clear();
    return first;
}

class StopSignal : public ::testing::TestWithParam<int> {};

TEST_P(StopSignal, RunningTaskLeavesNoOutputAndEarlierTasksKeepTheirs) {
    const int signal = GetParam();
    TempDir dir;
    const Take small = outputcheck::WriteTake(dir.Path(), 1, 2, 16, 3000, {});
    const std::vector<std::string> bulky = WriteBulkyTake(dir.Path(), 2);
    const std::vector<std::string> secondBulky = WriteBulkyTake(dir.Path(), 3);

    splitprocess::TerminalRun run({small.Paths[0], dir.File("small"), bulky[0], dir.File("bulky"),
                                   secondBulky[0], dir.File("more")});
    // The second task's bar is drawn as it starts, before its first block is converted; the
    // signal is taken at the next step boundary.
    ASSERT_TRUE(run.WaitFor("[2/3]", 60000)) << run.Output();
    run.Send(signal);
    const auto result = run.Finish(60000);

    EXPECT_EQ(result.Signal, 0);
    EXPECT_EQ(result.ExitStatus, 128 + signal) << result.Out;
    EXPECT_NE(result.Out.find(bulky[0] + ": stopped; its output files were deleted"),
              std::string::npos)
        << result.Out;
    EXPECT_TRUE(FilesStartingWith(dir.Path(), "bulky").empty());
    EXPECT_TRUE(FilesStartingWith(dir.Path(), "more").empty());
    EXPECT_TRUE(OutputMatches(dir.File("small_01.wav"), small, small.Stream.size(), 0, 1, false));
    EXPECT_TRUE(OutputMatches(dir.File("small_02.wav"), small, small.Stream.size(), 1, 1, false));
    // The progress line of a terminal: percent and rate.
    EXPECT_NE(result.Out.find("%"), std::string::npos);
    EXPECT_NE(result.Out.find("MB/s"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cli, StopSignal, ::testing::Values(SIGINT, SIGTERM),
                         [](const auto& param) { return param.param == SIGINT ? "Int" : "Term"; });

TEST(CliTerminal, ProgressEndsInADoneLinePerTask) {
    TempDir dir;
    const Take first = outputcheck::WriteTake(dir.Path(), 1, 2, 16, 3000, {});
    const Take second = outputcheck::WriteTake(dir.Path(), 2, 4, 24, 2000, {777});

    splitprocess::TerminalRun run(
        {"-f", "caf", first.Paths[0], dir.File("a"), second.Paths[0], dir.File("b")});
    const auto result = run.Finish(60000);

    EXPECT_EQ(result.ExitStatus, 0) << result.Out;
    EXPECT_NE(result.Out.find("[1/2] " + first.Paths[0] + ": Conversion done."), std::string::npos)
        << result.Out;
    EXPECT_NE(result.Out.find("[2/2] " + second.Paths[0] + ": Conversion done."), std::string::npos)
        << result.Out;
    EXPECT_EQ(FilesStartingWith(dir.Path(), "b").size(), 4u);
}

} // namespace
