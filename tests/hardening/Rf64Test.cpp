// An output past 2^31 bytes is written as RF64 (EBU Tech 3306). The source is sparse, so the
// test needs disk space for the output but little time; it runs as its own ctest (label large).
#include "SplitHarness.h"
#include "TempDir.h"

#include <cstring>
#include <fcntl.h>

using namespace harness;

namespace {

constexpr uint64_t kDataBytes = (1ULL << 31) + 4096; // one 16-bit channel
constexpr uint32_t kWavHeader = 44;                  // what MakeWav writes before the samples
constexpr uint32_t kMarkBytes = 4096;

Bytes ReadAt(const std::string& path, uint64_t offset, size_t count) {
    Bytes bytes(count);
    const int fd = ::open(path.c_str(), O_RDONLY);
    const ssize_t got = ::pread(fd, bytes.data(), count, static_cast<off_t>(offset));
    ::close(fd);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}

TEST(Rf64, OutputPast2GiBIsRf64AndReadsBack) {
    TempDir dir; // removes the big files however the test ends; needs about 2 GiB free

    // A header declaring the whole data chunk, then a sparse file with marks at both ends.
    const std::string source = dir.File("big.wav");
    testtake::WriteFile(source, testtake::MakeWav({1, 16}, {}, {.dataSize = uint32_t{kDataBytes}}));
    const Bytes head = testtake::PatternSamples(kMarkBytes / 2, 1, 2, 1);
    const Bytes tail = testtake::PatternSamples(kMarkBytes / 2, 1, 2, 2);
    const int fd = ::open(source.c_str(), O_WRONLY);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kWavHeader + kDataBytes)), 0);
    ASSERT_EQ(::pwrite(fd, head.data(), kMarkBytes, kWavHeader), kMarkBytes);
    ASSERT_EQ(::pwrite(fd, tail.data(), kMarkBytes, kWavHeader + kDataBytes - kMarkBytes),
              kMarkBytes);
    ::close(fd);

    const Outcome run = RunSplit({"-q", source, dir.File("out")});

    ASSERT_EQ(run.Exit, 0) << run.Err;
    const std::string output = dir.File("out_01.wav");
    const Bytes header = ReadAt(output, 0, 80);
    EXPECT_EQ(std::filesystem::file_size(output), kDataBytes + 80);
    EXPECT_TRUE(TagAt(header, 0, "RF64") && TagAt(header, 8, "WAVE") && TagAt(header, 12, "ds64") &&
                TagAt(header, 72, "data") && Field(header, 4, 4) == 0xFFFFFFFFU &&
                Field(header, 76, 4) == 0xFFFFFFFFU);
    // ds64: its size, RIFF size, data size, frames, table length.
    EXPECT_EQ(std::tuple(Field(header, 16, 4), Field(header, 20, 8), Field(header, 28, 8),
                         Field(header, 36, 8), Field(header, 44, 4)),
              std::tuple(28U, kDataBytes + 72, kDataBytes, kDataBytes / 2, 0U));
    EXPECT_EQ(ReadAt(output, 80, kMarkBytes), head);
    EXPECT_EQ(ReadAt(output, 80 + kDataBytes - kMarkBytes, kMarkBytes + 1), tail);

    SF_INFO info{};
    SNDFILE* file = sf_open(output.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_RF64);
    EXPECT_EQ(static_cast<uint64_t>(info.frames), kDataBytes / 2);
    short last[kMarkBytes / 2] = {};
    EXPECT_EQ(sf_seek(file, info.frames - kMarkBytes / 2, SEEK_SET), info.frames - kMarkBytes / 2);
    EXPECT_EQ(sf_read_short(file, last, kMarkBytes / 2), kMarkBytes / 2);
    sf_close(file);
    EXPECT_EQ(std::memcmp(last, tail.data(), kMarkBytes), 0);
}

} // namespace
