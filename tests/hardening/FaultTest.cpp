// No output looks complete when it is not, and the run goes on with the next task.
#include "SplitHarness.h"

using namespace harness;
using namespace morvex;
namespace fs = std::filesystem;

namespace {

// Writes cut at 1 MiB: a fails at its first 2 MiB flush, b with its last write; c converts.
TEST(Faults, DiskFullFailsTheTaskAndTheNextOneConverts) {
    TempDir in, out;
    const Take a = WriteTake(in.Path(), 1, 2, 16, 1200000, {2000001});
    const Take b = WriteTake(in.Path(), 2, 2, 16, 600000);
    const Take c = WriteTake(in.Path(), 3, 3, 24, 2000, {2999});
    const Outcome run = RunSplit(
        {a.Paths[0], out.File("a"), b.Paths[0], out.File("b"), c.Paths[0], out.File("c")}, 1 << 20);
    ASSERT_EQ(run.Signal, 0);
    EXPECT_EQ(run.Exit, 1);
    for (const auto& [failed, base] : {std::pair{&a, "a"}, {&b, "b"}}) {
        EXPECT_TRUE(Says(run.Err, failed->Paths[0] + ": Output file can not be written. (" +
                                      out.File(base) + "_01.wav: File too large)"));
    }
    EXPECT_EQ(ListDir(out.Path()), (std::vector<std::string>{"c_01.wav", "c_02.wav", "c_03.wav"}));
    ExpectMono(out.File("c"), c, c.Frames());
}

// Stopped, a run deletes the task's outputs; killed, readers take its outputs for what was written.
TEST(Faults, SignalInTheMiddleLeavesNothingMisleading) {
    const std::tuple<int, std::string, std::string, int, int> cases[] = {
        {SIGINT, "mono", "wav", 2, 16},
        {SIGTERM, "pairs", "caf", 4, 24},
        {SIGKILL, "mono", "wav", 2, 16},
        {SIGKILL, "all", "wav", 3, 24},
        {SIGKILL, "all", "caf", 3, 8}};
    for (const auto& [signal, type, format, channels, bits] : cases) {
        SCOPED_TRACE(std::string(sigabbrev_np(signal)) + " " + type + " " + format);
        TempDir in, out;
        const Take big =
            WriteTake(in.Path(), 2, channels, bits, (48U << 20) / (channels * ((bits + 7) / 8)),
                      {(16U << 20) + 1, (32U << 20) + 3});
        const int perFile = type == "mono" ? 1 : type == "pairs" ? 2 : channels;
        const bool caf = format == "caf";
        const std::string last = OutputName(out.File("big"), channels - perFile, caf);
        const Outcome run =
            RunSplit({"-t", type, "-f", format, big.Paths[0], out.File("big")}, 0, [&](pid_t pid) {
                for (int i = 0; i < 600000 && (!fs::exists(last) || fs::file_size(last) <= 80);
                     ++i) {
                    ::usleep(100);
                }
                ::kill(pid, signal);
            });
        if (signal != SIGKILL) {
            EXPECT_EQ(run.Exit, 128 + signal) << run.Err;
            EXPECT_TRUE(Says(run.Err, big.Paths[0] + ": stopped; its output files were deleted"));
            EXPECT_TRUE(ListDir(out.Path()).empty());
            continue;
        }
        ASSERT_EQ(run.Signal, SIGKILL) << "the run ended before the kill";
        for (int first = 0; first < channels; first += perFile) {
            EXPECT_TRUE(Holds(OutputName(out.File("big"), first, caf), big, first, perFile));
        }
    }
}

// Fails with the code of what changed; unfinished headers hold the take to its lengths when added.
TEST(Faults, TakeChangedAfterAdding) {
    const auto write = [](const Bytes& bytes) {
        return [bytes](const std::string& path) { testtake::WriteFile(path, bytes); };
    };
    const auto resize = [](uintmax_t (*length)(uintmax_t)) {
        return [length](const std::string& p) { fs::resize_file(p, length(fs::file_size(p))); };
    };
    const auto remove = [](const std::string& path) { fs::remove(path); };
    // What changed, in the start file (0) or a follower (1), how, the error, whether unfinished.
    const std::vector<
        std::tuple<const char*, size_t, std::function<void(const std::string&)>, int, bool>>
        cases = {
            {"follower removed", 1, remove, kErrorInputRead, false},
            {"follower too short", 1, resize([](uintmax_t) -> uintmax_t { return 30; }),
             kErrorInputRead, false},
            {"follower of another rate", 1, write(testtake::MakeWav({2, 16, 44100}, Bytes(400, 1))),
             kErrorFollowerFormat, false},
            {"follower no longer a WAV", 1, write(Bytes(200, 0x5a)), kErrorFollowerFormat, false},
            {"start file removed", 0, remove, kErrorInputRead, false},
            {"unfinished follower cut in its audio", 1, resize([](uintmax_t n) { return n / 2; }),
             kErrorInputRead, true},
            {"unfinished follower grown", 1, resize([](uintmax_t n) { return n + 600; }),
             kErrorInputRead, true},
        };
    for (const auto& [name, file, change, error, unfinished] : cases) {
        SCOPED_TRACE(name);
        TempDir in, out;
        const Take take =
            WriteTake(in.Path(), 1, 2, 16, 3000, {4001, 8003}, 0,
                      {.dataSize = unfinished ? 0xFFFFFFFFU : std::optional<uint32_t>()});
        CMorvexWorker worker;
        AddTask(worker, 0, take.Paths[0], out.File("t"), kTypeMono, kFormatWav);
        change(take.Paths[file]);
        RunAll(worker, 1);
        EXPECT_EQ(worker.Entry(0).ErrorState, error);
        EXPECT_EQ(worker.GetEntryState(0), kStateFailed);
        EXPECT_TRUE(ListDir(out.Path()).empty());
    }
}

// A stop leaves no output of the running task and its record untouched; a done task's outputs stay.
TEST(Faults, StopInEveryState) {
    // 2.4 MB files cut inside frames: the 2 MiB buffers are flushed before the last file.
    TempDir in;
    const Take take = WriteTake(in.Path(), 2, 2, 24, 1200000, {2400001, 4800002});
    for (const int state : {kConvStartTask, kConvConvert, kConvFinishTask, kConvNextTask}) {
        SCOPED_TRACE(state);
        TempDir out;
        CMorvexWorker worker;
        AddTask(worker, 0, take.Paths[0], out.File("b"), kTypeMono, kFormatCaf);
        worker.StartConversion(1);
        for (int i = 0; i < 1000 && worker.ConversionStep() != state; ++i) {
        }
        worker.StopConversion();
        EXPECT_EQ(worker.ConversionStep(), kConvRunOver);
        EXPECT_EQ(worker.Entry(0).ErrorState, 0);
        const bool done = state == kConvNextTask;
        EXPECT_EQ(worker.Entry(0).fConversionDone, done);
        EXPECT_EQ(ListDir(out.Path()), (done ? std::vector<std::string>{"b_01.caf", "b_02.caf"}
                                             : std::vector<std::string>{}));
        if (!done) {
            RunAll(worker, 1);
        }
        EXPECT_TRUE(Holds(out.File("b_02.caf"), take, 1, 1, take.Frames()));
    }
}

} // namespace
