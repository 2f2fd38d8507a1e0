// A take that changes between adding its task and converting it, as happens when files are moved
// while a list waits: the task fails with the matching error and leaves no output, the next task
// is still converted. The command line adds and converts in one go, so this drives the worker.
#include "OutputCheck.h"
#include "TempDir.h"

#include "MorvexWorker.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

using outputcheck::FilesStartingWith;
using outputcheck::OutputMatches;
using outputcheck::Take;

struct Change {
    const char* Name;
    void (*Apply)(const std::string& follower);
    int Error;
};

void Remove(const std::string& follower) {
    std::remove(follower.c_str());
}

void Truncate(const std::string& follower) {
    testtake::WriteFile(follower, testtake::Bytes(40, 'x'));
}

void OtherSampleRate(const std::string& follower) {
    testtake::WavFormat format;
    format.channels = 4;
    format.bitsPerSample = 16;
    format.sampleRate = 44100;
    testtake::WriteFile(follower, testtake::MakeWav(format, testtake::PatternSamples(500, 4, 2)));
}

void OtherChannels(const std::string& follower) {
    testtake::WavFormat format;
    format.channels = 2;
    format.bitsPerSample = 16;
    testtake::WriteFile(follower, testtake::MakeWav(format, testtake::PatternSamples(500, 2, 2)));
}

void NoHeader(const std::string& follower) {
    testtake::WriteFile(follower, testtake::Bytes(5000, 0x11));
}

class TakeChanged : public ::testing::TestWithParam<Change> {};

TEST_P(TakeChanged, TaskFailsWithItsErrorAndLeavesNoOutput) {
    TempDir dir;
    // Large enough that the outputs have been written to before the changed file is reached.
    const Take take = outputcheck::WriteTake(dir.Path(), 4, 4, 16, 1000000, {4200001, 6000003});
    const Take next = outputcheck::WriteTake(dir.Path(), 5, 2, 16, 800, {});
    auto worker = std::make_unique<CMorvexWorker>();
    ASSERT_EQ(worker->SetStartFile(0, take.Paths[0].c_str()), 0);
    ASSERT_EQ(worker->Entry(0).SubCount, 3);
    ASSERT_EQ(worker->SetDestinationBaseFile(0, dir.File("changed").c_str(), 1), 1);
    ASSERT_EQ(worker->SetStartFile(1, next.Paths[0].c_str()), 0);
    ASSERT_EQ(worker->SetDestinationBaseFile(1, dir.File("next").c_str(), 2), 1);

    GetParam().Apply(take.Paths[2]);
    worker->StartConversion(2);
    int steps = 0;
    while (worker->ConversionStep() != morvex::kConvRunOver && ++steps < 100000) {
    }

    EXPECT_EQ(worker->GetEntryState(0), morvex::kStateFailed);
    EXPECT_EQ(worker->Entry(0).ErrorState, GetParam().Error);
    EXPECT_FALSE(worker->Entry(0).fConversionDone);
    EXPECT_TRUE(FilesStartingWith(dir.Path(), "changed").empty());
    EXPECT_EQ(worker->GetEntryState(1), morvex::kStateDone);
    EXPECT_TRUE(OutputMatches(dir.File("next_01.wav"), next, next.Stream.size(), 0, 1, false));
    EXPECT_TRUE(OutputMatches(dir.File("next_02.wav"), next, next.Stream.size(), 1, 1, false));
}

INSTANTIATE_TEST_SUITE_P(
    Worker, TakeChanged,
    ::testing::Values(Change{"FollowerRemoved", Remove, morvex::kErrorInputRead},
                      Change{"FollowerTooShort", Truncate, morvex::kErrorInputRead},
                      Change{"FollowerOtherSampleRate", OtherSampleRate,
                             morvex::kErrorFollowerFormat},
                      Change{"FollowerOtherChannels", OtherChannels, morvex::kErrorFollowerFormat},
                      Change{"FollowerWithoutHeader", NoHeader, morvex::kErrorFollowerFormat}),
    [](const auto& param) { return std::string(param.param.Name); });

} // namespace
