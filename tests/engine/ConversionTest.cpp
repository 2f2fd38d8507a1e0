#include "EngineTestUtil.h"
#include "TempDir.h"

#include <algorithm>
#include <filesystem>
#include <string>

using namespace enginetest;
using namespace morvex;
using testtake::PatternSamples;

namespace {

class ConversionTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directory(out); }

    std::string Start(int take) const { return dir.File(testtake::SchemeName(take, 1)); }
    std::string Base(int task) const { return out + "/task" + std::to_string(task); }
    std::vector<std::string> Outputs() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
            if (entry.is_regular_file()) {
                names.push_back(entry.path().filename().string());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    const std::string out = dir.File("out");
    CMorvexWorker worker;
};

// The sample bytes behind the header of the output whose first channel is `first`: those
// channels of every complete frame, in order.
Bytes OutputSamples(const Bytes& stream, int channels, int bytesPerSample, int first, int perFile) {
    Bytes samples;
    const size_t frames = stream.size() / static_cast<size_t>(channels * bytesPerSample);
    for (size_t f = 0; f < frames; ++f) {
        for (int c = first; c < first + perFile; ++c) {
            const Bytes s = testtake::SampleAt(stream, channels, bytesPerSample, f, c);
            samples.insert(samples.end(), s.begin(), s.end());
        }
    }
    return samples;
}

Bytes WithoutHeader(const std::string& path, size_t header) {
    const Bytes file = testtake::ReadFile(path);
    return file.size() < header ? Bytes{}
                                : Bytes(file.begin() + static_cast<long>(header), file.end());
}

TEST_F(ConversionTest, StepAnswersFollowTheStateMachine) {
    EXPECT_EQ(worker.ConversionStep(), kConvIdle);
    worker.StartConversion(0);
    EXPECT_EQ(worker.ConversionStep(), kConvRunOver);
    worker.StartConversion(-3);
    EXPECT_EQ(worker.ConversionStep(), kConvRunOver);

    testtake::WriteTake(dir.Path(), 0, 1, Format(2, 16), PatternSamples(10, 2, 2), {});
    testtake::WriteTake(dir.Path(), 1, 1, Format(2, 16), PatternSamples(10, 2, 2), {25});
    AddTask(worker, 0, Start(0), Base(0));
    EXPECT_EQ(RunAll(worker, 1), (std::vector<int>{1, 3, 4, 5, 6}));
    EXPECT_EQ(RunAll(worker, 1), std::vector<int>{6}); // nothing left to do

    AddTask(worker, 1, Start(1), Base(1));
    worker.StartConversion(2);
    EXPECT_EQ(worker.ConversionStep(), kConvStartTask); // task 0, done, is skipped
    double fraction = -1;
    int entry = -1;
    worker.GetConversionInfo(&fraction, &entry);
    EXPECT_EQ(entry, 1);
    AddTask(worker, 2, Start(0), Base(2)); // added during the run: not part of it
    worker.StartConversion(3);             // ignored while a run is under way
    std::vector<int> rest;
    for (int i = 0; i < 20 && (rest.empty() || rest.back() != kConvRunOver); ++i) {
        rest.push_back(worker.ConversionStep());
    }
    EXPECT_EQ(rest, (std::vector<int>{3, 3, 4, 5, 6})); // the second file is opened in state 3
    EXPECT_EQ(worker.GetEntryState(1), kStateDone);
    EXPECT_EQ(worker.GetEntryState(2), kStateReady);
    EXPECT_FALSE(testtake::FileExists(Base(2) + "_01.wav"));

    // A count past the table is cut to it: the free records fail for want of a destination.
    EXPECT_EQ(RunAll(worker, 1000).back(), kConvRunOver);
    EXPECT_EQ(worker.GetEntryState(2), kStateDone);
    EXPECT_EQ(worker.Entry(29).ErrorState, kErrorOutputCreate);
}

