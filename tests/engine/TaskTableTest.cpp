#include "EngineTestUtil.h"
#include "TempDir.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>

using namespace enginetest;
using namespace morvex;

namespace {

class TaskTableTest : public ::testing::Test {
protected:
    // A valid take of ten frames with the given channel count.
    std::string Take(const std::string& name, uint16_t channels = 2) {
        const std::string path = dir.File(name);
        testtake::WriteFile(path, testtake::MakeWav(Format(channels, 16),
                                                    testtake::PatternSamples(10, channels, 2)));
        return path;
    }

    TempDir dir;
    CMorvexWorker worker;
};

TEST_F(TaskTableTest, CanStartAndAllDoneLookOnlyAtTasksThatAreNotDone) {
    EXPECT_FALSE(worker.CanStart(0));
    EXPECT_TRUE(worker.AllDone(0));

    AddTask(worker, 0, Take("a.wav"), dir.File("outA"));
    RunAll(worker, 1);
    ASSERT_EQ(worker.GetEntryState(0), kStateDone);
    EXPECT_FALSE(worker.CanStart(1));
    EXPECT_TRUE(worker.AllDone(1));

    const std::string second = Take("b.wav", 7);
    AddTask(worker, 1, second, "", kTypePairs);
    EXPECT_EQ(worker.GetEntryState(1), kStateNoDestination);
    EXPECT_FALSE(worker.CanStart(2));
    EXPECT_FALSE(worker.AllDone(2));
    ASSERT_EQ(worker.SetDestinationBaseFile(1, dir.File("outB").c_str(), 2), 1);
    EXPECT_EQ(worker.GetEntryState(1), kStateCannotPair);
    EXPECT_FALSE(worker.CanStart(2));
    worker.SetDestinationType(1, kTypeMono);
    EXPECT_TRUE(worker.CanStart(2));

    // A failed task is tried again by the next run, so it does not block one...
    std::remove(second.c_str());
    RunAll(worker, 2);
    EXPECT_EQ(worker.Entry(1).ErrorState, kErrorInputRead);
    EXPECT_EQ(worker.GetEntryState(1), kStateFailed);
    EXPECT_TRUE(worker.CanStart(2));
    Take("b.wav", 7);
    RunAll(worker, 2);
    EXPECT_EQ(worker.Entry(1).ErrorState, kErrorNone);
    EXPECT_EQ(worker.GetEntryState(1), kStateDone);
    // ...but a name in use does, until it is changed.
    ASSERT_EQ(worker.SetDestinationBaseFile(1, dir.File("outA").c_str(), 2), 1);
    EXPECT_EQ(worker.Entry(1).ErrorState, kErrorNameInUse);
    EXPECT_FALSE(worker.CanStart(2));
}

TEST_F(TaskTableTest, DestinationDropsWavExtensionAndMarksOnlyTheTaskThatReusesAName) {
    AddTask(worker, 0, Take("a.wav"), "");
    AddTask(worker, 1, Take("b.wav"), "");
    ASSERT_EQ(worker.SetDestinationBaseFile(0, dir.File("Gig.WAV").c_str(), 2), 1);
    EXPECT_EQ(std::string(worker.GetDestinationBaseFile(0)), dir.File("Gig"));

    for (const char* name : {"Gig", "Gig.wav", "Gig.Wav"}) {
        ASSERT_EQ(worker.SetDestinationBaseFile(1, dir.File(name).c_str(), 2), 1);
        EXPECT_EQ(worker.GetEntryState(1), kStateFailed) << name;
        EXPECT_EQ(worker.Entry(1).ErrorState, kErrorNameInUse) << name;
        EXPECT_EQ(worker.GetEntryState(0), kStateReady) << name;
    }
    // Letter case counts, and a name given again clears the mark.
    ASSERT_EQ(worker.SetDestinationBaseFile(1, dir.File("gig").c_str(), 2), 1);
    EXPECT_EQ(worker.GetEntryState(1), kStateReady);

    // Setting the destination of a done task makes it ready again.
    RunAll(worker, 2);
    ASSERT_EQ(worker.GetEntryState(0), kStateDone);
    ASSERT_EQ(worker.SetDestinationBaseFile(0, dir.File("Other").c_str(), 2), 1);
    EXPECT_EQ(worker.GetEntryState(0), kStateReady);
    EXPECT_FALSE(worker.Entry(0).fConversionDone);

    // A path that does not fit is refused whole, never cut.
    const std::string tooLong(999, 'x');
    const std::string fits(998, 'y');
    EXPECT_EQ(worker.SetDestinationBaseFile(0, ("/" + tooLong).c_str(), 2), 0);
    EXPECT_EQ(std::string(worker.GetDestinationBaseFile(0)), dir.File("Other"));
    EXPECT_EQ(worker.SetDestinationBaseFile(0, ("/" + fits).c_str(), 2), 1);
    EXPECT_EQ(std::strlen(worker.GetDestinationBaseFile(0)), 999U);

    EXPECT_EQ(worker.SetDestinationBaseFile(30, "/x", 2), 0);
    EXPECT_EQ(worker.SetDestinationBaseFile(-1, "/x", 2), 0);
}

TEST_F(TaskTableTest, DeleteEntryMovesLaterTasksDownAndEmptiesTheLastRecord) {
    AddTask(worker, 0, Take("a.wav", 2), dir.File("A"), kTypeMono, kFormatWav);
    AddTask(worker, 1, Take("b.wav", 4), dir.File("B"), kTypePairs, kFormatCaf);
    AddTask(worker, 2, Take("c.wav", 6), dir.File("C"), kTypeAll, kFormatWav);
    AddTask(worker, 29, Take("z.wav", 1), dir.File("Z"), kTypeAll, kFormatCaf);
    const SplitEntryInfo second = worker.Entry(1);
    const SplitEntryInfo third = worker.Entry(2);

    ASSERT_EQ(worker.DeleteEntry(0), 1);
    for (const auto& [index, was] : {std::pair{0, &second}, std::pair{1, &third}}) {
        const SplitEntryInfo& moved = worker.Entry(index);
        EXPECT_STREQ(moved.SourceFilePath, was->SourceFilePath);
        EXPECT_STREQ(moved.DestinationBaseFilePath, was->DestinationBaseFilePath);
        EXPECT_EQ(std::tie(moved.Type, moved.Format, moved.ChannelNumb, moved.BytesTotal),
                  std::tie(was->Type, was->Format, was->ChannelNumb, was->BytesTotal));
    }
    EXPECT_EQ(std::string(worker.Entry(28).SourceFilePath), dir.File("z.wav"));
    for (int index : {2, 29}) {
        const SplitEntryInfo& freed = worker.Entry(index);
        EXPECT_EQ(std::string(freed.SourceFilePath) + freed.DestinationBaseFilePath, "");
        EXPECT_EQ(std::tie(freed.Type, freed.Format, freed.SubCount, freed.BytesTotal,
                           freed.fConversionDone),
                  std::make_tuple(0, 0, 0, int64_t{0}, false))
            << index;
    }

    AddTask(worker, 29, Take("y.wav", 1), "");
    EXPECT_EQ(worker.DeleteEntry(29), 1);
    EXPECT_EQ(worker.Entry(29).SourceFilePath[0], '\0');
    EXPECT_EQ(std::string(worker.Entry(28).SourceFilePath), dir.File("z.wav"));
    EXPECT_EQ(worker.DeleteEntry(30), 0);
    EXPECT_EQ(worker.DeleteEntry(-1), 0);
    EXPECT_STREQ(worker.Entry(0).SourceFilePath, second.SourceFilePath);
}

TEST_F(TaskTableTest, ErrorStringsAndNeutralAnswersOutsideTheTable) {
    const char* messages[] = {"Input file can not be read.",
                              "No System Memory available.",
                              "Following input file does not match start file format.",
                              "Output file can not be written.",
                              "Output file can not be created.",
                              "Maximum number of tasks reached.",
                              "Can not open selected input file.",
                              "Selected input file is too small.",
                              "Selected input file has incompatible WAV format.",
                              "Output file name is already in use."};
    for (int code = 1; code <= 10; ++code) {
        char text[kInfoTextBytes];
        worker.GetErrorString(code, text);
        EXPECT_STREQ(text, messages[code - 1]);
    }
    for (int code : {0, 11, -1}) {
        char text[kInfoTextBytes] = "untouched";
        worker.GetErrorString(code, text);
        EXPECT_STREQ(text, "untouched") << code;
    }

    AddTask(worker, 0, Take("a.wav"), dir.File("A"), kTypeAll, kFormatCaf);
    for (int index : {30, -1}) {
        worker.SetDestinationType(index, kTypePairs);
        worker.SetDestinationFormat(index, kFormatCaf);
        worker.SetSourceEndIndex(index, 0);
        EXPECT_EQ(worker.GetDestinationType(index), 0);
        EXPECT_EQ(worker.GetDestinationFormat(index), 0);
        EXPECT_EQ(worker.GetEntryState(index), 0);
        EXPECT_EQ(worker.GetSourceEndIndex(index), -1);
    }
    EXPECT_EQ(worker.GetDestinationType(0), kTypeAll);
    EXPECT_EQ(worker.GetDestinationFormat(0), kFormatCaf);
}

// While a run is under way only the running task shows 3; the others show 0 whatever they lack.
TEST_F(TaskTableTest, StatesDuringARun) {
    AddTask(worker, 0, Take("a.wav"), dir.File("A"));
    AddTask(worker, 1, Take("b.wav", 3), "", kTypePairs);
    worker.StartConversion(2);
    EXPECT_EQ(worker.GetEntryState(0), kStateReady);
    EXPECT_EQ(worker.GetEntryState(1), kStateReady);
    ASSERT_EQ(worker.ConversionStep(), kConvStartTask);
    EXPECT_EQ(worker.GetEntryState(0), kStateConverting);
    EXPECT_EQ(worker.GetEntryState(1), kStateReady);
    for (int i = 0; i < 100 && worker.ConversionStep() != kConvRunOver; ++i) {
    }
    EXPECT_EQ(worker.GetEntryState(0), kStateDone);
    EXPECT_EQ(worker.GetEntryState(1), kStateFailed);
    EXPECT_EQ(worker.Entry(1).ErrorState, kErrorOutputCreate);
}

} // namespace
