#include "Deinterleave.h"
#include "MorvexWorker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <stdexcept>
#include <sys/mman.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using morvex::DeinterleaveCursor;
using morvex::DeinterleaveLayout;
using Bytes = std::vector<uint8_t>;

namespace {

// Bytes behind each output buffer that the copy must never reach.
constexpr uint8_t kCanary = 0xA5;
constexpr size_t kCanaryBytes = 16;

// Every flush as the file writes would see it: the fill level, then each output's bytes in order.
struct FlushLog {
    std::vector<int> outputs;
    const std::array<uint8_t*, morvex::kMaxChannels>* buffers = nullptr;
    std::vector<Bytes> entries;
    int failAt = -1;

    static bool Flush(void* context, int fillBytes) {
        auto* log = static_cast<FlushLog*>(context);
        Bytes entry(sizeof fillBytes);
        std::memcpy(entry.data(), &fillBytes, sizeof fillBytes);
        for (int i : log->outputs) {
            const uint8_t* buffer = (*log->buffers)[static_cast<size_t>(i)];
            entry.insert(entry.end(), buffer, buffer + fillBytes);
        }
        log->entries.push_back(std::move(entry));
        return static_cast<int>(log->entries.size()) - 1 != log->failAt;
    }
};

// The copy as its rule states it, one byte at a time, kept here so the fast kernel has a second,
// obviously right implementation to answer to.
bool ReferenceBlock(const DeinterleaveLayout& layout, DeinterleaveCursor& c, const uint8_t* source,
                    uint32_t count, FlushLog& log) {
    const int g = layout.ChannelsPerDestFile * layout.BytesPerSample;
    while (c.SourceDataPoint < count) {
        layout.DestBuffers[c.ChannelPoint][c.DestDataPoint + c.SampleOffset] =
            source[c.SourceDataPoint];
        ++c.SourceDataPoint;
        if (++c.SampleOffset < g) {
            continue;
        }
        c.SampleOffset = 0;
        c.ChannelPoint += layout.ChannelsPerDestFile;
        if (c.ChannelPoint < layout.SourceChannels) {
            continue;
        }
        c.ChannelPoint = 0;
        c.DestDataPoint += g;
        c.DestTotalBytes += static_cast<uint64_t>(layout.SourceChannels * layout.BytesPerSample);
        if (c.DestDataPoint >= layout.DestBuffSize - g) {
            const bool written = FlushLog::Flush(&log, c.DestDataPoint);
            c.DestDataPoint = 0;
            if (!written) {
                return false;
            }
        }
    }
    return true;
}

struct Config {
    int channels = 1;
    int bytesPerSample = 1;
    int channelsPerFile = 1;
    int destBuffSize = 0;
    int initialFill = 0;
    int failAt = -1;
    std::vector<std::vector<uint32_t>> files; // block lengths of each file's sample data
    std::vector<uint32_t> headerBytes;        // bytes before the sample data in each file
};

// One side of the comparison: its own output buffers, cursor and flush log.
struct Side {
    Side(const Config& config, const Bytes& prefill) {
        for (int i = 0; i < config.channels; i += config.channelsPerFile) {
            Bytes& buffer = storage[static_cast<size_t>(i)];
            buffer.assign(static_cast<size_t>(config.destBuffSize) + kCanaryBytes, kCanary);
            std::copy(prefill.begin(), prefill.end(), buffer.begin());
            pointers[static_cast<size_t>(i)] = buffer.data();
            log.outputs.push_back(i);
        }
        log.buffers = &pointers;
        log.failAt = config.failAt;
        layout = {config.channels, config.bytesPerSample, config.channelsPerFile,
                  config.destBuffSize, pointers.data()};
        cursor.DestDataPoint = config.initialFill;
    }

