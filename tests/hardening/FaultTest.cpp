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

using SignalCase = std::tuple<int, std::string, std::string, int, int>;
class Signal : public testing::TestWithParam<SignalCase> {};

// Stopped, a run deletes the task's outputs; killed, readers take its outputs for what was written.
TEST_P(Signal, InTheMiddleLeavesNothingMisleading) {
    const auto& [signal, type, format, channels, bits] = GetParam();
    TempDir in, out;
    const Take big =
        WriteTake(in.Path(), 2, channels, bits, (48U << 20) / (channels * ((bits + 7) / 8)),
                  {(16U << 20) + 1, (32U << 20) + 3});
    const int perFile = type == "mono" ? 1 : type == "pairs" ? 2 : channels;
    const bool caf = format == "caf";
    const std::string last = OutputName(out.File("big"), channels - perFile, caf);
    const auto hasData = [&] { return fs::exists(last) && fs::file_size(last) > 80; };
    const Outcome run =
        RunSplit({"-t", type, "-f", format, big.Paths[0], out.File("big")}, 0, [&](pid_t pid) {
            for (int i = 0; i < 600000 && !hasData(); ++i) {
                ::usleep(100);
            }
            ::kill(pid, signal);
        });
    if (signal != SIGKILL) {
        EXPECT_EQ(run.Exit, 128 + signal) << run.Err;
        EXPECT_TRUE(Says(run.Err, big.Paths[0] + ": stopped; its output files were deleted"));
        EXPECT_TRUE(ListDir(out.Path()).empty());
        return;
    }
    ASSERT_EQ(run.Signal, SIGKILL) << "the run ended before the kill";
    for (int first = 0; first < channels; first += perFile) {
        EXPECT_TRUE(Holds(OutputName(out.File("big"), first, caf), big, first, perFile));
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, Signal,
                         testing::Values(SignalCase{SIGINT, "mono", "wav", 2, 16},
                                         SignalCase{SIGTERM, "pairs", "caf", 4, 24},
                                         SignalCase{SIGKILL, "mono", "wav", 2, 16},
                                         SignalCase{SIGKILL, "all", "wav", 3, 24},
                                         SignalCase{SIGKILL, "all", "caf", 3, 8}));

// Fails with the code of what changed; unfinished headers hold the take to its lengths when added.
TEST(Faults, TakeChangedAfterAdding) {
    const auto resize = [](uintmax_t (*length)(uintmax_t)) {
        return [length](const std::string& p) { fs::resize_file(p, length(fs::file_size(p))); };
    };
    const auto remove = [](const std::string& path) { fs::remove(path); };
    const auto toOtherRate = [](const std::string& path) {
        testtake::WriteFile(path, testtake::MakeWav({2, 16, 44100}, Bytes(400, 1)));
    };
    // What changed, in the start file (0) or a follower (1), how, the error, whether unfinished.
    using Change = std::function<void(const std::string&)>;
    const std::tuple<const char*, size_t, Change, int, bool> cases[] = {
        {"follower removed", 1, remove, kErrorInputRead, false},
        {"follower of another rate", 1, toOtherRate, kErrorFollowerFormat, false},
        {"start file removed", 0, remove, kErrorInputRead, false},
        {"unfinished, cut", 1, resize([](uintmax_t n) { return n / 2; }), kErrorInputRead, true},
        {"unfinished, grown", 1, resize([](uintmax_t n) { return n + 600; }), kErrorInputRead,
         true},
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
