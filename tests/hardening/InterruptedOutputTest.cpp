// What a killed run leaves: each output's first write carries a header in the final layout whose
// sizes say "unknown", so libsndfile and ffmpeg read exactly the audio written so far, or refuse
// the file, and never take it for a file of another length.
#include "HardeningUtil.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace hardening;

namespace {

struct Case {
    const char* Name;
    uint16_t Channels;
    uint16_t Bits;
    int Type;
    int Format;
    int KillAfterConvertSteps; // steps of state 3 before the kill; 0: right after the task start
};

class InterruptedOutput : public testing::TestWithParam<Case> {};

} // namespace

TEST_P(InterruptedOutput, ReadersSeeTheAudioWrittenSoFar) {
    const Case& test = GetParam();
    TempDir dir;
    // About 5 MB of source: the first 4 MiB block fills the output buffers, which are flushed.
    const uint32_t bytes = test.KillAfterConvertSteps == 0 ? 100000U : 5000000U;
    const uint32_t frames = bytes / (test.Channels * ((test.Bits + 7U) / 8U));
    const Take take = WriteTake(dir.Path(), 1, test.Channels, test.Bits, frames);
    const Bytes source = ReadAll(take.Paths[0]);
    const std::string base = dir.File("out");
    CMorvexWorker worker;
    AddTask(worker, 0, take.Paths[0], base, test.Type, test.Format);

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        worker.StartConversion(1);
        int converted = 0;
        for (int state = 0; state != morvex::kConvRunOver;) {
            state = worker.ConversionStep();
            if (state == morvex::kConvConvert && converted++ == test.KillAfterConvertSteps) {
                ::kill(::getpid(), SIGKILL);
            }
        }
        ::_exit(0); // the run ended before the kill: the parent reports it
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(ReadAll(take.Paths[0]), source);

    const int perFile = test.Type == morvex::kTypeAll ? test.Channels : 1;
    const int headerBytes = test.Format == morvex::kFormatCaf ? 68 : 80;
    const int frameBytes = perFile * take.Bps();
    for (int first = 0; first < test.Channels; first += perFile) {
        const std::string path = OutputName(base, first, test.Format);
        SCOPED_TRACE(path);
        const Bytes out = ReadAll(path);
        bool ffmpegOk = false;
        const std::vector<int> decoded = DecodeWithFfmpeg(path, ffmpegOk);
        const Sound sound = ReadWithSndfile(path);
        if (test.KillAfterConvertSteps == 0) {
            // Created, nothing written yet: both readers refuse the empty file.
            EXPECT_TRUE(out.empty());
            EXPECT_FALSE(sound.Opened);
            EXPECT_FALSE(ffmpegOk && !decoded.empty());
            continue;
        }
        ASSERT_GT(out.size(), static_cast<size_t>(headerBytes));
        const uint64_t written = (out.size() - headerBytes) / frameBytes;
        EXPECT_EQ((out.size() - headerBytes) % frameBytes, 0U) << "a frame was cut";
        EXPECT_LT(written, take.Frames()) << "the kill came after the task had ended";
        // The sizes in the header say "unknown".
        if (test.Format == morvex::kFormatCaf) {
            EXPECT_EQ(std::memcmp(out.data() + 52, "data", 4), 0);
            EXPECT_TRUE(std::all_of(out.begin() + 56, out.begin() + 64,
                                    [](uint8_t b) { return b == 0xff; }));
        } else {
            EXPECT_EQ(std::memcmp(out.data(), "RIFF", 4), 0);
            EXPECT_TRUE(
                std::all_of(out.begin() + 4, out.begin() + 8, [](uint8_t b) { return b == 0xff; }));
            EXPECT_EQ(std::memcmp(out.data() + 72, "data", 4), 0);
            EXPECT_TRUE(std::all_of(out.begin() + 76, out.begin() + 80,
                                    [](uint8_t b) { return b == 0xff; }));
        }
        // libsndfile (1.2) refuses a CAF data chunk of unknown size; should it read one, it
        // must read exactly what was written.
        if (test.Format == morvex::kFormatWav || sound.Opened) {
            ExpectOutputHolds(path, take, first, perFile, written);
        }
        EXPECT_TRUE(ffmpegOk);
        EXPECT_TRUE(decoded == ExpectedInts(take, first, perFile, written))
            << "ffmpeg decoded " << decoded.size() << " samples, written " << written * perFile;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Hardening, InterruptedOutput,
    testing::Values(Case{"wav_mono_16bit", 2, 16, morvex::kTypeMono, morvex::kFormatWav, 1},
                    Case{"wav_all_24bit", 3, 24, morvex::kTypeAll, morvex::kFormatWav, 1},
                    Case{"wav_mono_8bit", 1, 8, morvex::kTypeMono, morvex::kFormatWav, 1},
                    Case{"caf_mono_8bit", 1, 8, morvex::kTypeMono, morvex::kFormatCaf, 1},
                    Case{"caf_all_32bit", 4, 32, morvex::kTypeAll, morvex::kFormatCaf, 1},
                    Case{"wav_nothing_written", 2, 16, morvex::kTypeMono, morvex::kFormatWav, 0},
                    Case{"caf_nothing_written", 2, 16, morvex::kTypeMono, morvex::kFormatCaf, 0}),
    [](const testing::TestParamInfo<Case>& param) { return std::string(param.param.Name); });