    std::array<Bytes, morvex::kMaxChannels> storage;
    std::array<uint8_t*, morvex::kMaxChannels> pointers{};
    DeinterleaveLayout layout;
    DeinterleaveCursor cursor;
    FlushLog log;
};

// Compares what both sides hold: cursor, flushes and every buffer byte, except the bytes of the
// frame in progress that the copy has not reached yet. Answers false after the first difference,
// so one fault gives one report.
bool SameState(const Config& config, const Side& ref, const Side& fast) {
    const DeinterleaveCursor& a = ref.cursor;
    const DeinterleaveCursor& b = fast.cursor;
    EXPECT_EQ(std::tie(a.SourceDataPoint, a.ChannelPoint, a.SampleOffset, a.DestDataPoint,
                       a.DestTotalBytes),
              std::tie(b.SourceDataPoint, b.ChannelPoint, b.SampleOffset, b.DestDataPoint,
                       b.DestTotalBytes))
        << "cursor: source point, channel point, sample offset, fill level, total bytes";
    EXPECT_EQ(ref.log.entries.size(), fast.log.entries.size());
    EXPECT_TRUE(ref.log.entries == fast.log.entries) << "flushed bytes differ";
    const size_t g = static_cast<size_t>(config.channelsPerFile * config.bytesPerSample);
    for (int i : ref.log.outputs) {
        const Bytes& x = ref.storage[static_cast<size_t>(i)];
        const Bytes& y = fast.storage[static_cast<size_t>(i)];
        size_t reached = static_cast<size_t>(a.DestDataPoint);
        if (i < a.ChannelPoint) {
            reached += g;
        } else if (i == a.ChannelPoint) {
            reached += static_cast<size_t>(a.SampleOffset);
        }
        const size_t frameEnd = static_cast<size_t>(a.DestDataPoint) + g;
        EXPECT_TRUE(
            std::equal(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(reached), y.begin()))
            << "output " << i << " holds other bytes";
        EXPECT_TRUE(std::equal(x.begin() + static_cast<std::ptrdiff_t>(frameEnd), x.end(),
                               y.begin() + static_cast<std::ptrdiff_t>(frameEnd)))
            << "output " << i << " written beyond the frame being filled";
    }
    return !::testing::Test::HasFailure();
}

// Source blocks end right before an unmapped page, so a read past a block's end crashes.
class GuardedBlock {
public:
    explicit GuardedBlock(size_t capacity) {
        const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        m_Guard = (capacity + page - 1) / page * page;
        m_Size = m_Guard + page;
        m_Base = static_cast<uint8_t*>(
            ::mmap(nullptr, m_Size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (m_Base == MAP_FAILED || ::mprotect(m_Base + m_Guard, page, PROT_NONE) != 0) {
            throw std::runtime_error("cannot map a guarded block");
        }
    }
    ~GuardedBlock() { ::munmap(m_Base, m_Size); }
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;

    uint8_t* Place(uint32_t count) { return m_Base + m_Guard - count; }

private:
    uint8_t* m_Base = nullptr;
    size_t m_Guard = 0;
    size_t m_Size = 0;
};

void RunDifferential(const Config& config, std::mt19937& rng) {
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes prefill(static_cast<size_t>(config.initialFill));
    for (uint8_t& v : prefill) {
        v = static_cast<uint8_t>(byte(rng));
    }
    Side ref(config, prefill);
    Side fast(config, prefill);
    size_t largest = 0;
    for (size_t f = 0; f < config.files.size(); ++f) {
        for (uint32_t length : config.files[f]) {
            largest = std::max<size_t>(largest, config.headerBytes[f] + length);
        }
    }
    GuardedBlock guarded(largest);
    for (size_t f = 0; f < config.files.size(); ++f) {
        for (size_t k = 0; k < config.files[f].size(); ++k) {
            const uint32_t start = k == 0 ? config.headerBytes[f] : 0;
            const uint32_t count = start + config.files[f][k];
            uint8_t* block = guarded.Place(count);
            for (uint32_t i = 0; i < count; ++i) {
                block[i] = static_cast<uint8_t>(byte(rng));
            }
            ref.cursor.SourceDataPoint = start;
            fast.cursor.SourceDataPoint = start;
            const bool refOk = ReferenceBlock(ref.layout, ref.cursor, block, count, ref.log);
            const bool fastOk = morvex::DeinterleaveBlock(fast.layout, fast.cursor, block, count,
                                                          &FlushLog::Flush, &fast.log);
            EXPECT_EQ(refOk, fastOk);
            if (!SameState(config, ref, fast)) {
                ADD_FAILURE() << "first difference after block " << k << " of file " << f;
                return;
            }
            if (!refOk) {
                return;
            }
        }
    }
}

Config RandomConfig(std::mt19937& rng) {
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng);
    };
    Config c;
    c.channels = pick(1, 60);
    c.bytesPerSample = pick(1, 4);
    const int type = pick(0, 2);
    c.channelsPerFile = type == 0 ? 1 : type == 2 ? c.channels : (c.channels % 2 == 0 ? 2 : 1);
    const int g = c.channelsPerFile * c.bytesPerSample;
    c.destBuffSize = pick(0, 3) == 0 ? pick(2 * g, 2 * g + 3) : pick(2 * g, 24 * g + 700);
    c.initialFill = std::min(pick(0, 1) == 0 ? 80 : pick(0, 80), c.destBuffSize - g - 1);
    c.failAt = pick(0, 4) == 0 ? pick(0, 4) : -1;
    const int frameBytes = c.channels * c.bytesPerSample;
    const int files = pick(1, 4);
    for (int f = 0; f < files; ++f) {
        c.headerBytes.push_back(static_cast<uint32_t>(pick(0, 1) == 0 ? 44 : pick(0, 120)));
        int left = pick(0, 1) == 0 ? pick(0, 3 * frameBytes) : pick(0, 40000);
        std::vector<uint32_t> blocks;
        do {
            const int length =
                std::min(left, pick(0, 2) == 0 ? pick(0, 2 * frameBytes) : pick(1, 9000));
            blocks.push_back(static_cast<uint32_t>(length));
            left -= length;
        } while (left > 0);
        c.files.push_back(blocks);
    }
    return c;
}

TEST(Deinterleave, MatchesByteWiseCopyForRandomLayoutsBlocksAndFileCuts) {
    for (uint32_t seed = 1; seed <= 600; ++seed) {
        std::mt19937 rng(seed);
        const Config config = RandomConfig(rng);
        SCOPED_TRACE(testing::Message()
                     << "seed " << seed << ": " << config.channels << " channels, "
                     << config.bytesPerSample << " bytes, " << config.channelsPerFile
                     << " per file, buffers " << config.destBuffSize << ", fill "
                     << config.initialFill << ", flush " << config.failAt << " fails");
        RunDifferential(config, rng);
        if (HasFailure()) {
            return;
        }
    }
}

// The worker's own sizes: 4 MiB blocks of a 32-channel 24-bit take, outputs of 128 KiB that fill
// and flush in the middle of blocks, the start file cut inside a frame.
TEST(Deinterleave, MatchesByteWiseCopyWithTheWorkersBufferSizes) {
    std::mt19937 rng(7);
    for (int type = 0; type <= 2; ++type) {
        Config c;
        c.channels = 32;
        c.bytesPerSample = 3;
        c.channelsPerFile = type == 0 ? 1 : type == 1 ? 2 : 32;
        const int perFile = (4194304 / 32) * c.channelsPerFile / 512 * 512;
        c.destBuffSize = std::max(perFile, 131072);
        c.initialFill = 80;
        c.files = {{4194304, 4194304 - 44, 1000001}, {4194304 - 44, 77}};
        c.headerBytes = {44, 44};
        SCOPED_TRACE(testing::Message() << "type " << type);
        RunDifferential(c, rng);
    }
}

} // namespace
