// morvex-split refusing bad command lines and inputs, and failing tasks without leaving output.
#include "OutputCheck.h"
#include "SplitProcess.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using outputcheck::FilesStartingWith;
using outputcheck::OutputMatches;
using outputcheck::Take;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class UsageError : public ::testing::TestWithParam<std::vector<std::string>> {};

// A usage error ends with status 2 before any file is touched.
TEST_P(UsageError, ExitsWithTwoAndWritesNothing) {
    TempDir dir;
    const Take take = outputcheck::WriteTake(dir.Path(), 1, 2, 16, 100, {});
    std::vector<std::string> args;
    for (const std::string& arg : GetParam()) {
        if (arg == "START") {
            args.push_back(take.Paths[0]);
        } else if (arg.rfind("BASE", 0) == 0) {
            args.push_back(dir.File("u" + arg.substr(4)));
        } else {
            args.push_back(arg);
        }
    }

    const auto run = splitprocess::Run(args);

    EXPECT_EQ(run.ExitStatus, 2) << run.Err;
    EXPECT_FALSE(run.Err.empty());
    EXPECT_TRUE(FilesStartingWith(dir.Path(), "u").empty());
}

std::vector<std::string> ThirtyOneTasks() {
    std::vector<std::string> args;
    for (int i = 0; i < 31; ++i) {
        args.push_back("START");
        args.push_back("BASE" + std::to_string(i));
    }
    return args;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, UsageError,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"START"},
                      std::vector<std::string>{"START", "BASE", "START"},
                      std::vector<std::string>{"-t", "stereo", "START", "BASE"},
                      std::vector<std::string>{"-f", "mp3", "START", "BASE"},
                      std::vector<std::string>{"-e", "-1", "START", "BASE"},
                      std::vector<std::string>{"-e", "100", "START", "BASE"},
                      std::vector<std::string>{"-e", "one", "START", "BASE"},
                      std::vector<std::string>{"--bogus", "START", "BASE"}, ThirtyOneTasks()));

TEST(CliUsage, HelpAndVersionExitZero) {
    const auto help = splitprocess::Run({"--help"});
    EXPECT_EQ(help.ExitStatus, 0);
    EXPECT_TRUE(Contains(help.Out, "START.WAV OUTPUT_BASE")) << help.Out;
    EXPECT_TRUE(Contains(help.Out, "--type")) << help.Out;

    const auto version = splitprocess::Run({"--version"});
    EXPECT_EQ(version.ExitStatus, 0);
    EXPECT_EQ(version.Out.rfind("morvex-split ", 0), 0u) << version.Out;
}

// A task that cannot be added stops the whole run before anything is written, with the engine's
// message and the file it is about.
TEST(CliAddTask, UnusableStartFilesAreNamedAndNothingIsConverted) {
    TempDir dir;
    const Take good = outputcheck::WriteTake(dir.Path(), 1, 2, 16, 100, {});
    testtake::WriteFile(dir.File("tiny.wav"), testtake::Bytes(20, 0));
    testtake::WavFormat floating;
    floating.formatTag = 3;
    floating.bitsPerSample = 32;
    testtake::WriteFile(dir.File("float.wav"),
                        testtake::MakeWav(floating, testtake::PatternSamples(10, 2, 4)));

    const auto run = splitprocess::Run({good.Paths[0], dir.File("a"), dir.File("missing.wav"),
                                        dir.File("b"), dir.File("tiny.wav"), dir.File("c"),
                                        dir.File("float.wav"), dir.File("d")});

    EXPECT_EQ(run.ExitStatus, 1);
    EXPECT_TRUE(Contains(run.Err, dir.File("missing.wav") + ": Can not open selected input file."))
        << run.Err;
    EXPECT_TRUE(Contains(run.Err, dir.File("tiny.wav") + ": Selected input file is too small."))
        << run.Err;
    EXPECT_TRUE(Contains(run.Err, dir.File("float.wav") +
                                      ": Selected input file has incompatible WAV format."))
        << run.Err;
    EXPECT_EQ(run.Out, "");
    EXPECT_TRUE(FilesStartingWith(dir.Path(), "a_").empty());
}

TEST(CliAddTask, TasksThatCannotStartAreNamedWithTheirState) {
    TempDir dir;
    const Take odd = outputcheck::WriteTake(dir.Path(), 1, 3, 16, 100, {});
    const Take even = outputcheck::WriteTake(dir.Path(), 2, 4, 16, 100, {});

    const auto pairs = splitprocess::Run(
        {"-t", "pairs", even.Paths[0], dir.File("even"), odd.Paths[0], dir.File("odd")});
    EXPECT_EQ(pairs.ExitStatus, 1);
    EXPECT_TRUE(
        Contains(pairs.Err, odd.Paths[0] + ": Missmatch: 2 channel format / odd channel count."))
        << pairs.Err;
    EXPECT_FALSE(Contains(pairs.Err, even.Paths[0])) << pairs.Err;

    // "same" and "same.wav" are one base once the engine has cut the extension.
    const auto twice =
        splitprocess::Run({even.Paths[0], dir.File("same"), odd.Paths[0], dir.File("same.wav")});
    EXPECT_EQ(twice.ExitStatus, 1);
    EXPECT_TRUE(Contains(twice.Err, odd.Paths[0] + ": Output file name is already in use."))
        << twice.Err;

    EXPECT_TRUE(FilesStartingWith(dir.Path(), "even").empty());
    EXPECT_TRUE(FilesStartingWith(dir.Path(), "odd").empty());
    EXPECT_TRUE(FilesStartingWith(dir.Path(), "same").empty());
}

