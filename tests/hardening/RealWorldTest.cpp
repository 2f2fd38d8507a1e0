// Takes as other writers and failing devices leave them: chunks around the audio, odd sizes with
// pad bytes, unfinished headers, names in other letter cases, takes started from a later file,
// reads that fail, outputs that vanish or cannot be synced. Each ends in exact outputs, or in a
// failed task that leaves nothing and says why.
#include "MorvexWorker.h"
#include "SplitHarness.h"
#include "TempDir.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

using namespace harness;
using namespace morvex;
namespace fs = std::filesystem;

namespace {

EnvValues FailReads(const std::string& path, uint64_t atByte) {
    return {{"MORVEX_FAULT_READ_FILE", path}, {"MORVEX_FAULT_READ_AT", std::to_string(atByte)}};
}

std::string Text(const std::function<bool(char*)>& get) {
    char text[kNoteTextBytes] = "-";
    get(text);
    return text;
}

// A take whose stream is `take`'s from byte `from` on: what a task started later must hold.
Take From(const Take& take, size_t from) {
    Take rest = take;
    rest.Stream.erase(rest.Stream.begin(), rest.Stream.begin() + static_cast<long>(from));
    return rest;
}

void ExpectMono(const std::string& base, const Take& take, uint64_t frames) {
    for (int c = 0; c < take.Format.channels; ++c) {
        EXPECT_TRUE(Holds(OutputName(base, c, false), take, c, 1, frames));
    }
}

// A LIST chunk whose comment holds "metadata", its "data" at an even distance from "fmt ".
Bytes CommentChunk() {
    const std::string text = "metadata";
    Bytes info{'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', static_cast<uint8_t>(text.size()), 0, 0, 0};
    info.insert(info.end(), text.begin(), text.end());
    return testtake::Chunk("LIST", info);
}

// Chunks before and after the audio, odd data sizes with their pad bytes, in takes whose files
// are cut inside frames: only the data chunks are audio, and the take stays in frame.
TEST(RealWorld, ChunksAroundTheAudioAreNeverAudio) {
    testtake::WavLayout comment, trailing, padded, unpadded;
    comment.chunksBeforeData = CommentChunk();
    trailing.trailingBytes = testtake::Chunk("LIST", Bytes(30, 'i'));
    const Bytes ixml = testtake::Chunk("iXML", Bytes(7, '<'));
    trailing.trailingBytes.insert(trailing.trailingBytes.end(), ixml.begin(), ixml.end());
    trailing.padData = padded.padData = true;
    padded.chunksBeforeData = testtake::Chunk("bext", Bytes(13, 'b'));
    // A writer that leaves out the pad byte after an odd chunk.
    unpadded.chunksBeforeData = {'b', 'e', 'x', 't', 13, 0, 0, 0};
    unpadded.chunksBeforeData.insert(unpadded.chunksBeforeData.end(), 13, 'b');
    const std::tuple<const char*, testtake::WavLayout, int, int> cases[] = {
        {"comment before the data", comment, 2, 16},
        {"chunks after odd-sized data", trailing, 3, 24},
        {"pad bytes between files", padded, 1, 8},
        {"a pad byte left out", unpadded, 2, 24},
    };
    int number = 1;
    for (const auto& [name, layout, channels, bits] : cases) {
        SCOPED_TRACE(name);
        TempDir in, out;
        const Take take = WriteTake(in.Path(), number, channels, bits, 3001,
                                    {1001, 2003 * static_cast<size_t>((bits + 7) / 8)}, 1, layout);
        CMorvexWorker worker;
        AddTask(worker, 0, take.Paths[0], out.File("o"));
        EXPECT_EQ(worker.Entry(0).BytesTotal, static_cast<int64_t>(take.Stream.size()));
        RunAll(worker, 1);
        ASSERT_EQ(worker.Entry(0).ErrorState, 0)
            << Text([&](char* t) { return worker.GetFailureDetail(0, t); });
        ExpectMono(out.File("o"), take, take.Frames());
        ++number;
    }
}

// A size of 0, "unknown" or past the end is a recording never finished: its audio runs to the
// end of the file, and that is the length shown. A frame size the samples do not fill is refused.
TEST(RealWorld, UnfinishedHeadersAndFramesThatDoNotFit) {
    for (const uint32_t declared : {0U, 0xFFFFFFFFU, 1U << 30}) {
        SCOPED_TRACE(declared);
        TempDir in, out;
        const Take take = WriteTake(in.Path(), 4, 2, 24, 2000, {3001}, 0, {.dataSize = declared});
        CMorvexWorker worker;
        AddTask(worker, 0, take.Paths[0], out.File("u"));
        EXPECT_EQ(worker.Entry(0).BytesTotal, static_cast<int64_t>(take.Stream.size()));
        RunAll(worker, 1);
        ExpectMono(out.File("u"), take, take.Frames());
    }
    TempDir in;
    const std::string path = in.File("aligned.wav");
    testtake::WriteFile(path, testtake::MakeWav({2, 24, 48000, 0, 8}, Bytes(48, 1)));
    CMorvexWorker worker;
    EXPECT_EQ(worker.SetStartFile(0, path.c_str()), kErrorIncompatibleWav);
    EXPECT_TRUE(
        Says(Text([&](char* t) { return worker.GetAddFailureDetail(t); }), "block align 8"));
}

// A card mounted with lower-case names: the take is found in the start file's own letter case,
// and the recorder's upper-case extension still works beside a lower-case start file.
TEST(RealWorld, FollowersInTheStartFilesLetterCase) {
    const auto lower = [](std::string name) {
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        return name;
    };
    const std::vector<std::function<std::string(const std::string&, size_t)>> renames = {
        [&](const std::string& name, size_t) { return lower(name); },
        [](const std::string& name, size_t) { return name.substr(0, 9) + "wav"; },
        [](const std::string& name, size_t k) {
            return k == 0 ? name.substr(0, 9) + "wav" : name; // followers as the recorder names
        },
    };
    for (const auto& rename : renames) {
        TempDir in, out;
        const Take take = WriteTake(in.Path(), 5, 2, 16, 3000, {4002, 8002});
        std::vector<std::string> paths;
        for (size_t k = 0; k < take.Paths.size(); ++k) {
            paths.push_back(in.File(rename(fs::path(take.Paths[k]).filename(), k)));
            fs::rename(take.Paths[k], paths.back());
        }
        SCOPED_TRACE(paths[0]);
        CMorvexWorker worker;
        AddTask(worker, 0, paths[0], out.File("c"));
        EXPECT_EQ(worker.Entry(0).SubCount, 3);
        RunAll(worker, 1);
        ExpectMono(out.File("c"), take, take.Frames());
    }
}

// Started from a later file of a take cut inside frames, the task begins with the first whole
// frame. When any earlier file of the take is missing (the first, one between, or all of them) it
// begins at the first byte of audio and says that the phase is unknown, naming the file.
TEST(RealWorld, StartingFromALaterFileKeepsTheFramePhase) {
    TempDir in, out;
    constexpr size_t kFrame = 12; // 4 channels of 24 bits
    const Take take = WriteTake(in.Path(), 6, 4, 24, 3000, {1000 * kFrame + 5, 2000 * kFrame + 7});
    CMorvexWorker worker;
    AddTask(worker, 0, take.Paths[1], out.File("b"));
    AddTask(worker, 1, take.Paths[2], out.File("c"));
    EXPECT_EQ(worker.Entry(0).FrameSkipBytes, kFrame - 5);
    EXPECT_EQ(worker.Entry(1).FrameSkipBytes, kFrame - 7);
    EXPECT_EQ(worker.Entry(0).BytesTotal, static_cast<int64_t>(1999 * kFrame));
    RunAll(worker, 2);
    ExpectMono(out.File("b"), From(take, 1001 * kFrame), 1999);
    ExpectMono(out.File("c"), From(take, 2001 * kFrame), 999);
    EXPECT_EQ(Text([&](char* t) { return worker.GetTakeWarning(0, t); }), "");

    // Missing: the first file (tasks 0 and 1), then only the second (task 2).
    const Bytes first = testtake::ReadFile(take.Paths[0]);
    fs::remove(take.Paths[0]);
    CMorvexWorker partial;
    AddTask(partial, 0, take.Paths[1], out.File("absent"));
    AddTask(partial, 1, take.Paths[2], out.File("some"));
    testtake::WriteFile(take.Paths[0], first);
    fs::rename(take.Paths[1], in.File("elsewhere"));
    AddTask(partial, 2, take.Paths[2], out.File("gap"));
    for (const auto& [task, missing] :
         {std::pair{0, "MKZ06_01.WAV"}, {1, "MKZ06_01.WAV"}, {2, "MKZ06_02.WAV"}}) {
        EXPECT_EQ(partial.Entry(task).FrameSkipBytes, 0U) << task;
        EXPECT_EQ(Text([&](char* t) { return partial.GetTakeWarning(task, t); }),
                  std::string("Frame phase unknown: ") + missing +
                      ", an earlier file of the take: it is missing. The split starts at the "
                      "first byte of audio.");
    }

    // A file of another format before the start file is another recording: the take begins here.
    testtake::WriteFile(take.Paths[0], testtake::MakeWav({4, 24, 44100}, Bytes(1001, 1)));
    fs::rename(in.File("elsewhere"), take.Paths[1]);
    CMorvexWorker other;
    AddTask(other, 0, take.Paths[1], out.File("other"));
    EXPECT_EQ(other.Entry(0).FrameSkipBytes, 0U);
    EXPECT_EQ(Text([&](char* t) { return other.GetTakeWarning(0, t); }), "");
}

// Files after the take's last one that exist but are not part of it are named, with the reason.
TEST(RealWorld, TakeWarningsNameTheFileLeftOut) {
    TempDir in;
    const Take take = WriteTake(in.Path(), 7, 2, 16, 300, {400});
    testtake::WriteFile(in.File("MKZ07_03.WAV"), testtake::MakeWav({2, 16, 44100}, Bytes(40, 1)));
    testtake::WriteFile(in.File("MKZ08_01.WAV"), testtake::MakeWav({1, 8}, Bytes(4, 1)));
    testtake::WriteFile(in.File("MKZ08_02.WAV"), Bytes(20, 'x'));
    CMorvexWorker worker;
    AddTask(worker, 0, take.Paths[0], in.File("t"));
    AddTask(worker, 1, in.File("MKZ08_01.WAV"), in.File("u"));
    EXPECT_EQ(worker.Entry(0).SubCount, 2);
    EXPECT_EQ(Text([&](char* t) { return worker.GetTakeWarning(0, t); }),
              "MKZ07_03.WAV is not part of the take: its format differs from the start file's.");
    EXPECT_EQ(Text([&](char* t) { return worker.GetTakeWarning(1, t); }),
              "MKZ08_02.WAV is not part of the take: it holds only 20 bytes.");
    // The warnings stay with the tasks once converted: the window still shows them.
    RunAll(worker, 2);
    EXPECT_EQ(worker.GetEntryState(0), kStateDone);
    EXPECT_TRUE(Says(Text([&](char* t) { return worker.GetTakeWarning(0, t); }), "MKZ07_03.WAV"));
}

// A read that fails, at any point of any file, fails the task with error 1 and the system's
// reason; nothing of it is left, and the next task converts (morvex-split's report of it is
// checked by the command-line suite).
TEST(RealWorld, ReadFailuresFailTheTask) {
    TempDir in, out;
    // 12 MiB in two files: three source blocks in the first.
    const Take big = WriteTake(in.Path(), 8, 2, 16, 3U << 20, {(10U << 20) + 1});
    const Take good = WriteTake(in.Path(), 9, 3, 24, 500);
    const std::tuple<const char*, std::string, uint64_t> cases[] = {
        {"start file, second block", big.Paths[0], 5U << 20},
        {"follower header", big.Paths[1], 20},
        {"follower audio", big.Paths[1], 1U << 20},
    };
    for (const auto& [name, file, at] : cases) {
        SCOPED_TRACE(name);
        CMorvexWorker worker;
        AddTask(worker, 0, big.Paths[0], out.File("big"));
        AddTask(worker, 1, good.Paths[0], out.File("good"), kTypeAll);
        {
            const ScopedEnv fault(FailReads(file, at));
            RunAll(worker, 2);
        }
        EXPECT_EQ(worker.Entry(0).ErrorState, kErrorInputRead);
        EXPECT_EQ(Text([&](char* t) { return worker.GetFailureDetail(0, t); }),
                  file + ": Input/output error");
        EXPECT_EQ(ListDir(out.Path()), std::vector<std::string>{"good_01.wav"});
        EXPECT_TRUE(Holds(out.File("good_01.wav"), good, 0, 3, good.Frames()));
        fs::remove(out.File("good_01.wav"));
    }
    CMorvexWorker worker;
    {
        const ScopedEnv fault(FailReads(big.Paths[0], 30));
        EXPECT_EQ(worker.SetStartFile(0, big.Paths[0].c_str()), kErrorOpenInput);
    }
    EXPECT_EQ(Text([&](char* t) { return worker.GetAddFailureDetail(t); }), "Input/output error");
}

// Done means durable and where it was written: a folder removed under the run, a name taken by
// another file, or a sync that fails all fail the task (error 4) with the reason, and a file that
// is not the task's own is never deleted. Outputs that cannot be deleted are named.
TEST(RealWorld, OutputsDurableAndWhereTheyWereWritten) {
    TempDir in;
    const Take take = WriteTake(in.Path(), 11, 2, 16, 3U << 20);
    const auto firstSteps = [&](CMorvexWorker& worker, const std::string& base) {
        AddTask(worker, 0, take.Paths[0], base);
        worker.StartConversion(1);
        for (int i = 0; i < 3; ++i) {
            worker.ConversionStep(); // next task, start, one block converted
        }
    };
    {
        TempDir out;
        CMorvexWorker worker;
        fs::create_directory(out.File("gone"));
        firstSteps(worker, out.File("gone/o"));
        fs::remove_all(out.File("gone"));
        while (worker.ConversionStep() != kConvRunOver) {
        }
        EXPECT_EQ(worker.Entry(0).ErrorState, kErrorOutputWrite);
        EXPECT_TRUE(Says(Text([&](char* t) { return worker.GetFailureDetail(0, t); }),
                         "the file written is no longer there"));
        EXPECT_EQ(worker.GetLeftOverCount(), 0);
    }
    {
        TempDir out;
        CMorvexWorker worker;
        firstSteps(worker, out.File("o"));
        fs::rename(out.File("o_02.wav"), out.File("moved.wav"));
        testtake::WriteFile(out.File("o_02.wav"), Bytes(5, 'y'));
        while (worker.ConversionStep() != kConvRunOver) {
        }
        EXPECT_EQ(worker.Entry(0).ErrorState, kErrorOutputWrite);
        EXPECT_EQ(testtake::ReadFile(out.File("o_02.wav")), Bytes(5, 'y'));
        EXPECT_EQ(ListDir(out.Path()), (std::vector<std::string>{"moved.wav", "o_02.wav"}));
    }
    {
        TempDir out;
        CMorvexWorker worker;
        AddTask(worker, 0, take.Paths[0], out.File("s"));
        const ScopedEnv fault({{"MORVEX_FAULT_SYNC", "1"}, {"MORVEX_FAULT_UNLINK", "s_02"}});
        RunAll(worker, 1);
        EXPECT_EQ(worker.Entry(0).ErrorState, kErrorOutputWrite);
        EXPECT_EQ(Text([&](char* t) { return worker.GetFailureDetail(0, t); }),
                  out.File("s_01.wav") + ": Input/output error");
        ASSERT_EQ(worker.GetLeftOverCount(), 1);
        EXPECT_EQ(std::string(worker.GetLeftOverOutput(0)), out.File("s_02.wav"));
        EXPECT_EQ(ListDir(out.Path()), std::vector<std::string>{"s_02.wav"});
    }
}

// Outputs are synced on the writer's thread: while a slow device syncs them, finishing steps
// answer 4 again instead of holding the caller, and the task still ends done and exact.
TEST(RealWorld, SlowSyncsLeaveTheCallerFree) {
    TempDir in, out;
    const Take take = WriteTake(in.Path(), 13, 3, 24, 2000, {3001});
    CMorvexWorker worker;
    AddTask(worker, 0, take.Paths[0], out.File("s"));
    std::vector<int> answers;
    {
        const ScopedEnv slow(EnvValues{{"MORVEX_FAULT_SYNC_DELAY_MS", "60"}});
        answers = RunAll(worker, 1);
    }
    EXPECT_GE(std::count(answers.begin(), answers.end(), kConvFinishTask), 3);
    EXPECT_EQ(worker.GetEntryState(0), kStateDone);
    ExpectMono(out.File("s"), take, take.Frames());
}

// Outputs carry the start file's modification time, so that folders sort by recording time.
TEST(RealWorld, OutputsKeepTheTakesTime) {
    TempDir in, out;
    const Take take = WriteTake(in.Path(), 12, 2, 16, 100);
    const timespec recorded[2] = {{0, UTIME_OMIT}, {1500000000, 250000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, take.Paths[0].c_str(), recorded, 0), 0);
    CMorvexWorker worker;
    AddTask(worker, 0, take.Paths[0], out.File("t"), kTypePairs);
    RunAll(worker, 1);
    struct stat info {};
    ASSERT_EQ(::stat(out.File("t_01.wav").c_str(), &info), 0);
    EXPECT_EQ(std::pair(info.st_mtim.tv_sec, info.st_mtim.tv_nsec),
              std::pair(recorded[1].tv_sec, recorded[1].tv_nsec));
}

} // namespace
