// Every output type and format for takes of 8 to 32 bits and 1 to 60 channels, read back with
// libsndfile and compared sample by sample with the source.
#include "HardeningUtil.h"

#include <tuple>

using namespace hardening;

namespace {

class Interop : public testing::TestWithParam<std::tuple<int, int>> {};

} // namespace

TEST_P(Interop, EveryOutputReadsBackAsTheSource) {
    const auto [bits, channels] = GetParam();
    // Most takes are short; two span a few flushes of the output buffers (about 4 MiB of source
    // each).
    uint32_t frames = 701;
    if (bits == 16 && channels == 2) {
        frames = 3300000;
    } else if (bits == 24 && channels == 16) {
        frames = 280000;
    }
    TempDir dir;
    const int frameBytes = channels * bits / 8;
    // Two files cut inside a frame; the odd frame count gives odd data sizes for 8 and 24 bits.
    const Take take =
        WriteTake(dir.Path(), 1, static_cast<uint16_t>(channels), static_cast<uint16_t>(bits),
                  frames, {static_cast<size_t>(frameBytes) * (frames / 2) + 1});
    CMorvexWorker worker;
    int count = 0;
    for (int type : {morvex::kTypeMono, morvex::kTypePairs, morvex::kTypeAll}) {
        for (int format : {morvex::kFormatWav, morvex::kFormatCaf}) {
            AddTask(worker, count, take.Paths[0], dir.File("t" + std::to_string(count)), type,
                    format);
            ++count;
        }
    }
    RunAll(worker, count);

    for (int task = 0; task < count; ++task) {
        const SplitEntryInfo& entry = worker.Entry(task);
        SCOPED_TRACE("type " + std::to_string(entry.Type) + " format " +
                     std::to_string(entry.Format));
        const std::string base = dir.File("t" + std::to_string(task));
        if (entry.Type == morvex::kTypePairs && channels % 2 != 0) {
            EXPECT_EQ(entry.ErrorState, morvex::kErrorOutputCreate);
            EXPECT_FALSE(testtake::FileExists(OutputName(base, 0, entry.Format)));
            continue;
        }
        ASSERT_TRUE(entry.fConversionDone);
        const int perFile = entry.Type == morvex::kTypeMono    ? 1
                            : entry.Type == morvex::kTypePairs ? 2
                                                               : channels;
        const int major = entry.Format == morvex::kFormatCaf ? SF_FORMAT_CAF : SF_FORMAT_WAV;
        for (int first = 0; first < channels; first += perFile) {
            const std::string path = OutputName(base, first, entry.Format);
            ExpectOutputHolds(path, take, first, perFile, take.Frames());
            SF_INFO info{};
            SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
            ASSERT_NE(file, nullptr);
            sf_close(file);
            EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, major) << path;
        }
        EXPECT_FALSE(testtake::FileExists(OutputName(base, channels, entry.Format)));
    }
}

INSTANTIATE_TEST_SUITE_P(Hardening, Interop,
                         testing::Combine(testing::Values(8, 16, 24, 32),
                                          testing::Values(1, 2, 3, 16, 60)),
                         [](const testing::TestParamInfo<std::tuple<int, int>>& param) {
                             return std::to_string(std::get<0>(param.param)) + "bit_" +
                                    std::to_string(std::get<1>(param.param)) + "ch";
                         });