// 12-bit samples live in 2-byte containers; frames cut across three files are joined, and the
// incomplete frame at the end of the take is in no output, nor counted by any header.
TEST_F(ConversionTest, SampleContainersAndFramesCutAcrossFiles) {
    Bytes stream = PatternSamples(101, 3, 2);
    stream.resize(100 * 6 + 5);
    testtake::WriteTake(dir.Path(), 0, 1, Format(3, 12), stream, {6 * 30 + 1, 6 * 70 + 5});
    AddTask(worker, 0, Start(0), Base(0), kTypeMono, kFormatWav);
    AddTask(worker, 1, Start(0), Base(1), kTypeAll, kFormatCaf);
    // 8-bit WAV samples are unsigned, CAF's are signed: their top bit flips.
    const Bytes eightBit = PatternSamples(40, 2, 1);
    testtake::WriteTake(dir.Path(), 1, 1, Format(2, 8), eightBit, {33});
    AddTask(worker, 2, Start(1), Base(2), kTypeAll, kFormatCaf);
    RunAll(worker, 3);

    for (int c = 0; c < 3; ++c) {
        const std::string path = OutputName(Base(0), c + 1, kFormatWav);
        EXPECT_EQ(WithoutHeader(path, 80), OutputSamples(stream, 3, 2, c, 1)) << path;
        const Bytes file = testtake::ReadFile(path);
        EXPECT_EQ(file[70] | file[71] << 8, 16) << "bits per sample";
        EXPECT_EQ(file[76] | file[77] << 8 | file[78] << 16 | file[79] << 24, 200) << "data size";
    }
    const std::string all = OutputName(Base(1), 1, kFormatCaf);
    EXPECT_EQ(WithoutHeader(all, 68), OutputSamples(stream, 3, 2, 0, 3));
    const Bytes caf = testtake::ReadFile(all);
    EXPECT_EQ(caf[51], 16) << "bits per channel";
    EXPECT_EQ(caf[62] << 8 | caf[63], 604) << "data chunk size";

    Bytes flipped = eightBit;
    for (uint8_t& sample : flipped) {
        sample ^= 0x80;
    }
    EXPECT_EQ(WithoutHeader(OutputName(Base(2), 1, kFormatCaf), 68), flipped);
    EXPECT_EQ(Outputs().size(), 5U);
}

// Everything behind the data chunk is sample data, whatever the chunk header says; the progress
// fraction relates the converted bytes to the declared ones and stays finite for 0.
TEST_F(ConversionTest, BytesBehindTheDataChunkAreConvertedAndCountInTheFraction) {
    const auto format = Format(2, 16);
    const Bytes samples = PatternSamples(100, 2, 2);
    const Bytes chunk = testtake::Chunk("LIST", Bytes(10, 0x33)); // 18 bytes: 4 more frames
    testtake::WavLayout trailing;
    trailing.trailingBytes = chunk;
    testtake::WavLayout undeclared;
    undeclared.dataSizeFromBody = false;
    const std::pair<std::string, testtake::WavLayout> files[] = {
        {"plain.wav", trailing}, {"exact.wav", {}}, {"zero.wav", undeclared}};
    for (int task = 0; task < 3; ++task) {
        testtake::WriteFile(dir.File(files[task].first),
                            testtake::MakeWav(format, samples, files[task].second));
        AddTask(worker, task, dir.File(files[task].first), Base(task));
    }
    std::vector<double> finished;
    worker.StartConversion(3);
    for (int i = 0, last = 0; i < 100 && last != kConvRunOver; ++i) {
        const int answer = worker.ConversionStep();
        if (last == kConvFinishTask && answer == kConvNextTask) {
            double fraction = -1;
            int entry = -1;
            worker.GetConversionInfo(&fraction, &entry);
            finished.push_back(fraction);
        }
        last = answer;
    }
    EXPECT_EQ(finished, (std::vector<double>{416.0 / 400.0, 1.0, 0.0}));
    Bytes withChunk = samples;
    withChunk.insert(withChunk.end(), chunk.begin(), chunk.end());
    EXPECT_EQ(WithoutHeader(Base(0) + "_02.wav", 80), OutputSamples(withChunk, 2, 2, 1, 1));
    EXPECT_EQ(WithoutHeader(Base(2) + "_02.wav", 80), OutputSamples(samples, 2, 2, 1, 1));
}