// An output name that exists fails its task only: the existing file keeps every byte, the
// task's other outputs are removed, and the next task is still converted.
TEST(CliTaskFailure, ExistingOutputFailsItsTaskAndIsLeftAlone) {
    TempDir dir;
    const Take first = outputcheck::WriteTake(dir.Path(), 1, 4, 24, 600, {1000});
    const Take second = outputcheck::WriteTake(dir.Path(), 2, 2, 16, 500, {});
    const testtake::Bytes precious{'k', 'e', 'e', 'p', 0, 1, 2, 3};
    testtake::WriteFile(dir.File("one_03.wav"), precious);

    const auto run =
        splitprocess::Run({first.Paths[0], dir.File("one"), second.Paths[0], dir.File("two")});

    EXPECT_EQ(run.ExitStatus, 1);
    EXPECT_TRUE(Contains(run.Err, first.Paths[0] + ": Output file can not be created.")) << run.Err;
    EXPECT_EQ(testtake::ReadFile(dir.File("one_03.wav")), precious);
    EXPECT_EQ(FilesStartingWith(dir.Path(), "one"), std::vector<std::string>{"one_03.wav"});
    EXPECT_TRUE(OutputMatches(dir.File("two_01.wav"), second, second.Stream.size(), 0, 1, false));
    EXPECT_TRUE(OutputMatches(dir.File("two_02.wav"), second, second.Stream.size(), 1, 1, false));
    EXPECT_EQ(run.Out, dir.File("two_01.wav") + "\n" + dir.File("two_02.wav") + "\n");
}

TEST(CliTaskFailure, MissingOutputDirectoryFailsTheTask) {
    TempDir dir;
    const Take take = outputcheck::WriteTake(dir.Path(), 1, 2, 16, 100, {});

    const auto run = splitprocess::Run({take.Paths[0], dir.File("nowhere/x")});

    EXPECT_EQ(run.ExitStatus, 1);
    EXPECT_TRUE(Contains(run.Err, "Output file can not be created.")) << run.Err;
    EXPECT_FALSE(std::filesystem::exists(dir.File("nowhere")));
}

// A file size limit makes the outputs' writes fall short: the task fails with the engine's
// write error instead of the process being killed, and no output is left behind.
TEST(CliTaskFailure, FileSizeLimitIsAFailedWriteNotACrash) {
    TempDir dir;
    const Take take = outputcheck::WriteTake(dir.Path(), 1, 2, 24, 200000, {555555});
    splitprocess::Options limited;
    limited.FileSizeLimit = 64 * 1024;

    const auto run = splitprocess::Run({take.Paths[0], dir.File("big")}, limited);

    EXPECT_EQ(run.Signal, 0);
    EXPECT_EQ(run.ExitStatus, 1) << run.Err;
    EXPECT_TRUE(Contains(run.Err, take.Paths[0] + ": Output file can not be written.")) << run.Err;
    EXPECT_TRUE(FilesStartingWith(dir.Path(), "big").empty());
}

// --info analyses and names what would be written, and writes nothing.
TEST(CliInfo, ShowsTheTakeAndWritesNothing) {
    TempDir dir;
    const Take take = outputcheck::WriteTake(dir.Path(), 5, 4, 16, 3000, {7001, 15003});
    // A fourth file of another sample rate is not part of the take.
    testtake::WavFormat other = take.Format;
    other.sampleRate = 44100;
    testtake::WriteFile(dir.File(testtake::SchemeName(5, 4)),
                        testtake::MakeWav(other, testtake::PatternSamples(100, 4, 2)));

    const auto run = splitprocess::Run(
        {"-i", "-t", "pairs", "-f", "caf", "-e", "1", take.Paths[0], dir.File("info")});

    EXPECT_EQ(run.ExitStatus, 0) << run.Err;
    const std::string expected =
        "Task 1: " + take.Paths[0] +
        "\n"
        "  Files:   3 in the take: MKZ05_01.WAV MKZ05_02.WAV MKZ05_03.WAV\n"
        "  Convert: MKZ05_01.WAV to MKZ05_02.WAV (--end 1)\n"
        "  Format:  4 channels, 48000 Hz, 16 bit\n";
    EXPECT_EQ(run.Out.substr(0, expected.size()), expected) << run.Out;
    EXPECT_TRUE(Contains(run.Out, "  Outputs: 2 pairs file(s): " + dir.File("info_01.caf") + " " +
                                      dir.File("info_03.caf") + "\n"))
        << run.Out;
    EXPECT_TRUE(Contains(run.Out, "  State:   File(s) prepared for conversion.\n")) << run.Out;
    EXPECT_TRUE(FilesStartingWith(dir.Path(), "info").empty());
}

} // namespace
