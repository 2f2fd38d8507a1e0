// An output past 2^31 bytes is written as RF64 (EBU Tech 3306). The source is sparse, so the
// test needs disk space for the output but little time; it runs as its own ctest (label large).
#include "HardeningUtil.h"

#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace hardening;

namespace {

constexpr uint64_t kDataBytes = (1ULL << 31) + 4096; // one 16-bit channel
constexpr uint32_t kWavHeader = 44;                  // what MakeWav writes before the samples
constexpr uint32_t kMarkBytes = 4096;

uint32_t Le32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint64_t Le64(const Bytes& b, size_t at) {
    return Le32(b, at) | static_cast<uint64_t>(Le32(b, at + 4)) << 32;
}

Bytes ReadAt(int fd, uint64_t offset, size_t count) {
    Bytes bytes(count);
    const ssize_t got = ::pread(fd, bytes.data(), count, static_cast<off_t>(offset));
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}

} // namespace

TEST(Rf64, OutputPast2GiBIsRf64AndReadsBack) {
    TempDir dir; // removes the big files however the test ends
    struct statvfs disk {};
    ASSERT_EQ(::statvfs(dir.Path().c_str(), &disk), 0);
    ASSERT_GT(static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize, kDataBytes + (1ULL << 30))
        << "needs about 3 GiB free under " << dir.Path();

    // A header declaring the whole data chunk, then a sparse file with marks at both ends.
    testtake::WavFormat format;
    format.channels = 1;
    testtake::WavLayout layout;
    layout.dataSizeFromBody = false;
    layout.dataSizeOverride = static_cast<uint32_t>(kDataBytes);
    const std::string source = dir.File("big.wav");
    testtake::WriteFile(source, testtake::MakeWav(format, {}, layout));
    const Bytes head = testtake::PatternSamples(kMarkBytes / 2, 1, 2, 1);
    const Bytes tail = testtake::PatternSamples(kMarkBytes / 2, 1, 2, 2);
    {
        const int fd = ::open(source.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kWavHeader + kDataBytes)), 0);
        ASSERT_EQ(::pwrite(fd, head.data(), head.size(), kWavHeader),
                  static_cast<ssize_t>(head.size()));
        ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(),
                           static_cast<off_t>(kWavHeader + kDataBytes - kMarkBytes)),
                  static_cast<ssize_t>(tail.size()));
        ::close(fd);
    }

    CMorvexWorker worker;
    AddTask(worker, 0, source, dir.File("out"), morvex::kTypeMono, morvex::kFormatWav);
    RunAll(worker, 1);
    ASSERT_TRUE(worker.Entry(0).fConversionDone) << "error " << worker.Entry(0).ErrorState;

    const std::string output = dir.File("out_01.wav");
    const int fd = ::open(output.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const Bytes header = ReadAt(fd, 0, 80);
    const Bytes outHead = ReadAt(fd, 80, kMarkBytes);
    const Bytes outTail = ReadAt(fd, 80 + kDataBytes - kMarkBytes, kMarkBytes + 1);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    ::close(fd);
    ASSERT_EQ(header.size(), 80U);
    EXPECT_EQ(static_cast<uint64_t>(size), kDataBytes + 80);
    EXPECT_EQ(std::string(header.begin(), header.begin() + 4), "RF64");
    EXPECT_EQ(Le32(header, 4), 0xFFFFFFFFU);
    EXPECT_EQ(std::string(header.begin() + 8, header.begin() + 16), "WAVEds64");
    EXPECT_EQ(Le32(header, 16), 28U);
    EXPECT_EQ(Le64(header, 20), kDataBytes + 72); // RIFF size
    EXPECT_EQ(Le64(header, 28), kDataBytes);      // data size
    EXPECT_EQ(Le64(header, 36), kDataBytes / 2);  // frames
    EXPECT_EQ(Le32(header, 44), 0U);              // table length
    EXPECT_EQ(std::string(header.begin() + 72, header.begin() + 76), "data");
    EXPECT_EQ(Le32(header, 76), 0xFFFFFFFFU);
    EXPECT_EQ(outHead, head);
    EXPECT_EQ(outTail, tail); // and nothing behind it

    SF_INFO info{};
    SNDFILE* file = sf_open(output.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_RF64);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(static_cast<uint64_t>(info.frames), kDataBytes / 2);
    short last[kMarkBytes / 2] = {};
    EXPECT_EQ(sf_seek(file, info.frames - kMarkBytes / 2, SEEK_SET), info.frames - kMarkBytes / 2);
    EXPECT_EQ(sf_read_short(file, last, kMarkBytes / 2), kMarkBytes / 2);
    sf_close(file);
    EXPECT_EQ(std::memcmp(last, tail.data(), kMarkBytes), 0);
}
