// Arbitrary bytes as a take's files, seen the way adding a task and starting its conversion see
// them: the header analysis of a buffer of exactly the bytes given, then the same bytes as a start
// file (and a follower) on disk through SetStartFile and a whole conversion.
//
// Input: [flags][split, 2 bytes LE][file bytes]. flags bit 0: the start file has a recorder's name
// and the bytes from `split` on are its first follower; bits 1-2: output type; bit 3: CAF.
#include "FuzzUtil.h"
#include "MorvexWorker.h"
#include "TempDir.h"
#include "TestTake.h"
#include "WaveHeader.h"

#include <algorithm>

#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

using fuzzutil::Check;

void AnalyseBuffer(const uint8_t* data, size_t size) {
    // A heap block of exactly `size` bytes, so that any read past it is reported.
    const std::vector<uint8_t> copy(data, data + size);
    auto worker = std::make_unique<CMorvexWorker>();
    unsigned int offset = 0;
    const auto length = static_cast<unsigned int>(size);
    if (!worker->AnalyseWaveHeader(copy.data(), length, &offset, 0, 0)) {
        return;
    }
    const SplitEntryInfo& entry = worker->Entry(0);
    Check(offset >= 24 && offset <= length);
    Check(entry.ChannelNumb >= 1 && entry.ChannelNumb <= morvex::kMaxChannels);
    Check(entry.WordLength >= 8 && entry.WordLength <= 32 && entry.WordLength != 20);
    // Read through a reader beyond a few first bytes, the walk finds what it finds in the whole
    // buffer.
    morvex::WaveHeader whole, read;
    const morvex::HeaderReader reader = [](void* context, uint64_t at, uint8_t* out,
                                           uint32_t count) {
        std::memcpy(out, static_cast<const uint8_t*>(context) + at, count);
        return true;
    };
    const morvex::HeaderSource source{copy.data(), std::min<unsigned int>(length, 64), length,
                                      reader, const_cast<uint8_t*>(copy.data())};
    Check(morvex::ParseWaveHeader(source, read) ==
          morvex::ParseWaveHeader(copy.data(), length, whole));
    Check(read.DataOffset == whole.DataOffset && read.Extent == whole.Extent &&
          read.ExtentKind == whole.ExtentKind && read.ChunksAfterData == whole.ChunksAfterData);
    Check(whole.Extent <= length - whole.DataOffset);
    // The same header as a follower matches the start file's format and finds the same data.
    unsigned int followerOffset = 0;
    Check(worker->AnalyseWaveHeader(copy.data(), length, &followerOffset, 0, 1));
    Check(followerOffset == offset && entry.DataSize[1] == entry.DataSize[0]);
}

void AddAndConvert(const std::string& dir, uint8_t flags, const uint8_t* data, size_t size,
                   size_t split) {
    const bool scheme = (flags & 1) != 0;
    const std::string start = dir + (scheme ? "/MKZ01_01.WAV" : "/take.wav");
    testtake::WriteFile(start, testtake::Bytes(data, data + (scheme ? split : size)));
    if (scheme) {
        testtake::WriteFile(dir + "/MKZ01_02.WAV", testtake::Bytes(data + split, data + size));
    }
    auto worker = std::make_unique<CMorvexWorker>();
    const int added = worker->SetStartFile(0, start.c_str());
    Check(added == 0 || added == morvex::kErrorInputTooSmall ||
          added == morvex::kErrorIncompatibleWav);
    if (added != 0) {
        return;
    }
    const SplitEntryInfo& entry = worker->Entry(0);
    Check(entry.SubCount >= 1 && entry.SubCount <= (scheme ? 2 : 1));
    Check(static_cast<uint64_t>(entry.BytesTotal) ==
          entry.DataSize[0] + (entry.SubCount == 2 ? entry.DataSize[1] : 0));
    worker->SetDestinationBaseFile(0, (dir + "/out/o").c_str(), 0);
    worker->SetDestinationType(0, (flags >> 1) & 3);
    worker->SetDestinationFormat(0, (flags >> 3) & 1);
    std::filesystem::create_directory(dir + "/out");
    worker->StartConversion(1);
    int steps = 0;
    while (worker->ConversionStep() != morvex::kConvRunOver) {
        Check(++steps < 1000);
    }
    // Done with outputs, or failed with none.
    const bool done = entry.fConversionDone;
    Check(done == (entry.ErrorState == 0));
    Check(done != std::filesystem::is_empty(dir + "/out"));
    std::filesystem::remove_all(dir + "/out");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const uint8_t flags = data[0];
    const size_t fileBytes = size - 3;
    const size_t split = (data[1] | static_cast<size_t>(data[2]) << 8) % (fileBytes + 1);
    AnalyseBuffer(data + 3, fileBytes);
    static const TempDir dir;
    AddAndConvert(dir.Path(), flags, data + 3, fileBytes, split);
    return 0;
}
