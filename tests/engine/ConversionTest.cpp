#include "EngineTestUtil.h"
#include "TempDir.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <sys/resource.h>

using namespace enginetest;
using namespace morvex;
using testtake::PatternSamples;

namespace {

class ConversionTest : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directory(out); }

    // Writes take `take` (files MKZtt_01, _02, ...) of `frames` frames plus `extraBytes` of a
    // frame, cut at the given byte positions of the sample stream.
    Bytes Take(int take, const testtake::WavFormat& format, uint32_t frames, uint32_t extraBytes,
               const std::vector<size_t>& cuts) {
        Bytes stream = PatternSamples(frames + 1, format.channels, format.BytesPerSample(),
                                      static_cast<uint32_t>(take));
        stream.resize(static_cast<size_t>(frames) * static_cast<size_t>(format.FrameBytes()) +
                      extraBytes);
        testtake::WriteTake(dir.Path(), take, 1, format, stream, cuts);
        return stream;
    }
    std::string Start(int take) const { return dir.File(testtake::SchemeName(take, 1)); }
    std::string Base(int task) const { return out + "/task" + std::to_string(task); }
    std::vector<std::string> Outputs() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(out)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    const std::string out = dir.File("out");
    CMorvexWorker worker;
};

// Every output of a finished task, read by libsndfile, against the stream it was cut from.
void ExpectOutputs(const std::string& base, int type, int format, const testtake::WavFormat& take,
                   const Bytes& stream) {
    const int n = take.channels;
    const int b = take.BytesPerSample();
    const int perFile = type == kTypePairs ? 2 : type == kTypeAll ? n : 1;
    const size_t frames = stream.size() / static_cast<size_t>(n * b);
    const int subtypes[] = {0, format == kFormatWav ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8,
                            SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_32};
    for (int first = 0; first < n; first += perFile) {
        const std::string path = OutputName(base, first + 1, format);
        SCOPED_TRACE(path);
        const size_t header = format == kFormatWav ? 80 : 68;
        ASSERT_EQ(testtake::ReadFile(path).size(),
                  header + frames * static_cast<size_t>(perFile * b));
        const Sound sound = ReadSound(path);
        EXPECT_EQ(sound.info.format & SF_FORMAT_SUBMASK, subtypes[b]);
        ASSERT_EQ(sound.info.channels, perFile);
        EXPECT_EQ(sound.info.samplerate, static_cast<int>(take.sampleRate));
        ASSERT_EQ(sound.info.frames, static_cast<sf_count_t>(frames));
        size_t wrong = 0;
        for (size_t f = 0; f < frames; ++f) {
            for (int c = 0; c < perFile; ++c) {
                // 8-bit CAF is signed: the flipped top bit reads as the same value as WAV's u8.
                const int expected =
                    SndfileInt(testtake::SampleAt(stream, n, b, f, first + c), true);
                wrong += sound.samples[f * static_cast<size_t>(perFile) + static_cast<size_t>(c)] !=
                         expected;
            }
        }
        EXPECT_EQ(wrong, 0U) << "samples differ";
    }
}

// Thirty tasks, one run: every type and format at every sample size, each take in three files
// cut inside frames and ending with an incomplete frame that no output may hold.
TEST_F(ConversionTest, EveryTypeFormatAndSampleSizeSurvivesCutsAcrossFiles) {
    struct Case {
        int type, format;
        testtake::WavFormat take;
        Bytes stream;
    };
    std::vector<Case> cases;
    for (int type : {kTypeMono, kTypePairs, kTypeAll}) {
        for (int format : {kFormatWav, kFormatCaf}) {
            for (int bits : {8, 12, 16, 24, 32}) {
                const int task = static_cast<int>(cases.size());
                const auto take = Format(6, static_cast<uint16_t>(bits), 44100);
                const size_t frame = static_cast<size_t>(take.FrameBytes());
                const Bytes stream = Take(task, take, 200, static_cast<uint32_t>(frame - 1),
                                          {frame * 7 + 1, frame * 120 + frame - 1});
                AddTask(worker, task, Start(task), Base(task), type, format);
                cases.push_back({type, format, take, stream});
            }
        }
    }
    ASSERT_EQ(cases.size(), 30U);
    RunAll(worker, 30);
    for (size_t task = 0; task < cases.size(); ++task) {
        const Case& c = cases[task];
        SCOPED_TRACE(testing::Message() << "type " << c.type << ", format " << c.format << ", "
                                        << c.take.bitsPerSample << " bits");
        EXPECT_EQ(worker.GetEntryState(static_cast<int>(task)), kStateDone);
        ExpectOutputs(Base(static_cast<int>(task)), c.type, c.format, c.take, c.stream);
    }
    // Pairs of six channels are numbered 01, 03 and 05; nothing else was written.
    EXPECT_EQ(Outputs().size(), 10U * 6U + 10U * 3U + 10U * 1U);
    EXPECT_TRUE(testtake::FileExists(Base(10) + "_05.wav"));
    EXPECT_FALSE(testtake::FileExists(Base(10) + "_02.wav"));
}

