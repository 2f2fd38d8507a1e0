// The progress line and the option mapping, without a process.
#include "Progress.h"
#include "CommandLine.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using morvexcli::FormatDuration;
using morvexcli::FormatProgressLine;
using morvexcli::ProgressSample;

TEST(ProgressLine, ShowsPercentRateAndTimeLeft) {
    const ProgressSample sample{"/rec/MKZ03_01.WAV", 2, 3, 0.25, 100e6, 400e6, 2.0};
    EXPECT_EQ(FormatProgressLine(sample, 100),
              "[2/3] /rec/MKZ03_01.WAV [#######-----------------------]  25%  50.0 MB/s  "
              "00:00:06 left");
}

TEST(ProgressLine, StaysWithinTheTerminalAndKeepsTheFileName) {
    const std::string longPath = "/" + std::string(150, 'd') + "/MKZ03_01.WAV";
    const ProgressSample sample{longPath, 1, 1, 0.5, 1e6, 2e6, 1.0};
    for (int width : {20, 40, 80, 200}) {
        const std::string line = FormatProgressLine(sample, width);
        EXPECT_LE(static_cast<int>(line.size()), width - 1) << line;
        if (width >= 80) {
            EXPECT_NE(line.find("MKZ03_01.WAV"), std::string::npos) << line;
            EXPECT_NE(line.find("..."), std::string::npos) << line;
        }
    }
}

// Chunks behind the audio data take the engine's fraction past 1.0; nothing has passed yet at a
// task's start. Neither may show more than 100 % or divide by zero.
TEST(ProgressLine, OddFractionsAndNoElapsedTime) {
    const std::string over = FormatProgressLine({"t.wav", 1, 1, 1.7, 3e6, 2e6, 1.0}, 80);
    EXPECT_NE(over.find("100%"), std::string::npos) << over;
    EXPECT_NE(over.find("00:00:00 left"), std::string::npos) << over;
    const std::string start = FormatProgressLine({"t.wav", 1, 1, 0, 0, 2e6, 0}, 80);
    EXPECT_NE(start.find("  0%  - MB/s  --:--:-- left"), std::string::npos) << start;
}

TEST(ProgressLine, Durations) {
    EXPECT_EQ(FormatDuration(3725.4), "01:02:05");
    EXPECT_EQ(FormatDuration(360000), "100:00:00");
    EXPECT_EQ(FormatDuration(-1), "--:--:--");
    EXPECT_EQ(FormatDuration(1e300), "--:--:--");
}

TEST(CommandLine, MapsOptionsOntoTheEngineValuesAndKeepsTaskOrder) {
    const char* argv[] = {"morvex-split", "-t",    "PAIRS", "--format", "caf",  "-e", "2",
                          "-q",           "a.WAV", "out/a", "b.WAV",    "out/b"};
    std::FILE* sink = std::tmpfile();
    const auto parsed = morvexcli::ParseCommandLine(12, argv, sink, sink);
    std::fclose(sink);
    ASSERT_TRUE(parsed.Options);
    EXPECT_EQ(parsed.Options->Type, 1);
    EXPECT_EQ(parsed.Options->Format, 1);
    EXPECT_EQ(parsed.Options->EndIndex, 2);
    EXPECT_TRUE(parsed.Options->Quiet);
    EXPECT_FALSE(parsed.Options->InfoOnly);
    ASSERT_EQ(parsed.Options->Tasks.size(), 2u);
    EXPECT_EQ(parsed.Options->Tasks[1].StartFile, "b.WAV");
    EXPECT_EQ(parsed.Options->Tasks[1].OutputBase, "out/b");

    const char* defaults[] = {"morvex-split", "a.WAV", "out/a"};
    const auto plain = morvexcli::ParseCommandLine(3, defaults, stdout, stderr);
    ASSERT_TRUE(plain.Options);
    EXPECT_EQ(plain.Options->Type, 0);
    EXPECT_EQ(plain.Options->Format, 0);
    EXPECT_FALSE(plain.Options->EndIndex);
}

} // namespace
