#include "EngineTestUtil.h"
#include "TempDir.h"

#include <algorithm>
#include <filesystem>
#include <string>

using namespace enginetest;
using namespace morvex;

namespace {

class InfoStringsTest : public ::testing::Test {
protected:
    // Task `index`: a take whose files declare the given data sizes (one file per size).
    void Task(int index, const testtake::WavFormat& format, std::vector<uint32_t> sizes,
              int type = kTypeMono, int outputFormat = kFormatWav) {
        const std::string folder = dir.File("t" + std::to_string(index));
        std::filesystem::create_directory(folder);
        for (size_t k = 0; k < sizes.size(); ++k) {
            WriteDeclared(folder + "/" + testtake::SchemeName(1, static_cast<int>(k) + 1), format,
                          sizes[k]);
        }
        AddTask(worker, index, folder + "/" + testtake::SchemeName(1, 1),
                dir.File("out" + std::to_string(index)), type, outputFormat);
    }
    std::string Text(int index, int kind) {
        char text[kInfoTextBytes];
        std::fill(std::begin(text), std::end(text), 'x');
        text[kInfoTextBytes - 1] = '\0';
        worker.GetInfoStrings(index, kind, text);
        return text;
    }

    TempDir dir;
    CMorvexWorker worker;
};

TEST_F(InfoStringsTest, FormatAndTimeTruncateAndNeverOverflow) {
    Task(0, Format(16, 24), {4147200000U});
    EXPECT_EQ(Text(0, kInfoFormat), "16 channels, 48000 Hz");
    EXPECT_EQ(Text(0, kInfoTime), "00:30:00");

    Task(1, Format(1, 8, 8000), {8000U * 1800U + 7999U}); // 1800.9999 s
    EXPECT_EQ(Text(1, kInfoTime), "00:30:00");
    Task(2, Format(1, 8, 8000), {8000U * 360000U}); // hours are not wrapped
    EXPECT_EQ(Text(2, kInfoTime), "100:00:00");

    // A 12-bit take plays at the rate of its 2-byte containers.
    Task(3, Format(1, 12, 1000), {2000U * 3600U});
    EXPECT_EQ(Text(3, kInfoTime), "01:00:00");

    // 60 x 32 bits at 20 MHz: the byte rate 4.8e9 does not fit 32 bits, 4.8e9 bytes are 1 s.
    Task(4, Format(60, 32, 20000000), {2400000000U, 2400000000U});
    EXPECT_EQ(Text(4, kInfoTime), "00:00:01");

    // One byte per second: the seconds still fit 32 bits, then they do not.
    Task(5, Format(1, 8, 1), {2147483647U});
    EXPECT_EQ(Text(5, kInfoTime), "596523:14:07");
    Task(6, Format(1, 8, 1), {2147483647U, 1U});
    EXPECT_EQ(Text(6, kInfoTime), "--:--:--");
}

TEST_F(InfoStringsTest, SizesMarkRf64OnlyForWavFilesAboveTheLimit) {
    Task(0, Format(16, 24), {4147200000U});
    EXPECT_EQ(Text(0, kInfoSizes), "0.24 GB per file, 3.86 GB total");

    Task(1, Format(2, 16), {2684354560U, 2684354560U}); // 5 GiB in two files
    EXPECT_EQ(Text(1, kInfoSizes), "2.50 GB per file (RF64), 5.00 GB total");
    worker.SetDestinationFormat(1, kFormatCaf);
    EXPECT_EQ(Text(1, kInfoSizes), "2.50 GB per file, 5.00 GB total");

    Task(2, Format(3, 16), {3221225472U}, kTypePairs); // pairs of an odd count still get a size
    EXPECT_EQ(Text(2, kInfoSizes), "2.00 GB per file (RF64), 3.00 GB total");

    Task(3, Format(2, 16), {2147483568U}, kTypeAll);
    EXPECT_EQ(Text(3, kInfoSizes), "2.00 GB per file, 2.00 GB total");
    Task(4, Format(2, 16), {2147483569U}, kTypeAll);
    EXPECT_EQ(Text(4, kInfoSizes), "2.00 GB per file (RF64), 2.00 GB total");
    worker.SetDestinationType(4, 7); // an unknown type counts as one file
    EXPECT_EQ(Text(4, kInfoSizes), "2.00 GB per file (RF64), 2.00 GB total");
}

TEST_F(InfoStringsTest, StateTextsFollowTheTaskState) {
    Task(0, Format(2, 16), {64});
    EXPECT_EQ(Text(0, kInfoState), "File(s) prepared for conversion.");
    Task(1, Format(3, 16), {64}, kTypePairs);
    EXPECT_EQ(Text(1, kInfoState), "Missmatch: 2 channel format / odd channel count.");
    ASSERT_EQ(worker.SetStartFile(2, dir.File("t0/MKZ01_01.WAV").c_str()), 0);
    EXPECT_EQ(Text(2, kInfoState), "No output directory and file name selected.");
    ASSERT_EQ(worker.SetDestinationBaseFile(2, dir.File("out0").c_str(), 2), 1);
    EXPECT_EQ(Text(2, kInfoState), "Output file name is already in use.");

    // The data chunk declares 64 bytes and holds them; the run converts task 0 only.
    worker.StartConversion(1);
    EXPECT_EQ(Text(1, kInfoState), "File(s) prepared for conversion.");
    ASSERT_EQ(worker.ConversionStep(), kConvStartTask);
    EXPECT_EQ(Text(0, kInfoState), "Conversion running, 0.00 GB done.");
    for (int i = 0; i < 100 && worker.ConversionStep() != kConvRunOver; ++i) {
    }
    EXPECT_EQ(Text(0, kInfoState), "Conversion done.");

    for (const auto& [index, kind] :
         {std::pair{30, 0}, std::pair{-1, 0}, std::pair{0, 4}, std::pair{0, -1}}) {
        EXPECT_EQ(Text(index, kind), "") << index << ", " << kind;
    }
}

} // namespace