// Everything behind the data chunk is sample data, whatever the chunk header says; the progress
// fraction relates the converted bytes to the declared ones and stays finite for 0.
TEST_F(ConversionTest, BytesBehindTheDataChunkAreConvertedAndCountInTheFraction) {
    const auto take = Format(2, 16);
    const Bytes samples = PatternSamples(100, 2, 2);
    testtake::WavLayout trailing;
    trailing.trailingBytes = testtake::Chunk("LIST", Bytes(10, 0x33)); // 18 bytes: 4 frames
    testtake::WriteFile(dir.File("plain.wav"), testtake::MakeWav(take, samples, trailing));
    testtake::WriteFile(dir.File("exact.wav"), testtake::MakeWav(take, samples));
    testtake::WavLayout undeclared;
    undeclared.dataSizeFromBody = false;
    testtake::WriteFile(dir.File("zero.wav"), testtake::MakeWav(take, samples, undeclared));
    AddTask(worker, 0, dir.File("plain.wav"), Base(0));
    AddTask(worker, 1, dir.File("exact.wav"), Base(1));
    AddTask(worker, 2, dir.File("zero.wav"), Base(2));

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
    ASSERT_EQ(finished.size(), 3U);
    EXPECT_DOUBLE_EQ(finished[0], 416.0 / 400.0);
    EXPECT_DOUBLE_EQ(finished[1], 1.0);
    EXPECT_EQ(finished[2], 0.0);

    Bytes withTrailing = samples;
    const Bytes chunk = testtake::Chunk("LIST", Bytes(10, 0x33));
    withTrailing.insert(withTrailing.end(), chunk.begin(), chunk.end());
    ExpectOutputs(Base(0), kTypeMono, kFormatWav, take, withTrailing);
    ExpectOutputs(Base(1), kTypeMono, kFormatWav, take, samples);
    ExpectOutputs(Base(2), kTypeMono, kFormatWav, take, samples);
}

TEST_F(ConversionTest, RunsVisitTasksInOrderAndIgnoreStartsWhileGoing) {
    EXPECT_EQ(worker.ConversionStep(), kConvIdle);
    worker.StartConversion(0);
    EXPECT_EQ(worker.ConversionStep(), kConvRunOver);
    worker.StartConversion(-3);
    EXPECT_EQ(worker.ConversionStep(), kConvRunOver);

    const auto take = Format(2, 16);
    Take(0, take, 10, 0, {});
    Take(1, take, 10, 0, {25});
    AddTask(worker, 0, Start(0), Base(0));
    EXPECT_EQ(RunAll(worker, 1), (std::vector<int>{1, 3, 4, 5, 6}));
    EXPECT_EQ(RunAll(worker, 1), std::vector<int>{6});

    AddTask(worker, 1, Start(1), Base(1));
    worker.StartConversion(1); // a run over task 0 only, which is done
    EXPECT_EQ(worker.ConversionStep(), kConvRunOver);
    worker.StartConversion(2);
    EXPECT_EQ(worker.ConversionStep(), kConvStartTask);
    double fraction = -1;
    int entry = -1;
    worker.GetConversionInfo(&fraction, &entry);
    EXPECT_EQ(entry, 1);
    AddTask(worker, 2, Start(0), dir.File("later")); // added during the run: not part of it
    worker.StartConversion(3);                       // ignored while a run is under way
    std::vector<int> rest;
    for (int i = 0; i < 20 && (rest.empty() || rest.back() != kConvRunOver); ++i) {
        rest.push_back(worker.ConversionStep());
    }
    EXPECT_EQ(rest, (std::vector<int>{3, 3, 4, 5, 6}));
    EXPECT_EQ(worker.GetEntryState(1), kStateDone);
    EXPECT_EQ(worker.GetEntryState(2), kStateReady);
    EXPECT_FALSE(testtake::FileExists(dir.File("later_01.wav")));

    // A count past the table is cut to it: the free records fail for want of a destination.
    const std::vector<int> answers = RunAll(worker, 1000);
    EXPECT_EQ(answers.back(), kConvRunOver);
    EXPECT_EQ(worker.GetEntryState(2), kStateDone);
    EXPECT_EQ(worker.Entry(29).ErrorState, kErrorOutputCreate);
}

