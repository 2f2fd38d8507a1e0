// The engine and file layer; interoperability, faults and whole runs are in hardening and cli.
#include "Deinterleave.h"
#include "MorvexWorker.h"
#include "OutputWriter.h"
#include "SplitHarness.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <sys/mman.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

using namespace morvex;
using namespace harness;
using testtake::SchemeName;
using Fmt = testtake::WavFormat;

namespace {

// Writes a WAV file of `bytes` sample bytes; answers its path.
std::string Wav(const std::string& path, Fmt f, size_t bytes = 8, testtake::WavLayout l = {}) {
    testtake::WriteFile(path, testtake::MakeWav(f, Bytes(bytes, 1), l));
    return path;
}

// A directory some 800 bytes deep, for paths at the 1000-byte limit.
std::string DeepFolder(std::string folder) {
    while (folder.size() < 780) {
        folder += "/" + std::string(200, 'd');
    }
    std::filesystem::create_directories(folder);
    return folder + "/";
}

// The end of `bytes` writable bytes before an unmapped page: reading past it crashes.
uint8_t* GuardedEnd(size_t bytes) {
    const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    const size_t size = (bytes + page - 1) / page * page;
    auto* base = static_cast<uint8_t*>(
        ::mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    EXPECT_TRUE(base != MAP_FAILED && ::mprotect(base + size, page, PROT_NONE) == 0);
    return base + size;
}

struct EngineTest : ::testing::Test {
    TempDir dir;
    CMorvexWorker worker;
};

// One side of the comparison: a buffer per channel, cursor, flushes.
struct Side {
    std::vector<Bytes> buffers;
    uint8_t* pointers[kMaxChannels]{};
    std::vector<Bytes> flushes; // each output's first `fill` bytes, as the file writes see them
    int failAt = 0;             // the flush that fails (or is declined), counted from 1
    DeinterleaveLayout layout;
    DeinterleaveCursor cursor;

    static bool Flush(void* context, int fill) {
        auto* s = static_cast<Side*>(context);
        Bytes& entry = s->flushes.emplace_back();
        for (int i = 0; i < s->layout.SourceChannels; i += s->layout.ChannelsPerDestFile) {
            entry.insert(entry.end(), s->pointers[i], s->pointers[i] + fill);
        }
        return static_cast<int>(s->flushes.size()) != s->failAt;
    }
};

// The copy rule one byte at a time; a failed flush leaves the buffers full for the next call.
bool Reference(Side& s, const uint8_t* source, uint32_t count) {
    const DeinterleaveLayout& l = s.layout;
    DeinterleaveCursor& c = s.cursor;
    const int g = l.ChannelsPerDestFile * l.BytesPerSample;
    const auto flushWhenFull = [&] {
        const bool full = c.DestDataPoint >= l.DestBuffSize - g;
        const bool written = !full || Side::Flush(&s, c.DestDataPoint);
        c.DestDataPoint = full && written ? 0 : c.DestDataPoint;
        return written;
    };
    if (c.ChannelPoint == 0 && c.SampleOffset == 0 && !flushWhenFull()) {
        return false;
    }
    while (c.SourceDataPoint < count) {
        l.DestBuffers[c.ChannelPoint][c.DestDataPoint + c.SampleOffset] =
            source[c.SourceDataPoint++];
        if (++c.SampleOffset < g) {
            continue;
        }
        c.SampleOffset = 0;
        if ((c.ChannelPoint += l.ChannelsPerDestFile) < l.SourceChannels) {
            continue;
        }
        c.ChannelPoint = 0;
        c.DestDataPoint += g;
        c.DestTotalBytes += static_cast<uint64_t>(l.SourceChannels * l.BytesPerSample);
        if (!flushWhenFull()) {
            return false;
        }
    }
    return true;
}

// Same cursor and flushes; same buffers but for the unreached bytes of the frame being filled.
void ExpectSame(const Side& r, const Side& k) {
    EXPECT_EQ(std::memcmp(&r.cursor, &k.cursor, sizeof r.cursor), 0) << "cursor";
    EXPECT_TRUE(r.flushes == k.flushes) << "flushes";
    const DeinterleaveCursor& c = r.cursor;
    const int g = r.layout.ChannelsPerDestFile * r.layout.BytesPerSample, at = c.DestDataPoint;
    for (int i = 0; i < r.layout.SourceChannels; ++i) {
        const int reached = at + (i < c.ChannelPoint) * g + (i == c.ChannelPoint) * c.SampleOffset;
        const auto x = r.buffers[i].begin(), y = k.buffers[i].begin(), end = r.buffers[i].end();
        const auto past = x + std::min<long>(at + g, end - x); // full buffers: nothing filling
        EXPECT_TRUE(std::equal(x, x + reached, y) && std::equal(past, end, y + (past - x))) << i;
    }
}

// Every width, output type and buffer size, failing flushes, blocks cut inside frames at a guard.
TEST(Kernel, MatchesByteWiseReferenceAfterEveryBlock) {
    uint8_t* const end = GuardedEnd(30000);
    for (uint32_t seed = 1; seed <= 600 && !HasFailure(); ++seed) {
        std::mt19937 rng(seed);
        const auto pick = [&](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(rng);
        };
        const auto random = [&] { return static_cast<uint8_t>(rng()); };
        const int n = pick(1, kMaxChannels), b = std::vector{1, 2, 3, 4, 8}[pick(0, 4)];
        const int type = pick(0, 2);
        const int perFile = type == 0 ? 1 : type == 2 ? n : 2 - n % 2, g = perFile * b;
        const int size = pick(2 * g, std::vector{2 * g + 3, 24 * g + 700, 70000}[pick(0, 2)]);
        Bytes prefill(static_cast<size_t>(size) + 16);
        std::generate(prefill.begin(), prefill.end(), random);
        Side sides[2]; // reference, kernel
        for (Side& s : sides) {
            s.buffers.assign(static_cast<size_t>(n), prefill);
            std::transform(s.buffers.begin(), s.buffers.end(), s.pointers,
                           [](Bytes& buffer) { return buffer.data(); });
            s.layout = {n, b, perFile, size, s.pointers};
        }
        sides[0].failAt = sides[1].failAt = pick(0, 4) == 0 ? pick(1, 5) : 0;
        sides[0].cursor.DestDataPoint = sides[1].cursor.DestDataPoint =
            std::min(pick(0, 80), size - g - 1);
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        // Blocks start anywhere behind a header and may be empty.
        int left = pick(0, 1) ? pick(0, 3 * n * b) : pick(0, 200000);
        do {
            const int length = std::min(left, pick(0, 2) ? pick(1, 29000) : pick(0, 2 * n * b));
            left -= length;
            const auto start = static_cast<uint32_t>(pick(0, 2) ? 0 : pick(0, 120));
            const uint32_t count = start + static_cast<uint32_t>(length);
            std::generate(end - count, end, random);
            sides[0].cursor.SourceDataPoint = sides[1].cursor.SourceDataPoint = start;
            for (bool copied = false; !copied && !HasFailure();) {
                copied = Reference(sides[0], end - count, count);
                EXPECT_EQ(DeinterleaveBlock(sides[1].layout, sides[1].cursor, end - count, count,
                                            &Side::Flush, &sides[1]),
                          copied);
                ExpectSame(sides[0], sides[1]);
            }
        } while (left > 0 && !HasFailure());
    }
}

// Two buffer sets take turns; a failed write is told once, with slot and errno, and ends the batch.
TEST_F(EngineTest, OutputWriterTakesTurnsWithTwoSetsAndTellsTheFirstFailure) {
    CTzFileHandler files;
    COutputWriter writer;
    uint32_t refs[COutputWriter::kMaxSlots] = {};
    uint8_t* buffers[COutputWriter::kMaxSlots] = {};
    ASSERT_TRUE(writer.Prepare(4, 2, 64, buffers)); // slots 0 and 2
    const auto path = [&](int slot) { return dir.File("out" + std::to_string(slot)); };
    refs[0] = files.Create(path(0).c_str());
    refs[2] = files.Create(path(2).c_str());
    const auto hand = [&](uint32_t bytes, uint8_t value) {
        std::memset(buffers[0], value, bytes);
        std::memset(buffers[2], value + 1, bytes);
        writer.Hand(refs, buffers, bytes);
        return std::vector<uint8_t*>(buffers, buffers + 3);
    };
    const std::vector<uint8_t*> firstSet(buffers, buffers + 3);
    const std::vector<uint8_t*> secondSet = hand(2, 'a');
    EXPECT_TRUE(secondSet[0] != firstSet[0] && secondSet[2] != firstSet[2] && !secondSet[1]);
    EXPECT_FALSE(writer.Wait().Failed);
    EXPECT_EQ(hand(3, 'k'), firstSet);
    EXPECT_FALSE(writer.Wait().Failed);
    const auto written = [&] {
        return std::pair(testtake::ReadFile(path(0)), testtake::ReadFile(path(2)));
    };
    const auto expected = std::pair(Bytes{'a', 'a', 'k', 'k', 'k'}, Bytes{'b', 'b', 'l', 'l', 'l'});
    EXPECT_EQ(written(), expected);

    files.Close(refs[0]); // read-only now: its writes fail with EBADF
    refs[0] = files.Open(path(0).c_str(), CTzFileHandler::kModeRead);
    hand(1, 'x');
    const COutputWriter::Outcome outcome = writer.Wait();
    EXPECT_EQ(std::tuple(outcome.Failed, outcome.Slot, outcome.Errno), std::tuple(true, 0, EBADF));
    EXPECT_FALSE(writer.Wait().Failed);
    EXPECT_EQ(written(), expected); // nothing written after the failure
    writer.Release();
    files.Close(refs[0]);
    files.Close(refs[2]);
}

// No replaced file, no bare name (the working directory); no directory or FIFO opened (it blocks).
TEST_F(EngineTest, FileHandlerRefusesTakenBareAndIrregularPaths) {
    CTzFileHandler files;
    testtake::WriteFile(dir.File("taken"), Bytes(123, 5));
    EXPECT_EQ(files.Create(dir.File("taken").c_str()), 0U);
    EXPECT_EQ(testtake::ReadFile(dir.File("taken")), Bytes(123, 5));
    EXPECT_EQ(files.Create("morvex-bare.wav"), 0U);
    EXPECT_NE(std::remove("morvex-bare.wav"), 0);
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    for (const std::string& path : {dir.Path(), dir.File("fifo"), dir.File("gone")}) {
        EXPECT_EQ(files.Open(path.c_str(), CTzFileHandler::kModeRead), 0U) << path;
    }
}

TEST_F(EngineTest, TaskCanStartAllDoneAndNamesInUse) {
    EXPECT_EQ(std::tuple(worker.CanStart(0), worker.AllDone(0)), std::tuple(false, true));
    AddTask(worker, 0, Wav(dir.File("a"), Fmt{2, 16}), dir.File("A.WAV"));
    EXPECT_EQ(std::string(worker.GetDestinationBaseFile(0)), dir.File("A"));
    AddTask(worker, 1, Wav(dir.File("b"), Fmt{7, 16}, 28), dir.File("B"));
    std::filesystem::remove(dir.File("b"));
    RunAll(worker, 2);
    ASSERT_EQ(std::tuple(worker.GetEntryState(0), worker.Entry(1).ErrorState),
              std::tuple(kStateDone, kErrorInputRead));
    EXPECT_EQ(std::tuple(worker.CanStart(1), worker.AllDone(1)), std::tuple(false, true));
    // A failed task is tried again by the next run.
    EXPECT_EQ(std::tuple(worker.CanStart(2), worker.AllDone(2)), std::tuple(true, false));

    // A done task's name (".wav" dropped in any case, letter case kept) marks only the task set.
    const std::tuple<std::string, int, int> cases[] = {{"", kTypeMono, kStateNoDestination},
                                                       {"B", kTypePairs, kStateCannotPair},
                                                       {"A.Wav", kTypeMono, kStateFailed},
                                                       {"a", kTypeMono, kStateReady}};
    for (const auto& [name, type, state] : cases) {
        worker.SetDestinationBaseFile(1, name.empty() ? "" : dir.File(name).c_str(), 2);
        worker.SetDestinationType(1, type);
        EXPECT_EQ(std::tuple(worker.GetEntryState(1), worker.Entry(1).ErrorState,
                             worker.CanStart(2), worker.GetEntryState(0)),
                  std::tuple(state, state == kStateFailed ? kErrorNameInUse : 0,
                             state == kStateReady, kStateDone))
            << name;
    }
}

// Counted settings and removals re-check all clashes by the files written; uncounted ones do not.
TEST_F(EngineTest, TaskNameClashesAreRecheckedOnEverySettingAndRemoval) {
    const std::string take = Wav(dir.File("take"), Fmt{2, 16});
    int count = 3;
    const auto name = [&](int index, const char* base, int counted) {
        worker.SetDestinationBaseFile(index, dir.File(base).c_str(), counted);
    };
    const auto marks = [&] {
        std::string shown;
        for (int i = 0; i < count; ++i) {
            shown += worker.Entry(i).ErrorState == kErrorNameInUse ? 'x' : '-';
        }
        return shown + (worker.CanStart(count) ? " start" : "");
    };
    AddTask(worker, kMaxEntries - 1, take, dir.File("Z"));
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(worker.SetStartFile(i, take.c_str()), 0);
        name(i, "A", 0);
    }
    EXPECT_EQ(marks(), "--- start");
    worker.RecheckNameClashes(count);
    EXPECT_EQ(marks(), "-xx");
    name(1, "B", count);
    EXPECT_EQ(marks(), "--x");
    name(0, "C", count);
    EXPECT_EQ(marks(), "--- start");
    name(2, "B.wav", count);
    EXPECT_EQ(marks(), "--x");
    worker.SetDestinationFormat(2, kFormatCaf, count);
    EXPECT_EQ(marks(), "--- start");
    worker.SetDestinationFormat(1, kFormatCaf, count);
    EXPECT_EQ(marks(), "-x-");
    // Removal moves the later tasks down, empties the last and ignores indices out of the table.
    EXPECT_EQ(worker.DeleteEntry(1) + worker.DeleteEntry(kMaxEntries) + worker.DeleteEntry(-1), 1);
    worker.RecheckNameClashes(--count);
    EXPECT_EQ(std::tuple(marks(), std::string(worker.GetDestinationBaseFile(1)),
                         std::string(worker.GetDestinationBaseFile(kMaxEntries - 2))),
              std::tuple("-- start", dir.File("B"), dir.File("Z")));
    const auto fresh = std::make_unique<CMorvexWorker>();
    EXPECT_EQ(std::memcmp(&worker.Entry(kMaxEntries - 1), &fresh->Entry(0), sizeof(SplitEntryInfo)),
              0);

    // A done task marks the earlier one and stays done.
    RunAll(worker, count);
    name(0, "B", 0);
    worker.SetDestinationFormat(0, kFormatCaf);
    worker.RecheckNameClashes(count);
    EXPECT_EQ(std::tuple(marks(), worker.GetEntryState(1)), std::tuple("x-", kStateDone));
}

// Only the 16 bytes of the format record are compared, and the extensible sub-format.
TEST_F(EngineTest, TakeFollowersEndAtAGapOrAFileOfOtherFormatAndAtAHundredFiles) {
    for (int k : {7, 8, 9, 11}) {
        Wav(dir.File(SchemeName(3, k)), Fmt{4, 24}, 12u * k, {.fmtExtraBytes = k == 8 ? 2U : 0U});
    }
    char name[kMaxPathBytes];
    ASSERT_EQ(worker.SetStartFile(0, dir.File("MKZ03_07.WAV").c_str()), 0);
    const SplitEntryInfo& task = worker.Entry(0);
    EXPECT_EQ(std::tuple(task.MainNumb, task.StartSubNumb, task.SubCount, task.BytesTotal),
              std::tuple(3, 7, 3, int64_t{24 * 12}));
    Wav(dir.File("MKZ03_09.WAV"), Fmt{4, 24, 48000, 1}, 12); // a field nothing else reads
    ASSERT_EQ(worker.SetStartFile(1, dir.File("MKZ03_07.WAV").c_str()), 0);
    EXPECT_EQ(worker.Entry(1).SubCount, 2);
    Wav(dir.File("MKZ05_01.WAV"), Fmt{.bitsPerSample = 32, .extensible = true}, 800);
    Wav(dir.File("MKZ05_02.WAV"), Fmt{.bitsPerSample = 32, .formatTag = 3, .extensible = true}, 80);
    ASSERT_EQ(worker.SetStartFile(2, dir.File("MKZ05_01.WAV").c_str()), 0);
    ASSERT_EQ(worker.SetStartFile(3, dir.File("MKZ05_02.WAV").c_str()), 0);
    worker.GetInfoStrings(3, kInfoFormat, name);
    EXPECT_EQ(std::tuple(worker.Entry(2).SubCount, std::string(name)),
              std::tuple(1, "2 channels, 48000 Hz, 32-bit float"));

    for (int k = 0; k <= 100; ++k) {
        Wav(dir.File(SchemeName(1, k)), Fmt{1, 8});
    }
    ASSERT_EQ(worker.SetStartFile(0, dir.File(SchemeName(1, 0)).c_str()), 0);
    ASSERT_EQ(worker.SetStartFile(1, dir.File(SchemeName(1, 98)).c_str()), 0);
    EXPECT_TRUE(worker.GetSourceEndName(1, 2, name));
    EXPECT_EQ(std::tuple(worker.Entry(0).SubCount, worker.Entry(1).SubCount, std::string(name)),
              std::tuple(100, 3, "MKZ01_100.WAV"));
}

TEST_F(EngineTest, TakeStartFileCodesAndAHeaderSearchWithinItsBytes) {
    EXPECT_EQ(worker.SetStartFile(0, Wav(dir.File("f"), Fmt{2, 16}, 0).c_str()),
              kErrorInputTooSmall);
    // No channels, no rate, 96 channels, 8-bit float, ADPCM plain and extensible, 28 valid bits.
    const Fmt incompatible[] = {Fmt{0, 16},
                                Fmt{2, 16, 0},
                                Fmt{96, 16},
                                Fmt{.channels = 1, .bitsPerSample = 8, .formatTag = 3},
                                Fmt{.bitsPerSample = 4, .formatTag = 2},
                                Fmt{.formatTag = 2, .extensible = true},
                                Fmt{.bitsPerSample = 24, .extensible = true, .validBits = 28}};
    for (const Fmt& format : incompatible) {
        EXPECT_EQ(worker.SetStartFile(0, Wav(dir.File("f"), format, 96).c_str()),
                  kErrorIncompatibleWav)
            << format.channels << " " << format.bitsPerSample << " " << format.formatTag;
    }
    EXPECT_EQ(worker.SetStartFile(0, dir.Path().c_str()), kErrorOpenInput);
    EXPECT_EQ(worker.SetStartFile(30, dir.File("f").c_str()), kErrorTableFull);
    // 1000 bytes do not fit with the terminator: refused, never cut to 999.
    const std::string deep = DeepFolder(dir.Path()),
                      path = deep + std::string(1000 - deep.size(), 'e');
    EXPECT_EQ(worker.SetStartFile(1, Wav(path.substr(0, 999), Fmt{2, 16}).c_str()), 0);
    EXPECT_EQ(worker.SetStartFile(1, Wav(path, Fmt{2, 16}).c_str()), kErrorOpenInput);

    uint8_t* const end = GuardedEnd(64);
    const Bytes header = testtake::MakeWav(Fmt{2, 16}, {});
    for (unsigned size = 0, offset = 0; size <= 44; ++size) {
        std::copy_n(header.begin(), size, end - size);
        EXPECT_EQ(worker.AnalyseWaveHeader(end - size, size, &offset, 0, 0), size == 44) << size;
        EXPECT_EQ(offset, size == 44 ? 44U : 0U) << size;
    }
}

// Each take's files declare the given data sizes and are that long (sparse).
TEST_F(EngineTest, InfoTimeAndSizeTexts) {
    const auto text = [&](int index, int kind) {
        char out[kInfoTextBytes] = "-";
        worker.GetInfoStrings(index, kind, out);
        return std::string(out);
    };
    // 360000.9999 s are 100 h; 2^31 s do not fit; both sides of the RF64 limit.
    const std::tuple<Fmt, std::vector<uint32_t>, int, std::string> cases[] = {
        {Fmt{1, 8, 8000}, {2880007999U}, kTypeMono, "100:00:00|2.68 GB per file (RF64), 2.68"},
        {Fmt{1, 8, 1}, {2147483647U, 1}, kTypeMono, "--:--:--|2.00 GB per file (RF64), 2.00"},
        {Fmt{2, 16}, {2147483567U}, kTypeAll, "03:06:24|2.00 GB per file, 2.00"},
        {Fmt{2, 16}, {2147483568U}, kTypeAll, "03:06:24|2.00 GB per file (RF64), 2.00"}};
    for (int i = 0; i < 4; ++i) {
        const auto& [format, sizes, type, expected] = cases[i];
        for (size_t k = 0; k < sizes.size(); ++k) {
            const std::string path = Wav(dir.File(SchemeName(i, static_cast<int>(k) + 1)), format,
                                         8, {.dataSize = sizes[k]});
            std::filesystem::resize_file(path, 44 + uint64_t{sizes[k]});
        }
        AddTask(worker, i, dir.File(SchemeName(i, 1)), dir.File(std::to_string(i)), type);
        EXPECT_EQ(text(i, kInfoTime) + "|" + text(i, kInfoSizes), expected + " GB total") << i;
    }
    // An empty record has no channels and no rate.
    EXPECT_EQ(text(29, kInfoTime) + "|" + text(29, kInfoSizes),
              "--:--:--|0.00 GB per file, 0.00 GB total");
    EXPECT_EQ(text(30, 0) + text(-1, 0) + text(0, 4) + text(0, -1), "");
}

TEST_F(EngineTest, ConversionStepsContainersAndFramesCutAcrossFiles) {
    EXPECT_EQ(worker.ConversionStep(), kConvIdle);
    const Take twelve = WriteTake(dir.Path(), 0, 3, 12, 100, {181, 425}, 5);
    AddTask(worker, 0, twelve.Paths[0], dir.File("mono"), kTypeMono, kFormatWav);
    AddTask(worker, 1, twelve.Paths[0], dir.File("all"), kTypeAll, kFormatCaf);
    // A finishing step answers 4 again while the outputs sync: counted once.
    std::vector<int> answers = RunAll(worker, 2);
    answers.erase(std::unique(answers.begin(), answers.end(),
                              [](int a, int b) { return a == kConvFinishTask && a == b; }),
                  answers.end());
    EXPECT_EQ(answers, (std::vector<int>{1, 3, 3, 3, 4, 5, 1, 3, 3, 3, 4, 5, 6}));
    EXPECT_EQ(RunAll(worker, 2), std::vector<int>{kConvRunOver}); // done tasks are skipped
    ExpectMono(dir.File("mono"), twelve, 100);
    EXPECT_TRUE(Holds(dir.File("all_01.caf"), twelve, 0, 3, 100));
    EXPECT_EQ(ListDir(dir.Path()).size(), 3U + 4U);
}

// Refused before the take is opened or an output made; "_01.wav" must fit the 1000 bytes too.
TEST_F(EngineTest, ConversionTasksRefusedAtTheStartCreateNothing) {
    const std::string deep = DeepFolder(dir.File("out")), refused = dir.File("refused"),
                      fits = deep + std::string(992 - deep.size(), 'n');
    const std::tuple<std::string, int, int, uint16_t> tasks[] = {
        {dir.File("pairs"), kTypePairs, kFormatWav, 3},
        {dir.File("format"), kTypeMono, 2, 2},
        {"", kTypeMono, kFormatWav, 2},
        {fits + "l", kTypeMono, kFormatWav, 1},
        {fits, kTypeMono, kFormatWav, 1}};
    std::filesystem::create_directory(refused);
    for (int i = 0; i < 5; ++i) {
        const auto& [base, type, format, n] = tasks[i];
        AddTask(worker, i, WriteTake(i < 4 ? refused : dir.Path(), i, n, 16, 10).Paths[0], base,
                type, format);
    }
    std::filesystem::remove_all(refused); // a refused task never opens its take
    RunAll(worker, 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(worker.Entry(i).ErrorState, i == 4 ? kErrorNone : kErrorOutputCreate) << i;
    }
    EXPECT_EQ(ListDir(dir.Path()), (std::vector<std::string>{"MKZ04_01.WAV", "out"}));
    EXPECT_EQ(ListDir(deep), std::vector<std::string>{fits.substr(deep.size()) + "_01.wav"});
}

// A follower cut before its data chunk, while the buffer still holds the start file's "data".
TEST_F(EngineTest, ConversionFollowerHeaderIsNeverFoundInAnEarlierBlock) {
    Bytes stream = testtake::PatternSamples(300, 4, 2);
    std::copy_n("data", 4, stream.begin() + 4);
    const auto files = testtake::WriteTake(dir.Path(), 0, 1, Fmt{4, 16}, stream, {1000});
    AddTask(worker, 0, files[0], dir.File("out"));
    Bytes cut = testtake::ReadFile(files[1]);
    cut.resize(36);
    cut.resize(46, 'x');
    testtake::WriteFile(files[1], cut);
    RunAll(worker, 1);
    EXPECT_EQ(std::tuple(worker.Entry(0).ErrorState, ListDir(dir.Path()).size()),
              std::tuple(kErrorFollowerFormat, 2U));
}

// Selected channels alone, named by source channel, paired as selected, progress to 1; frames cut
// across files and at the 4 MiB block's edge (18-byte frames, 4.3 MB in the last file). Silence
// (0, +-0.0 float, 0x80 8-bit WAV) goes, a pair only all silent, one of all channels never.
TEST_F(EngineTest, ConversionConvertsTheSelectedChannelsAndDeletesSilentOutputs) {
    const Bytes zero(2), noughts{0, 0, 0, 0x80, 0, 0, 0, 0}, minusZero{0, 0, 0, 0x80}, eight{0x80};
    const std::string d = dir.Path();
    const Take takes[] = {
        WriteSilentTake(d, 0, Fmt{6, 24}, 240000, {25, 100003}, {}),
        WriteSilentTake(d, 1, Fmt{6, 16}, 2000, {777}, {{}, zero, zero, zero, {}, zero}, 3),
        WriteSilentTake(d, 2, Fmt{.channels = 3, .bitsPerSample = 32, .formatTag = 3}, 300, {401},
                        {noughts, minusZero}),
        WriteSilentTake(d, 3, Fmt{2, 8}, 500, {99}, {eight, eight}, 1)};
    using Outputs = std::vector<std::pair<std::string, std::vector<int>>>;
    // Take, type, format, selection, skip silent outputs, channels skipped, outputs.
    const std::tuple<int, int, int, uint64_t, bool, uint64_t, Outputs> cases[] = {
        {0, kTypeMono, kFormatWav, 0b010110, false, 0, {{"_02", {1}}, {"_03", {2}}, {"_05", {4}}}},
        {0, kTypePairs, kFormatWav, 0b101101, false, 0, {{"_01", {0, 2}}, {"_04", {3, 5}}}},
        {0, kTypeAll, kFormatWav, 0b101110, false, 0, {{"_02", {1, 2, 3, 5}}}},
        {1, kTypeMono, kFormatWav, 0b101111, true, 0b100110, {{"_01", {0}}, {"_04", {3}}}},
        {1, kTypePairs, kFormatWav, 0b101110, true, 0b000110, {{"_04", {3, 5}}}},
        {1, kTypeAll, kFormatWav, 0b100110, true, 0, {{"_02", {1, 2, 5}}}},
        {2, kTypeMono, kFormatWav, 0, true, 0b011, {{"_03", {2}}}},
        {2, kTypeAll, kFormatWav, 0b101, false, 0, {{"_01", {0, 2}}}},
        {3, kTypeMono, kFormatWav, 0, true, 0b01, {{"_02", {1}}}},
        {3, kTypeMono, kFormatCaf, 0, true, 0b01, {{"_02", {1}}}}};
    for (int i = 0; i < 10; ++i) {
        const auto& [take, type, format, selection, skip, skipped, outputs] = cases[i];
        std::filesystem::create_directory(dir.File(std::to_string(i)));
        AddTask(worker, i, takes[take].Paths[0], dir.File(std::to_string(i) + "/t"), type, format);
        ASSERT_TRUE(worker.SetChannelSelection(i, selection));
        worker.SetSkipSilent(i, skip);
    }
    double most[kMaxEntries] = {};
    worker.StartConversion(10);
    for (int state = 0, entry = 0; state != kConvRunOver;) {
        double fraction = 0;
        state = worker.ConversionStep();
        worker.GetConversionInfo(&fraction, &entry); // at a task's first answer: the one before's
        most[entry % kMaxEntries] =
            state == kConvStartTask ? 0 : std::max(most[entry % kMaxEntries], fraction);
    }
    for (int i = 0; i < 10; ++i) {
        const auto& [take, type, format, selection, skip, skipped, outputs] = cases[i];
        std::vector<std::string> names;
        for (const auto& [suffix, channels] : outputs) {
            names.push_back("t" + suffix + (format == kFormatCaf ? ".caf" : ".wav"));
            const std::string path = dir.File(std::to_string(i) + "/" + names.back());
            EXPECT_TRUE(Holds(path, takes[take], channels, takes[take].Frames()));
        }
        EXPECT_EQ(ListDir(dir.File(std::to_string(i))), names) << i;
        EXPECT_EQ(std::tuple(worker.Entry(i).ErrorState, worker.Entry(i).SkippedChannels, most[i]),
                  std::tuple(kErrorNone, skipped, 1.0))
            << i;
    }
}

} // namespace
