#include "EngineTestUtil.h"
#include "TempDir.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

using namespace enginetest;
using namespace morvex;
using testtake::MakeWav;
using testtake::PatternSamples;
using testtake::SchemeName;
using testtake::WriteFile;

namespace {

class TakeAnalysisTest : public ::testing::Test {
protected:
    std::string Wav(const std::string& name, const testtake::WavFormat& format, uint32_t frames,
                    const testtake::WavLayout& layout = {}) {
        const std::string path = dir.File(name);
        WriteFile(path, MakeWav(format,
                                PatternSamples(frames, format.channels,
                                               std::min(format.BytesPerSample(), 4)),
                                layout));
        return path;
    }
    std::vector<std::string> EndNames(int index) {
        std::vector<std::string> names;
        char text[kMaxPathBytes];
        for (int k = 0; worker.GetSourceEndName(index, k, text); ++k) {
            names.emplace_back(text);
        }
        return names;
    }

    TempDir dir;
    CMorvexWorker worker;
};

TEST_F(TakeAnalysisTest, FollowersEndAtTheFirstFileThatDoesNotMatch) {
    const auto format = Format(4, 24);
    Wav("MKZ03_07.WAV", format, 10);
    testtake::WavLayout longerFmt; // only the first 16 bytes of "fmt " are compared
    longerFmt.fmtExtraBytes = 2;
    Wav("MKZ03_08.WAV", format, 20, longerFmt);
    Wav("MKZ03_09.WAV", format, 30);
    Wav("MKZ03_11.WAV", format, 40);
    ASSERT_EQ(worker.SetStartFile(0, dir.File("MKZ03_07.WAV").c_str()), 0);
    const SplitEntryInfo& task = worker.Entry(0);
    EXPECT_EQ(task.MainNumb, 3);
    EXPECT_EQ(task.StartSubNumb, 7);
    EXPECT_EQ(task.SubCount, 3);
    EXPECT_EQ(task.SourceEndIndex, 2);
    EXPECT_EQ(task.BytesTotal, 60 * 12);
    EXPECT_EQ(task.DataSize[2], 30U * 12U);
    EXPECT_EQ(task.ChannelNumb, 4);
    EXPECT_EQ(task.WordLength, 24);
    EXPECT_EQ(task.SampleRate, 48000U);
    EXPECT_EQ(EndNames(0),
              (std::vector<std::string>{"MKZ03_07.WAV", "MKZ03_08.WAV", "MKZ03_09.WAV"}));

    worker.SetSourceEndIndex(0, 3);
    EXPECT_EQ(task.SourceEndIndex, 2);
    worker.SetSourceEndIndex(0, 0);
    EXPECT_EQ(task.BytesTotal, 10 * 12);
    worker.SetSourceEndIndex(0, 1);
    EXPECT_EQ(task.BytesTotal, 30 * 12);

    // File 09 differing in a field that nothing else reads still ends the take before it.
    testtake::WavFormat otherAverage = format;
    otherAverage.avgBytesPerSec = 1;
    Wav("MKZ03_09.WAV", otherAverage, 30);
    ASSERT_EQ(worker.SetStartFile(1, dir.File("MKZ03_07.WAV").c_str()), 0);
    EXPECT_EQ(worker.Entry(1).SubCount, 2);
}

TEST_F(TakeAnalysisTest, SchemeNamesLookOnlyAtTheLastTwelveCharacters) {
    const auto format = Format(2, 16);
    // Any prefix and separators, extension in any case; followers use ".WAV" in capitals.
    Wav("Take-MKZ12-40xwav", format, 5);
    Wav("Take-MKZ12-41.WAV", format, 5);
    Wav("Take-MKZ12-41.wav", format, 5);
    Wav("Take-MKZ12-42.wav", format, 5);
    ASSERT_EQ(worker.SetStartFile(0, dir.File("Take-MKZ12-40xwav").c_str()), 0);
    EXPECT_EQ(worker.Entry(0).SubCount, 2);
    EXPECT_EQ(EndNames(0), (std::vector<std::string>{"MKZ12_40.WAV", "MKZ12_41.WAV"}));

    for (const char* name : {"mkz03_07.wav", "take1.wav", "MKZ03_07.WAVE", "MKZ0A_07.WAV"}) {
        Wav(name, format, 5);
        Wav("MKZ03_08.WAV", format, 5);
        ASSERT_EQ(worker.SetStartFile(1, dir.File(name).c_str()), 0) << name;
        EXPECT_EQ(worker.Entry(1).MainNumb, -1) << name;
        EXPECT_EQ(worker.Entry(1).SubCount, 1) << name;
        EXPECT_EQ(EndNames(1), std::vector<std::string>{name});
        EXPECT_EQ(worker.OpenFollowerFile(1, 1), 0U);
    }
    char text[kMaxPathBytes] = "untouched";
    EXPECT_FALSE(worker.GetSourceEndName(30, 0, text));
    EXPECT_FALSE(worker.GetSourceEndName(0, 2, text));
    EXPECT_STREQ(text, "untouched");
}

TEST_F(TakeAnalysisTest, FileNumbersPastNinetyNineAndTheHundredFileLimit) {
    const auto format = Format(1, 8);
    for (int number = 0; number <= 100; ++number) {
        Wav(SchemeName(1, number), format, 3);
    }
    ASSERT_EQ(worker.SetStartFile(0, dir.File(SchemeName(1, 0)).c_str()), 0);
    EXPECT_EQ(worker.Entry(0).SubCount, 100);
    EXPECT_EQ(worker.Entry(0).SourceEndIndex, 99);
    EXPECT_EQ(worker.Entry(0).BytesTotal, 300);

    ASSERT_EQ(worker.SetStartFile(1, dir.File(SchemeName(1, 98)).c_str()), 0);
    EXPECT_EQ(worker.Entry(1).SubCount, 3);
    EXPECT_EQ(EndNames(1).back(), "MKZ01_100.WAV");
    const uint32_t ref = worker.OpenFollowerFile(1, 2);
    EXPECT_NE(ref, 0U);
    CTzFileHandler().Close(ref);
    EXPECT_EQ(worker.OpenFollowerFile(1, 100), 0U);
    EXPECT_EQ(worker.OpenFollowerFile(30, 0), 0U);
    EXPECT_EQ(worker.OpenFollowerFile(-1, 0), 0U);
}

// Paths must fit 1000 bytes with their terminator; the follower with a third digit is one longer.
TEST_F(TakeAnalysisTest, PathsThatDoNotFitAreRefusedNeverCut) {
    std::string folder = dir.Path();
    const auto nestTo = [&](size_t startPathLength) {
        std::string path = dir.Path();
        while (path.size() + 1 + 200 + 1 + 12 < startPathLength) {
            path += "/" + std::string(200, 'd');
        }
        path += "/" + std::string(startPathLength - path.size() - 2 - 12, 'e');
        std::filesystem::create_directories(path);
        return path + "/";
    };
    const auto format = Format(2, 16);
    for (size_t length : {998U, 999U}) {
        folder = nestTo(length);
        const std::string start = folder + SchemeName(1, 99);
        ASSERT_EQ(start.size(), length);
        WriteFile(start, MakeWav(format, PatternSamples(4, 2, 2)));
        WriteFile(folder + SchemeName(1, 100), MakeWav(format, PatternSamples(4, 2, 2)));
        // What a cut follower path would name: it must not be taken either.
        WriteFile(folder + "MKZ01_100.WA", MakeWav(format, PatternSamples(4, 2, 2)));
        ASSERT_EQ(worker.SetStartFile(0, start.c_str()), 0);
        EXPECT_EQ(worker.Entry(0).SubCount, length == 998 ? 2 : 1) << length;
    }
    folder = nestTo(1000);
    const std::string start = folder + SchemeName(1, 1);
    WriteFile(start, MakeWav(format, PatternSamples(4, 2, 2)));
    EXPECT_EQ(worker.SetStartFile(1, start.c_str()), kErrorOpenInput);
    EXPECT_EQ(worker.Entry(1).SourceFilePath[0], '\0');
}

TEST_F(TakeAnalysisTest, StartFileCodes) {
    WriteFile(dir.File("short.wav"), MakeWav(Format(2, 16), {}));
    ASSERT_EQ(testtake::ReadFile(dir.File("short.wav")).size(), 44U);
    EXPECT_EQ(worker.SetStartFile(0, dir.File("short.wav").c_str()), kErrorInputTooSmall);
    EXPECT_EQ(worker.SetStartFile(0, dir.File("missing.wav").c_str()), kErrorOpenInput);
    EXPECT_EQ(worker.SetStartFile(0, dir.Path().c_str()), kErrorOpenInput);
    EXPECT_EQ(worker.SetStartFile(30, dir.File("missing.wav").c_str()), kErrorTableFull);

    testtake::WavLayout farData;
    farData.chunksBeforeData = testtake::Chunk("LIST", Bytes(10240, 'x'));
    testtake::WavLayout padded; // a file of 0 channels has no samples but must not be too small
    padded.trailingBytes = Bytes(8, 0);
    testtake::WavLayout misaligned;
    misaligned.leadingBytes = Bytes(6, 0);
    testtake::WavFormat extensible = Format(2, 16);
    extensible.formatTag = static_cast<int16_t>(0xFFFE);
    testtake::WavFormat floats = Format(2, 32);
    floats.formatTag = 3;
    const std::pair<testtake::WavFormat, testtake::WavLayout> rejected[] = {
        {Format(2, 16), farData}, {Format(2, 16), misaligned},
        {extensible, {}},         {floats, {}},
        {Format(2, 20), {}},      {Format(61, 16), {}},
        {Format(0, 16), padded},  {Format(2, 16, 0), {}},
        {Format(2, 7), {}},       {Format(2, 33), {}},
    };
    for (const auto& [format, layout] : rejected) {
        Wav("bad.wav", format, 4, layout);
        EXPECT_EQ(worker.SetStartFile(0, dir.File("bad.wav").c_str()), kErrorIncompatibleWav)
            << format.channels << " channels, " << format.bitsPerSample << " bits, tag "
            << format.formatTag << ", rate " << format.sampleRate;
    }
    EXPECT_EQ(worker.Entry(0).SourceFilePath[0], '\0');

    testtake::WavLayout aligned;
    aligned.leadingBytes = Bytes(12, 0);
    aligned.chunksBeforeFmt = testtake::Chunk("JUNK", Bytes(3, 0));
    for (const auto& [format, layout] :
         {std::pair{Format(60, 12), testtake::WavLayout{}}, std::pair{Format(2, 8), aligned},
          std::pair{Format(1, 32), testtake::WavLayout{}}}) {
        Wav("good.wav", format, 4, layout);
        EXPECT_EQ(worker.SetStartFile(0, dir.File("good.wav").c_str()), 0)
            << format.channels << " channels, " << format.bitsPerSample << " bits";
    }
}

// The analysis sees only `size` bytes: a buffer that ends right before an unmapped page shows any
// read past it.
TEST_F(TakeAnalysisTest, HeaderSearchNeverReadsPastTheGivenSize) {
    const long page = ::sysconf(_SC_PAGESIZE);
    auto* pages =
        static_cast<uint8_t*>(::mmap(nullptr, static_cast<size_t>(2 * page), PROT_READ | PROT_WRITE,
                                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    ASSERT_EQ(::mprotect(pages + page, static_cast<size_t>(page), PROT_NONE), 0);

    const Bytes header = MakeWav(Format(2, 16), {});
    for (unsigned size = 0; size <= 44; ++size) {
        uint8_t* at = pages + page - size;
        std::memcpy(at, header.data(), size);
        unsigned offset = 0;
        const bool accepted = worker.AnalyseWaveHeader(at, size, &offset, 0, 0);
        EXPECT_EQ(accepted, size == 44) << size;
        if (accepted) {
            EXPECT_EQ(offset, 44U);
        }
    }
    ::munmap(pages, static_cast<size_t>(2 * page));
}

} // namespace