// Each failure ends only its own task, with its code, its outputs deleted and the run going on.
TEST_F(ConversionTest, FailuresEndTheirTaskDeleteItsOutputsAndLetTheRunGoOn) {
    const auto take = Format(4, 16);
    std::vector<std::pair<int, int>> expected; // task, code
    int task = 0;
    const auto add = [&](int code, int type = kTypeMono, int format = kFormatWav) {
        Take(task, take, 300, 0, {500, 1000});
        AddTask(worker, task, Start(task), Base(task), type, format);
        expected.emplace_back(task, code);
        return task++;
    };
    const int exists = add(kErrorOutputCreate);
    testtake::WriteFile(Base(exists) + "_03.wav", Bytes(7, 1));
    const int removed = add(kErrorInputRead);
    std::filesystem::remove(dir.File(testtake::SchemeName(removed, 3)));
    const int otherRate = add(kErrorFollowerFormat);
    testtake::WriteFile(dir.File(testtake::SchemeName(otherRate, 2)),
                        testtake::MakeWav(Format(4, 16, 44100), PatternSamples(100, 4, 2)));
    const int badStart = add(kErrorInputRead);
    testtake::WriteFile(Start(badStart), Bytes(100, 'x'));
    const int oddPairs = add(kErrorOutputCreate, kTypePairs);
    Take(oddPairs, Format(3, 16), 10, 0, {}); // re-added with 3 channels, then its file removed
    AddTask(worker, oddPairs, Start(oddPairs), Base(oddPairs), kTypePairs);
    std::filesystem::remove(Start(oddPairs));
    add(kErrorOutputCreate, kTypeMono, 2);
    const int good = add(kErrorNone, kTypePairs, kFormatCaf);
    const int noDestination = add(kErrorOutputCreate);
    ASSERT_EQ(worker.SetDestinationBaseFile(noDestination, "", task), 1);

    // The follower is truncated before its data chunk; the start file's stale bytes hold "data"
    // right there, which must not be taken for the follower's header.
    const int stale = task++;
    expected.emplace_back(stale, kErrorFollowerFormat);
    Bytes stream = PatternSamples(300, 4, 2);
    std::copy_n("data", 4, stream.begin() + 4);
    testtake::WriteTake(dir.Path(), stale, 1, take, stream, {1000});
    AddTask(worker, stale, Start(stale), Base(stale));
    const Bytes follower = testtake::ReadFile(dir.File(testtake::SchemeName(stale, 2)));
    Bytes truncated(follower.begin(), follower.begin() + 36);
    truncated.resize(46, 'x');
    testtake::WriteFile(dir.File(testtake::SchemeName(stale, 2)), truncated);

    RunAll(worker, task);
    for (const auto& [index, code] : expected) {
        EXPECT_EQ(worker.Entry(index).ErrorState, code) << "task " << index;
        EXPECT_EQ(worker.GetEntryState(index), code == 0 ? kStateDone : kStateFailed);
    }
    EXPECT_EQ(testtake::ReadFile(Base(exists) + "_03.wav"), Bytes(7, 1));
    EXPECT_EQ(Outputs(),
              (std::vector<std::string>{"task0_03.wav", "task6_01.caf", "task6_03.caf"}));
    EXPECT_EQ(good, 6);
}

