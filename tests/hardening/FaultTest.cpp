// Faults of a whole morvex-split process (a full disk, stop signals, SIGKILL) and at the worker
// (a take changed after adding, a stop in every state). Whatever happens, the sources stay as they
// were, no output looks complete when it is not, and the run goes on with the next task.
#include "MorvexWorker.h"
#include "OutputWriter.h"
#include "SplitHarness.h"
#include "TempDir.h"

#include <functional>
#include <memory>

using namespace harness;
using namespace morvex;
namespace fs = std::filesystem;

// From the fault shim linked into this suite.
extern "C" int MorvexFaultHeldCalls();
extern "C" long long MorvexFaultGatedBytes();
extern "C" int MorvexFaultGatedSyncs();
extern "C" int MorvexFaultGatedCloses();
extern "C" int MorvexFaultTakeWriteback(long long* offsets, long long* bytes, int most);

namespace {

// Writes come up short for real: one task fails while converting, one with its last write; both
// lose their outputs with error 4, and the next task converts. 2 MiB output buffers: take a's
// first flush passes the 1 MiB limit, take b's outputs only with the task's last write.
TEST(Faults, DiskFullFailsTheTaskAndTheNextOneConverts) {
    TempDir in, out;
    const Take a = WriteTake(in.Path(), 1, 2, 16, 1200000, {2000001});
    const Take b = WriteTake(in.Path(), 2, 2, 16, 600000);
    const Take c = WriteTake(in.Path(), 3, 3, 24, 2000, {2999});

    const Outcome run = RunSplit(
        {a.Paths[0], out.File("a"), b.Paths[0], out.File("b"), c.Paths[0], out.File("c")}, 1 << 20);

    ASSERT_EQ(run.Signal, 0);
    EXPECT_EQ(run.Exit, 1);
    for (const Take* failed : {&a, &b}) {
        EXPECT_TRUE(Says(run.Err, failed->Paths[0] + ": Output file can not be written."));
    }
    // The reason is the one the writing thread was given, for the first output that filled up.
    for (const char* base : {"a", "b"}) {
        EXPECT_TRUE(Says(run.Err, "(" + out.File(base) + "_01.wav: File too large)"));
    }
    EXPECT_EQ(ListDir(out.Path()), (std::vector<std::string>{"c_01.wav", "c_02.wav", "c_03.wav"}));
    for (int channel = 0; channel < 3; ++channel) {
        EXPECT_TRUE(Holds(out.File(OutputName("c", channel, false)), c, channel, 1, c.Frames()));
    }
}

// The signal, type, format, channels and bits.
class Interrupted
    : public testing::TestWithParam<std::tuple<int, std::string, std::string, int, int>> {};

// A signal in the middle of a task. Stopped, the run exits with 128 + signal and deletes the
// task's outputs; killed, it leaves outputs that readers open as the audio written so far.
TEST_P(Interrupted, RunningTaskLeavesNothingMisleading) {
    const auto [signal, type, format, channels, bits] = GetParam();
    const bool caf = format[0] == 'c';
    TempDir in, out;
    // 48 MiB in three files, a dozen source blocks: the signal comes after the first.
    const Take big =
        WriteTake(in.Path(), 2, channels, bits, (48U << 20) / (channels * ((bits + 7) / 8)),
                  {(16U << 20) + 1, (32U << 20) + 3});
    std::vector<Bytes> sources;
    for (const std::string& path : big.Paths) {
        sources.push_back(testtake::ReadFile(path));
    }

    // Until the last output has data: the first is then written, the last may be in the middle.
    const int perFile = type[0] == 'm' ? 1 : type[0] == 'p' ? 2 : channels;
    const std::string last = OutputName(out.File("big"), channels - perFile, caf);
    const Outcome run =
        RunSplit({"-t", type, "-f", format, big.Paths[0], out.File("big")}, 0, [&](pid_t pid) {
            for (int i = 0; i < 600000 && (!fs::exists(last) || fs::file_size(last) <= 80); ++i) {
                ::usleep(100);
            }
            ::kill(pid, signal);
        });

    for (size_t i = 0; i < sources.size(); ++i) {
        EXPECT_TRUE(testtake::ReadFile(big.Paths[i]) == sources[i]) << big.Paths[i];
    }
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

std::string InterruptedName(const testing::TestParamInfo<Interrupted::ParamType>& param) {
    const auto& [signal, type, format, channels, bits] = param.param;
    return std::string(sigabbrev_np(signal)) + "_" + type + "_" + format + "_" +
           std::to_string(channels) + "ch_" + std::to_string(bits) + "bit";
}

INSTANTIATE_TEST_SUITE_P(Faults, Interrupted,
                         testing::Values(Interrupted::ParamType(SIGINT, "mono", "wav", 2, 16),
                                         Interrupted::ParamType(SIGTERM, "pairs", "caf", 4, 24),
                                         Interrupted::ParamType(SIGKILL, "mono", "wav", 2, 16),
                                         Interrupted::ParamType(SIGKILL, "all", "wav", 3, 24),
                                         Interrupted::ParamType(SIGKILL, "all", "caf", 3, 8)),
                         InterruptedName);

// A take changed on disk after it was added fails with the code of what changed and leaves no
// output; the next task converts. A take whose headers never got their sizes is held to the
// lengths its files had when it was added.
TEST(Faults, TakeChangedAfterAdding) {
    const auto write = [](const Bytes& bytes) {
        return [bytes](const std::string& path) { testtake::WriteFile(path, bytes); };
    };
    const auto remove = [](const std::string& path) { fs::remove(path); };
    // The file's new length from its old one.
    const auto resize = [](uintmax_t (*length)(uintmax_t)) {
        return [length](const std::string& path) {
            fs::resize_file(path, length(fs::file_size(path)));
        };
    };
    // What changed, in the start file (0) or a follower (1), how, the error it gives, and whether
    // the take's headers are unfinished.
    const std::vector<
        std::tuple<const char*, size_t, std::function<void(const std::string&)>, int, bool>>
        cases = {
            {"follower removed", 1, remove, kErrorInputRead, false},
            {"follower too short", 1, [](const std::string& p) { fs::resize_file(p, 30); },
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
        testtake::WavLayout layout;
        if (unfinished) {
            layout.dataSize = 0xFFFFFFFFU;
        }
        const Take take = WriteTake(in.Path(), 1, 2, 16, 3000, {4001, 8003}, 0, layout);
        const Take good = WriteTake(in.Path(), 2, 2, 16, 500);
        CMorvexWorker worker;
        AddTask(worker, 0, take.Paths[0], out.File("t"), kTypeMono, kFormatWav);
        AddTask(worker, 1, good.Paths[0], out.File("g"), kTypePairs, kFormatCaf);
        change(take.Paths[file]);
        RunAll(worker, 2);
        EXPECT_EQ(worker.Entry(0).ErrorState, error);
        EXPECT_EQ(worker.GetEntryState(0), kStateFailed);
        EXPECT_EQ(ListDir(out.Path()), std::vector<std::string>{"g_01.caf"});
        EXPECT_TRUE(Holds(out.File("g_01.caf"), good, 0, 2, good.Frames()));
    }
}

// A source cut short while it is read (truncated by another program, a card pulled) fails the
// task: the bytes that are no longer there are never taken for the end of its audio.
TEST(Faults, SourceCutWhileReadFailsTheTask) {
    TempDir in, out;
    const Take take = WriteTake(in.Path(), 1, 2, 16, 3000000); // 12 MB: three source blocks
    CMorvexWorker worker;
    AddTask(worker, 0, take.Paths[0], out.File("t"));
    worker.StartConversion(1);
    int answer = kConvIdle;
    for (int n = 0; n < 10 && answer != kConvConvert; ++n) {
        answer = worker.ConversionStep(); // until the first block is read
    }
    ASSERT_EQ(answer, kConvConvert);
    fs::resize_file(take.Paths[0], 6000000);
    for (int n = 0; n < 1000 && answer != kConvRunOver; ++n) {
        answer = worker.ConversionStep();
    }
    EXPECT_EQ(worker.Entry(0).ErrorState, kErrorInputRead);
    char detail[kNoteTextBytes] = "";
    worker.GetFailureDetail(0, detail);
    EXPECT_TRUE(Says(detail, "it ends before the end of its audio"));
    EXPECT_EQ(ListDir(out.Path()), std::vector<std::string>{});
}

// A stop in any state leaves no output of the running task, keeps those of the task done before
// it, leaves the task's record untouched, and a new run converts it whole.
TEST(Faults, StopInEveryState) {
    // Three files of 2.4 MB cut inside frames; the 2 MiB output buffers are flushed once before
    // the last file is reached.
    TempDir in;
    const Take first = WriteTake(in.Path(), 1, 2, 16, 1000);
    const Take take = WriteTake(in.Path(), 2, 2, 24, 1200000, {2400001, 4800002});
    const std::pair<int, int> stops[] = {{kConvStartTask, 1}, // state, its n-th answer
                                         {kConvConvert, 1},
                                         {kConvConvert, 2},
                                         {kConvFinishTask, 1},
                                         {kConvNextTask, 1}};
    for (const auto& [state, occurrence] : stops) {
        SCOPED_TRACE("state " + std::to_string(state) + " #" + std::to_string(occurrence));
        TempDir out;
        CMorvexWorker worker;
        AddTask(worker, 0, first.Paths[0], out.File("a"), kTypeAll, kFormatWav);
        AddTask(worker, 1, take.Paths[0], out.File("b"), kTypeMono, kFormatCaf);
        worker.StartConversion(2);
        for (int seen = 0, answer = 0; answer != kConvRunOver;) {
            answer = worker.ConversionStep();
            int entry = -1;
            worker.GetConversionInfo(nullptr, &entry);
            if (entry == 1 && answer == state && ++seen == occurrence) {
                worker.StopConversion();
                break;
            }
        }
        EXPECT_EQ(worker.ConversionStep(), kConvRunOver);
        EXPECT_EQ(worker.Entry(1).ErrorState, 0);
        const bool done = state == kConvNextTask;
        EXPECT_EQ(worker.Entry(1).fConversionDone, done);
        EXPECT_EQ(ListDir(out.Path()),
                  (done ? std::vector<std::string>{"a_01.wav", "b_01.caf", "b_02.caf"}
                        : std::vector<std::string>{"a_01.wav"}));
        if (!done) {
            RunAll(worker, 2);
        }
        EXPECT_TRUE(Holds(out.File("b_02.caf"), take, 1, 1, take.Frames()));
    }
}

} // namespace

namespace {

constexpr long long kWritebackWindow = 2 << 20;

// The writeback windows that the ranges asked for since the last call cover whole.
std::vector<long long> WindowsWrittenBack() {
    long long offsets[64], bytes[64];
    const int count = MorvexFaultTakeWriteback(offsets, bytes, 64);
    std::vector<long long> windows;
    for (int i = 0; i < count; ++i) {
        for (long long w = (offsets[i] + kWritebackWindow - 1) / kWritebackWindow;
             (w + 1) * kWritebackWindow <= offsets[i] + bytes[i]; ++w) {
            windows.push_back(w);
        }
    }
    std::sort(windows.begin(), windows.end());
    return windows;
}

} // namespace

// Writeback starts for every 2 MiB window that a write completes, also one it began in an earlier
// write, so that little is left for the final sync; a window not yet complete waits.
TEST(Faults, WritebackStartsForEveryWindowAWriteCompletes) {
    TempDir dir;
    CTzFileHandler files;
    const uint32_t ref = files.Create(dir.File("out").c_str());
    ASSERT_NE(ref, 0U);
    const std::vector<uint8_t> bytes(7 << 20, 0x3c);
    MorvexFaultTakeWriteback(nullptr, nullptr, 0);
    // Each write's length, and the windows it completes.
    const std::pair<uint32_t, std::vector<long long>> writes[] = {{(5 << 20) + 100, {0, 1}},
                                                                  {100, {}},
                                                                  {(3 << 20) - 100, {2, 3}},
                                                                  {(2 << 20) - 101, {}},
                                                                  {1, {4}}};
    for (const auto& [length, windows] : writes) {
        SCOPED_TRACE(length);
        ASSERT_EQ(files.Write(ref, bytes.data(), length), length);
        EXPECT_EQ(WindowsWrittenBack(), windows);
    }
    files.Close(ref);
}

// A device that stops taking data holds only the writer's thread: every step returns while a
// write or sync is held (no step waits for it), and the run goes on to exact outputs once the
// device takes data again. A stop while one is held deletes the outputs at once, and the writer
// drops the rest of its batch: no more data into files that are gone, no sync of them.
TEST(Faults, HeldDeviceNeverHoldsAStep) {
    constexpr int kStepsWhileHeld = 5;
    constexpr const char* kWrites = "MORVEX_FAULT_WRITE_HOLD";
    constexpr const char* kSyncs = "MORVEX_FAULT_SYNC_HOLD";
    constexpr const char* kCloses = "MORVEX_FAULT_CLOSE_HOLD";
    TempDir in;
    // 12 MB: several sets of output buffers; 400 kB: one, handed over only by the finishing step.
    const Take big = WriteTake(in.Path(), 1, 2, 16, 3000000);
    const Take small = WriteTake(in.Path(), 2, 2, 16, 100000);
    // What is held, and the step's answer while it is; 0: the run is stopped then.
    const std::tuple<const char*, const Take*, const char*, int> cases[] = {
        {"writes while converting", &big, kWrites, kConvConvert},
        {"writes while finishing", &small, kWrites, kConvFinishTask},
        {"syncs", &small, kSyncs, kConvFinishTask},
        {"writes, stopped", &big, kWrites, 0},
        {"syncs, stopped", &small, kSyncs, 0},
        {"closes, stopped", &big, kCloses, 0},
    };
    for (const auto& [name, take, held, heldAnswer] : cases) {
        SCOPED_TRACE(name);
        TempDir out;
        const std::string gate = out.File(".gate");
        testtake::WriteFile(gate, {});
        const ScopedEnv env({{held, gate}});
        auto worker = std::make_unique<CMorvexWorker>();
        AddTask(*worker, 0, take->Paths[0], out.File("t"), kTypeMono, kFormatWav);
        worker->StartConversion(1);
        int answer = kConvStartTask;
        // Closes are held only once the outputs are: from the stop on.
        const bool closes = held == kCloses;
        for (int i = 0; i < 100000 && MorvexFaultHeldCalls() == 0 && answer != kConvRunOver &&
                        !(closes && answer == kConvConvert);
             ++i) {
            answer = worker->ConversionStep();
        }
        ASSERT_TRUE(closes || MorvexFaultHeldCalls() > 0) << "nothing reached the device";
        if (heldAnswer == 0) {
            const int closesBefore = MorvexFaultGatedCloses();
            worker->StopConversion();
            // The writer's thread closes the outputs after the stop: a held close shows while
            // both are still to finish. Had the stop closed them itself, both are done.
            while (closes && MorvexFaultHeldCalls() == 0 &&
                   MorvexFaultGatedCloses() - closesBefore < 2) {
                ::usleep(1000);
            }
            EXPECT_GT(MorvexFaultHeldCalls(), 0) << "the stop waited for the device";
            EXPECT_EQ(ListDir(out.Path()), std::vector<std::string>{".gate"});
            const long long bytesAtStop = MorvexFaultGatedBytes();
            const int syncsAtStop = MorvexFaultGatedSyncs();
            fs::remove(gate);
            worker.reset(); // waits for the writer's thread to end
            // Only the piece or sync that was held went on to the device.
            EXPECT_LE(MorvexFaultGatedBytes() - bytesAtStop,
                      static_cast<long long>(COutputWriter::kWritePieceBytes));
            EXPECT_EQ(MorvexFaultGatedSyncs(), syncsAtStop);
            EXPECT_TRUE(ListDir(out.Path()).empty());
            continue;
        }
        for (int i = 0; i < kStepsWhileHeld; ++i) {
            EXPECT_EQ(worker->ConversionStep(), heldAnswer);
            EXPECT_TRUE(worker->WriterBehind());
            EXPECT_GT(MorvexFaultHeldCalls(), 0) << "step " << i << " waited for the writer";
        }
        fs::remove(gate);
        for (int i = 0; i < 100000 && answer != kConvRunOver; ++i) {
            answer = worker->ConversionStep();
        }
        EXPECT_EQ(worker->GetEntryState(0), kStateDone);
        for (int channel = 0; channel < 2; ++channel) {
            EXPECT_TRUE(Holds(out.File(OutputName("t", channel, false)), *take, channel, 1,
                              take->Frames()));
        }
    }
}
