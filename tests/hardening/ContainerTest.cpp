// WAV with its audio far behind other chunks, RF64, BW64, Wave64, plain WAV past 4 GiB: each
// splits exactly or is refused with its reason, reading no more of the file than chunk headers.
#include "MorvexWorker.h"
#include "SplitHarness.h"
#include "WaveHeader.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <unistd.h>

using namespace harness;
using namespace morvex;

namespace {

using testtake::Cat;
using testtake::Le;

const auto Tag = [](const char* tag) { return Bytes(tag, tag + 4); };

Bytes EmptyChunks(int count) {
    Bytes out;
    for (int i = 0; i < count; ++i) {
        out = Cat({out, testtake::Chunk("JUNK", {})});
    }
    return out;
}

// The "fmt " chunk as the take writer makes it for `format`.
Bytes FmtChunk(const testtake::WavFormat& format) {
    const Bytes wav = testtake::MakeWav(format, {});
    return Bytes(wav.begin() + 12, wav.begin() + 20 + static_cast<long>(Field(wav, 16, 4)));
}

// A RIFF-style file: form id, size (RF64/BW64: "unknown"), "WAVE", chunks; a data chunk of
// `dataSize` (default: its body's) last but for `after`.
Bytes Riff(const char* form, const Bytes& chunks, const Bytes& data,
           std::optional<uint32_t> dataSize = {}, const Bytes& after = {}) {
    const Bytes body = Cat({Tag("WAVE"), chunks, Tag("data"), Le(dataSize.value_or(data.size()), 4),
                            data, Bytes(data.size() % 2, 0), after});
    const bool rf64 = std::string(form) != "RIFF";
    return Cat({Tag(form), Le(rf64 ? 0xFFFFFFFFU : body.size(), 4), body});
}

Bytes Ds64(uint64_t riffBytes, uint64_t dataBytes, uint64_t frames) {
    return Cat(
        {Tag("ds64"), Le(28, 4), Le(riffBytes, 8), Le(dataBytes, 8), Le(frames, 8), Le(0, 4)});
}

// Wave64: GUID ids (the tag, then the tail libsndfile and ffmpeg write), 64-bit sizes that count
// the 24-byte header, chunks 8-byte aligned.
const Bytes kGuidTail{0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
Bytes W64Chunk(const char* tag, const Bytes& body, std::optional<uint64_t> size = {}) {
    return Cat({Tag(tag), kGuidTail, Le(size.value_or(24 + body.size()), 8), body,
                Bytes((8 - body.size() % 8) % 8, 0)});
}
Bytes W64(const Bytes& chunks, const char* form = "wave") {
    const Bytes riff{0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
    return Cat({Tag("riff"), riff, Le(40 + chunks.size(), 8), Tag(form), kGuidTail, chunks});
}

// Splits the take of `start` (of `files` files) into one output per channel, each exactly its
// channel of the take, by bytes and as libsndfile reads it.
void SplitsExactly(const std::string& start, int files, const Take& take) {
    CMorvexWorker worker;
    AddTask(worker, 0, start, start + "_");
    EXPECT_EQ(worker.Entry(0).SubCount, files) << start;
    RunAll(worker, 1);
    EXPECT_TRUE(worker.Entry(0).fConversionDone) << start;
    ExpectMono(start + "_", take, take.Frames());
}

// Files as other programs write them, from a take of 1001 frames of 3 channels of 24 bits (ffmpeg
// pads a Wave64 data chunk to 8 bytes and counts the pad: a frame cut short, in no output).
TEST(Containers, WrittenByTheirWritersSplitExactly) {
    TempDir dir;
    const Take take{{3, 24}, testtake::PatternSamples(1001, 3, 3, 7), {}};
    const std::string plain = dir.File("plain.wav");
    testtake::WriteFile(plain, testtake::MakeWav(take.Format, take.Stream));
    const std::string ffmpeg = "ffmpeg -nostdin -v error -i " + plain + " -c:a pcm_s24le ";
    const std::pair<std::string, std::string> written[] = {
        {"ffmpeg.wav", ffmpeg + "-rf64 always "},
        {"ffmpeg.w64", ffmpeg + "-f w64 "},
        {"sndfile.rf64", "sndfile-convert " + plain + " "},
        {"sndfile.w64", "sndfile-convert " + plain + " "}};
    for (const auto& [name, command] : written) {
        ASSERT_EQ(std::system((command + dir.File(name)).c_str()), 0) << command;
        SplitsExactly(dir.File(name), 1, take);
    }
    // Ambisonic B-format as libsndfile writes it: read as plain samples.
    const Take ambisonic{{4, 16}, testtake::PatternSamples(100, 4, 2, 5), {}};
    const std::string path = dir.File("ambisonic.wav");
    SF_INFO info{0, 48000, 4, SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* sound = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_EQ(sf_command(sound, SFC_WAVEX_SET_AMBISONIC, nullptr, SF_AMBISONIC_B_FORMAT),
              SF_AMBISONIC_B_FORMAT);
    sf_write_raw(sound, ambisonic.Stream.data(), static_cast<sf_count_t>(ambisonic.Stream.size()));
    sf_close(sound);
    SplitsExactly(path, 1, ambisonic);
}

// Recorder and DAW layouts, RF64/BW64/Wave64 as their standards lay them out: each as the start
// file and as a follower of a take cut inside a frame.
TEST(Containers, LayoutsAsStartFileAndFollower) {
    const testtake::WavFormat format{2, 24};
    const Bytes fmt = FmtChunk(format);
    // Chunks of the size recorders write; their tags not the metadata outputs carry.
    const Bytes bext = testtake::Chunk("levl", Bytes(601, 'b')); // odd: a pad byte follows
    using Layout = std::function<Bytes(const Bytes& data)>;
    const std::tuple<const char*, uint64_t, Layout> layouts[] = {
        {"levl, _PMX of 12 KB, fmt, PAD: audio at 128 KiB", 131072,
         [&](const Bytes& data) {
             const Bytes head = Cat({bext, testtake::Chunk("_PMX", Bytes(12288, '<')), fmt});
             return Riff("RIFF",
                         Cat({head, testtake::Chunk("PAD ", Bytes(131072 - 28 - head.size(), 0))}),
                         data);
         }},
        {"fmt after LIST and levl, a chunk after the audio", 12 + 8 + 100 + 610 + 24 + 8,
         [&](const Bytes& data) {
             return Riff("RIFF", Cat({testtake::Chunk("LIST", Bytes(99, 'i')), bext, fmt}), data,
                         {}, testtake::Chunk("_PMX", Bytes(9, '<')));
         }},
        {"audio behind the first 4 MiB read", (5 << 20) + 44,
         [&](const Bytes& data) {
             return Riff("RIFF", Cat({testtake::Chunk("JUNK", Bytes((5 << 20) - 8, 0)), fmt}),
                         data);
         }},
        {"999 chunks before fmt: as many as may precede the audio", 12 + 999 * 8 + 24 + 8,
         [&](const Bytes& data) {
             return Riff("RIFF", Cat({EmptyChunks(kMaxChunksBeforeData - 1), fmt}), data);
         }},
        {"RF64", 80,
         [&](const Bytes& data) {
             return Riff("RF64", Cat({Ds64(data.size() + 100, data.size(), 0), fmt}), data,
                         0xFFFFFFFFU, testtake::Chunk("axml", Bytes(4, 'x')));
         }},
        {"BW64 unfinished: ds64 data size 0", 80,
         [&](const Bytes& data) {
             return Riff("BW64", Cat({Ds64(0, 0, 0), fmt}), data, 0xFFFFFFFFU);
         }},
        {"Wave64", 40 + 40 + 40 + 24, [&](const Bytes& data) {
             return W64(Cat({W64Chunk("levl", Bytes(13, 1)),
                             W64Chunk("fmt ", Bytes(fmt.begin() + 8, fmt.end())),
                             W64Chunk("data", data), W64Chunk("summ", Bytes(5, 2))}));
         }}};
    for (const auto& [what, offset, layout] : layouts) {
        SCOPED_TRACE(what);
        TempDir dir;
        Take take{format, testtake::PatternSamples(1000, 2, 3, 3), {}};
        const size_t cut = 6 * 401 + 4;
        for (int k = 0; k < 2; ++k) {
            take.Paths.push_back(dir.File(testtake::SchemeName(1, k + 1)));
            testtake::WriteFile(take.Paths[k],
                                layout(Bytes(take.Stream.begin() + (k ? cut : 0),
                                             k ? take.Stream.end() : take.Stream.begin() + cut)));
        }
        const Bytes first = testtake::ReadFile(take.Paths[0]);
        WaveHeader header;
        EXPECT_EQ(ParseWaveHeader(first.data(), static_cast<uint32_t>(first.size()), header),
                  HeaderFault::None);
        EXPECT_EQ(header.DataOffset, offset);
        SplitsExactly(take.Paths[0], 2, take);
    }
}

// Headers that cannot be walked are refused, with the reason.
TEST(Containers, BrokenHeadersAreRefusedWithTheirReason) {
    const testtake::WavFormat format{2, 16};
    const Bytes fmt = FmtChunk(format), data(40, 1), fmtBody(fmt.begin() + 8, fmt.end());
    const std::pair<Bytes, std::string> cases[] = {
        {Riff("RIFF", Cat({fmt, Tag("LIST"), Le(1000, 4)}), data),
         "its chunk \"LIST\" at byte 36 (1000 bytes) runs past the end of the file"},
        {Riff("RF64", fmt, data, 0xFFFFFFFFU),
         "its RF64 data size is in a ds64 chunk, and it has none"},
        {Riff("RF64", Cat({testtake::Chunk("ds64", Bytes(16, 0)), fmt}), data, 0xFFFFFFFFU),
         "its ds64 chunk is shorter than 24 bytes"},
        {Riff("BW64", Cat({Ds64(100, 5000, 0), fmt}), data, 0xFFFFFFFFU),
         "its ds64 chunk gives more bytes of audio than of file"},
        {W64(Cat({W64Chunk("fmt ", fmtBody), W64Chunk("data", data)}), "wavX"),
         "its Wave64 header lacks the \"wave\" GUID"},
        {W64(Cat({W64Chunk("fmt ", fmtBody), W64Chunk("junk", {}, 16), W64Chunk("data", data)})),
         "its Wave64 chunk at byte 80 is smaller than its own header"},
        // A 64-bit size that wraps the position around past 2^64.
        {W64(Cat(
             {W64Chunk("fmt ", fmtBody), W64Chunk("junk", {}, ~0ULL - 8), W64Chunk("data", data)})),
         "(18446744073709551583 bytes) runs past the end of the file"},
        {Riff("RIFF", testtake::Chunk("LIST", Bytes(30, 0)), data),
         "no \"fmt \" chunk before its audio"},
        {Riff("RIFF", Cat({EmptyChunks(kMaxChunksBeforeData), fmt}), data),
         "more than 1000 chunks before its audio"},
        {testtake::MakeWav({2, 24, 48000, 0, 8}, Bytes(48, 1)), "block align 8"}};
    TempDir dir;
    CMorvexWorker worker;
    for (const auto& [bytes, reason] : cases) {
        testtake::WriteFile(dir.File("f.wav"), bytes);
        EXPECT_EQ(worker.SetStartFile(0, dir.File("f.wav").c_str()), kErrorIncompatibleWav)
            << reason;
        char text[kNoteTextBytes] = "";
        worker.GetAddFailureDetail(text);
        EXPECT_TRUE(Says(text, reason));
    }
}

// Sparse files past 4 GiB, seen by -i and --json: lengths from ds64, from wrapped sizes restored
// by the file's end (or by where the chunks after the audio start), and from "unknown" sizes.
TEST(Containers, SizesPast4GiBInInfoAndJson) {
    const Bytes fmt = FmtChunk({2, 16});
    const uint64_t big = 4500000000ULL, rf64 = 5ULL << 30;
    const auto wav = [&](uint32_t size) { return Riff("RIFF", fmt, {}, size); };
    const Bytes ds64 = Cat({Ds64(rf64 + 72, rf64, rf64 / 4), fmt});
    // The header up to the audio, bytes of audio behind it, what ends the file, whether wrapped.
    const std::tuple<Bytes, uint64_t, Bytes, bool> cases[] = {
        {Riff("RF64", ds64, {}, 0xFFFFFFFFU), rf64, {}, false},
        {wav(static_cast<uint32_t>(big)), big, {}, true},
        {wav(static_cast<uint32_t>(big)), big, testtake::Chunk("LIST", Bytes(26, 'l')), true},
        {wav(0xFFFFFFFFU), big, {}, false},
        // Right as declared: the chunk behind it ends where the size plus 2^32 would end.
        {wav(1000), 1000, Cat({Tag("JUNK"), Le(0xFFFFFFF8U, 4)}), false}};
    for (const auto& [header, audio, after, wrapped] : cases) {
        TempDir dir;
        const std::string path = dir.File("big.wav");
        testtake::WriteFile(path, header);
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(header.size() + audio)), 0);
        std::ofstream(path, std::ios::app)
            .write(reinterpret_cast<const char*>(after.data()),
                   static_cast<std::streamsize>(after.size()));
        const uint64_t length =
            header.size() + audio + after.size() + (after.size() == 8 ? 0xFFFFFFF8U : 0);
        ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(length)), 0);
        const nlohmann::json task =
            nlohmann::json::parse(RunSplit({"-i", "--json", path, dir.File("o")}).Out);
        EXPECT_EQ(task["frames"], audio / 4) << task;
        EXPECT_EQ(task["warning"].is_string() &&
                      Says(task["warning"].get<std::string>(), "wrapped around past 4 GiB"),
                  wrapped)
            << task;
        EXPECT_EQ(Says(RunSplit({"-i", path, dir.File("o")}).Out, ", RF64, 16 bit"),
                  header[1] == 'F');
    }
}

} // namespace

// Wave64 bext (by the GUID libsndfile gives it) and iXML are found before the audio and after it.
TEST(Containers, Wave64MetadataChunksAreFound) {
    const Bytes bextGuid{0xF3, 0xAC, 0xD3, 0xAA, 0xD1, 0x8C, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
    const Bytes fmt = FmtChunk({}),
                w64 = W64(Cat({W64Chunk("fmt ", Bytes(fmt.begin() + 8, fmt.end())), Tag("bext"),
                               bextGuid, Le(40, 8), Bytes(16, 0), W64Chunk("data", Bytes(64, 1)),
                               W64Chunk("iXML", Bytes(5, 'x'))}));
    WaveHeader header;
    ASSERT_EQ(ParseWaveHeader(w64.data(), static_cast<uint32_t>(w64.size()), header),
              HeaderFault::None);
    EXPECT_TRUE(header.Bext.Offset == 40 + 40 + 24 && header.Bext.Bytes == 16);
    EXPECT_TRUE(header.Ixml.Offset == 40 + 40 + 40 + 24 + 64 + 24 && header.Ixml.Bytes == 5);
}