// A base path that leaves no room for the suffix must fail before any file is made, never create
// a cut name; one that just fits works.
TEST_F(ConversionTest, BasePathsThatLeaveNoRoomForTheSuffixFailBeforeCreating) {
    std::string folder = out;
    while (folder.size() < 780) {
        folder += "/" + std::string(200, 'd');
    }
    std::filesystem::create_directories(folder);
    const auto take = Format(1, 16);
    Take(0, take, 10, 0, {});
    const std::string fits = folder + "/" + std::string(992 - folder.size() - 1, 'n');
    const std::string tooLong = folder + "/" + std::string(993 - folder.size() - 1, 'l');
    AddTask(worker, 0, Start(0), fits);
    AddTask(worker, 1, Start(0), tooLong);
    RunAll(worker, 2);
    EXPECT_EQ(worker.GetEntryState(0), kStateDone);
    EXPECT_EQ(worker.Entry(1).ErrorState, kErrorOutputCreate);
    std::vector<std::string> made;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        made.push_back(entry.path().string());
    }
    EXPECT_EQ(made, std::vector<std::string>{fits + "_01.wav"});
}

// Writes that stop at a file size limit: during the conversion, and for the last data.
TEST_F(ConversionTest, ShortWritesFailTheTaskWithCode4) {
    const auto big = Format(33, 8);
    Take(0, big, 140000, 0, {}); // the 33 outputs flush in the second 4 MiB block
    AddTask(worker, 0, Start(0), Base(0));
    const auto small = Format(2, 16);
    Take(1, small, 1000, 0, {});
    AddTask(worker, 1, Start(1), Base(1));

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::vector<int> answers = RunAll(worker, 2);
    ::setrlimit(RLIMIT_FSIZE, &saved);

    EXPECT_EQ(answers, (std::vector<int>{1, 3, 3, 5, 1, 3, 4, 5, 6}));
    EXPECT_EQ(worker.Entry(0).ErrorState, kErrorOutputWrite);
    EXPECT_EQ(worker.Entry(1).ErrorState, kErrorOutputWrite);
    EXPECT_TRUE(Outputs().empty());
}

// A stop, or the worker's end, in the middle of a task deletes its outputs (which carry a
// provisional header from their first write) and leaves the task to be converted afresh.
TEST_F(ConversionTest, StopAndDestructionDeleteTheOutputsOfTheRunningTask) {
    const auto take = Format(33, 8);
    const Bytes stream = Take(0, take, 140000, 0, {4400000});
    AddTask(worker, 0, Start(0), Base(0));
    worker.StartConversion(1);
    for (int answer : {1, 3, 3}) {
        ASSERT_EQ(worker.ConversionStep(), answer);
    }
    ASSERT_EQ(worker.ConversionStep(), kConvConvert); // flushed in the second block, file 2 opened
    const Bytes begun = testtake::ReadFile(Base(0) + "_01.wav");
    ASSERT_GE(begun.size(), 80U);
    const Bytes riff = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E'};
    const Bytes data = {'d', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_TRUE(std::equal(riff.begin(), riff.end(), begun.begin()));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), begun.begin() + 72));

    worker.StopConversion();
    EXPECT_TRUE(Outputs().empty());
    worker.StopConversion();
    EXPECT_EQ(worker.ConversionStep(), kConvRunOver);
    EXPECT_EQ(worker.GetEntryState(0), kStateReady);
    EXPECT_EQ(worker.Entry(0).ErrorState, 0);

    RunAll(worker, 1);
    ExpectOutputs(Base(0), kTypeMono, kFormatWav, take, stream);

    {
        CMorvexWorker doomed;
        AddTask(doomed, 0, Start(0), Base(1), kTypeAll, kFormatCaf);
        doomed.StartConversion(1);
        doomed.ConversionStep();
        ASSERT_EQ(doomed.ConversionStep(), kConvConvert);
        EXPECT_TRUE(testtake::FileExists(Base(1) + "_01.caf"));
    }
    EXPECT_FALSE(testtake::FileExists(Base(1) + "_01.caf"));
}

} // namespace