// Tasks that cannot be started fail with error 5 before their start file is opened or any
// output is created; the run goes on with the next task.
TEST_F(ConversionTest, TasksRefusedAtTheirStartLeaveNoFile) {
    int task = 0;
    const auto add = [&](const std::string& base, int type, int format, uint16_t channels) {
        testtake::WriteTake(dir.Path(), task, 1, Format(channels, 16),
                            PatternSamples(50, channels, 2), {});
        AddTask(worker, task, Start(task), base, type, format);
        return task++;
    };
    const int oddPairs = add(Base(0), kTypePairs, kFormatWav, 3);
    std::filesystem::remove(Start(oddPairs)); // must not matter: it is never opened
    add(Base(1), kTypeMono, 2, 2);            // no such format
    const int noDestination = add(Base(2), kTypeMono, kFormatWav, 2);
    ASSERT_EQ(worker.SetDestinationBaseFile(noDestination, "", task), 1);

    // The output name needs 7 bytes behind the base path and must fit 1000 with its terminator.
    std::string folder = out;
    while (folder.size() < 780) {
        folder += "/" + std::string(200, 'd');
    }
    std::filesystem::create_directories(folder);
    const std::string fits = folder + "/" + std::string(992 - folder.size() - 1, 'n');
    add(folder + "/" + std::string(993 - folder.size() - 1, 'l'), kTypeMono, kFormatWav, 1);
    const int good = add(fits, kTypeMono, kFormatWav, 1);

    RunAll(worker, task);
    for (int i = 0; i < task; ++i) {
        EXPECT_EQ(worker.Entry(i).ErrorState, i == good ? kErrorNone : kErrorOutputCreate) << i;
    }
    EXPECT_EQ(Outputs(), std::vector<std::string>{fits.substr(folder.size() + 1) + "_01.wav"});
}

// A follower cut short before its data chunk: the bytes of the start file's block that remain
// behind it in the buffer hold "data" where the search would look next.
TEST_F(ConversionTest, FollowerHeaderIsNeverFoundInAnEarlierBlock) {
    Bytes stream = PatternSamples(300, 4, 2);
    std::copy_n("data", 4, stream.begin() + 4);
    testtake::WriteTake(dir.Path(), 0, 1, Format(4, 16), stream, {1000});
    AddTask(worker, 0, Start(0), Base(0));
    const std::string follower = dir.File(testtake::SchemeName(0, 2));
    Bytes cut = testtake::ReadFile(follower);
    cut.resize(36);
    cut.resize(46, 'x');
    testtake::WriteFile(follower, cut);
    RunAll(worker, 1);
    EXPECT_EQ(worker.Entry(0).ErrorState, kErrorFollowerFormat);
    EXPECT_TRUE(Outputs().empty());
}

TEST_F(ConversionTest, DestroyingTheWorkerMidTaskDeletesItsOutputs) {
    testtake::WriteTake(dir.Path(), 0, 1, Format(4, 16), PatternSamples(50, 4, 2), {});
    {
        CMorvexWorker doomed;
        AddTask(doomed, 0, Start(0), Base(0), kTypePairs, kFormatCaf);
        doomed.StartConversion(1);
        doomed.ConversionStep();
        ASSERT_EQ(doomed.ConversionStep(), kConvConvert);
        EXPECT_EQ(Outputs(), (std::vector<std::string>{"task0_01.caf", "task0_03.caf"}));
    }
    EXPECT_TRUE(Outputs().empty());
}

} // namespace
