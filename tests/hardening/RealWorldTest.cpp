// Takes as other writers and failing devices leave them end in exact outputs or a failed task.
#include "SplitHarness.h"

using namespace harness;
using namespace morvex;
namespace fs = std::filesystem;

namespace {

std::string Text(const std::function<bool(char*)>& get) {
    char text[kNoteTextBytes] = "-";
    get(text);
    return text;
}

// Only data chunks are audio, padded after an odd chunk or not; an unfinished size runs to the end.
// Outputs keep the take's time; slow syncs run on the writer's thread, never holding the caller.
TEST(RealWorld, ChunksAroundTheAudioAndUnfinishedSizesOnASlowCard) {
    testtake::WavLayout trailing, padded, unpadded;
    trailing.trailingBytes = testtake::Chunk("_PMX", Bytes(7, '<'));
    trailing.padData = padded.padData = true;
    padded.chunksBeforeData = unpadded.chunksBeforeData = testtake::Chunk("levl", Bytes(13, 'b'));
    unpadded.chunksBeforeData.pop_back(); // a writer that leaves the pad byte out
    const std::tuple<const char*, testtake::WavLayout, int, int> cases[] = {
        {"chunks after odd-sized data", trailing, 3, 24},
        {"pad bytes between files", padded, 1, 8},
        {"a pad byte left out", unpadded, 2, 24},
        {"size 0", {.dataSize = 0}, 2, 24},
        {"size unknown", {.dataSize = 0xFFFFFFFFU}, 2, 24},
        {"size past the end", {.dataSize = 1U << 30}, 2, 16},
    };
    const auto recorded = fs::file_time_type::clock::now() - std::chrono::hours(9000);
    const ScopedEnv slow(EnvValues{{"MORVEX_FAULT_SYNC_DELAY_MS", "100"}});
    for (const auto& [name, layout, channels, bits] : cases) {
        SCOPED_TRACE(name);
        TempDir in, out;
        const Take take = WriteTake(in.Path(), 1, channels, bits, 3001,
                                    {1001, 2003 * static_cast<size_t>((bits + 7) / 8)}, 1, layout);
        fs::last_write_time(take.Paths[0], recorded);
        CMorvexWorker worker;
        AddTask(worker, 0, take.Paths[0], out.File("o"));
        EXPECT_EQ(worker.Entry(0).BytesTotal, static_cast<int64_t>(take.Stream.size()));
        const std::vector<int> answers = RunAll(worker, 1);
        EXPECT_GE(std::count(answers.begin(), answers.end(), kConvFinishTask), 3);
        ASSERT_EQ(worker.Entry(0).ErrorState, 0)
            << Text([&](char* t) { return worker.GetFailureDetail(0, t); });
        ExpectMono(out.File("o"), take, take.Frames());
        EXPECT_EQ(fs::last_write_time(out.File("o_01.wav")), recorded);
    }
}

// The task begins with the first whole frame; a file of another format before it is no part of it.
TEST(RealWorld, StartingFromALaterFileKeepsTheFramePhase) {
    TempDir in, out;
    constexpr size_t kFrame = 12; // 4 channels of 24 bits
    const Take take = WriteTake(in.Path(), 6, 4, 24, 3000, {1000 * kFrame + 5, 2000 * kFrame + 7});
    CMorvexWorker worker;
    AddTask(worker, 0, take.Paths[1], out.File("b"));
    AddTask(worker, 1, take.Paths[2], out.File("c"));
    EXPECT_EQ(worker.Entry(0).BytesTotal, static_cast<int64_t>(1999 * kFrame));
    RunAll(worker, 2);
    for (const auto& [base, from, frames] : {std::tuple{"b", 1001, 1999}, {"c", 2001, 999}}) {
        Take rest = take;
        rest.Stream.erase(rest.Stream.begin(), rest.Stream.begin() + from * kFrame);
        ExpectMono(out.File(base), rest, frames);
    }
    EXPECT_EQ(Text([&](char* t) { return worker.GetTakeWarning(0, t); }), "");

    testtake::WriteFile(take.Paths[0], testtake::MakeWav({4, 24, 44100}, Bytes(1001, 1)));
    CMorvexWorker other;
    AddTask(other, 0, take.Paths[1], out.File("other"));
    EXPECT_EQ(other.Entry(0).FrameSkipBytes, 0U);
    EXPECT_EQ(Text([&](char* t) { return other.GetTakeWarning(0, t); }), "");
}

// A read that fails or comes up short fails the task with the reason and leaves nothing.
TEST(RealWorld, ReadFailuresAndSourcesCutShortFailTheTask) {
    TempDir in, out; // 12 MiB in two files: three source blocks in the first
    const Take big = WriteTake(in.Path(), 8, 2, 16, 3U << 20, {(10U << 20) + 1});
    // The file that fails, at which byte (0: cut short once its first block is read), the reason.
    const std::tuple<std::string, uint64_t, const char*> cases[] = {
        {big.Paths[0], 5U << 20, ": Input/output error"}, // start file, second block
        {big.Paths[1], 20, ": Input/output error"},       // follower header
        {big.Paths[0], 0, ": it ends before the end of its audio"}};
    for (const auto& [file, at, reason] : cases) {
        SCOPED_TRACE(file + reason);
        CMorvexWorker worker;
        AddTask(worker, 0, big.Paths[0], out.File("big"));
        const ScopedEnv fault(at == 0 ? EnvValues{}
                                      : EnvValues{{"MORVEX_FAULT_READ_FILE", file},
                                                  {"MORVEX_FAULT_READ_AT", std::to_string(at)}});
        worker.StartConversion(1);
        for (int i = 0; i < 10 && worker.ConversionStep() != kConvConvert; ++i) {
        }
        if (at == 0) {
            fs::resize_file(file, 6000000); // the bytes gone are no end of the audio
        }
        while (worker.ConversionStep() != kConvRunOver) {
        }
        EXPECT_EQ(worker.Entry(0).ErrorState, kErrorInputRead);
        EXPECT_EQ(Text([&](char* t) { return worker.GetFailureDetail(0, t); }), file + reason);
        EXPECT_TRUE(ListDir(out.Path()).empty());
    }
}

// An output removed or replaced under the run fails the task; a file not its own is kept.
TEST(RealWorld, OutputsThatVanishFailTheTask) {
    TempDir in, out;
    const Take take = WriteTake(in.Path(), 11, 2, 16, 3U << 20);
    const auto runChanging = [&](CMorvexWorker& worker, const std::string& folder,
                                 const std::function<void()>& change) {
        AddTask(worker, 0, take.Paths[0], folder + "/o");
        worker.StartConversion(1);
        for (int i = 0; i < 3; ++i) {
            worker.ConversionStep(); // next task, start, one block converted
        }
        change();
        while (worker.ConversionStep() != kConvRunOver) {
        }
        EXPECT_EQ(worker.Entry(0).ErrorState, kErrorOutputWrite);
    };
    CMorvexWorker gone, taken;
    fs::create_directory(out.File("gone"));
    runChanging(gone, out.File("gone"), [&] { fs::remove_all(out.File("gone")); });
    EXPECT_TRUE(Says(Text([&](char* t) { return gone.GetFailureDetail(0, t); }),
                     "the file written is no longer there"));
    EXPECT_EQ(gone.GetLeftOverCount(), 0);
    runChanging(taken, out.Path(), [&] {
        fs::rename(out.File("o_02.wav"), out.File("moved.wav"));
        testtake::WriteFile(out.File("o_02.wav"), Bytes(5, 'y'));
    });
    EXPECT_EQ(testtake::ReadFile(out.File("o_02.wav")), Bytes(5, 'y'));
    EXPECT_EQ(ListDir(out.Path()), (std::vector<std::string>{"moved.wav", "o_02.wav"}));
}

} // namespace
