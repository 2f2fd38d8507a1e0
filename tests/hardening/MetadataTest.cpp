// A take's bext, iXML and speaker positions in its outputs, as libsndfile, ffprobe and Qt's XML
// reader (none of them sharing our code) see them.
#include "OutputHeaders.h"
#include "SplitHarness.h"

#include <QXmlStreamReader>

#include <cstring>

using namespace harness;
using namespace morvex;
using testtake::Bytes;
using testtake::Cat;

namespace {

// libsndfile's broadcast info: "originator|time reference|coding history", or "none".
std::string Bext(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    SF_BROADCAST_INFO b{};
    const bool got = sf_command(file, SFC_GET_BROADCAST_INFO, &b, sizeof b) == SF_TRUE;
    sf_close(file);
    const uint64_t time = b.time_reference_low + (uint64_t{b.time_reference_high} << 32);
    return got ? std::string(b.originator, strnlen(b.originator, 32)) + "|" + std::to_string(time) +
                     "|" + b.coding_history
               : "none";
}

// ffprobe's channel layout and format tags time_reference and encoded_by (the originator).
std::string Probe(const std::string& path) {
    return Run("ffprobe -v error -of csv=p=0 -show_entries stream=channel_layout:format_tags="
               "time_reference,encoded_by '" +
               path + "'");
}

// The iXML chunk's texts as Qt reads them, each followed by ':', and '|' after each TRACK.
std::string TrackList(const std::string& path) {
    const Bytes file = testtake::ReadFile(path);
    size_t at = 12;
    for (; at + 8 <= file.size() && !TagAt(file, at, "iXML"); at += 8 + Field(file, at + 4, 4)) {
    }
    QXmlStreamReader xml(QByteArray(reinterpret_cast<const char*>(file.data()) + at + 8,
                                    at + 8 < file.size() ? Field(file, at + 4, 4) : 0));
    std::string out;
    while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
        out += xml.isCharacters() && !xml.isWhitespace() ? xml.text().toString().toStdString() + ":"
               : xml.isEndElement() && xml.name() == u"TRACK" ? "|"
                                                              : "";
    }
    return xml.hasError() && at + 8 < file.size() ? "error" : out;
}

} // namespace

// A take of three files cut inside frames, each with its own chunks (the second's bext after its
// audio): a task takes its start file's. Tracks by interleave index, else by channel index.
TEST(Metadata, TakeOfThreeFilesCarriesItsStartFilesChunks) {
    TempDir in, out;
    const Bytes stream = testtake::PatternSamples(600, 4, 2);
    const size_t cuts[] = {0, 1203, 2403, stream.size()}; // later files' first 5 bytes end a frame
    const testtake::WavLayout layouts[] = {
        {.chunksBeforeData = Cat(
             {BextChunk("Recorder One", 1000, "A=ANALOG"),
              IxmlChunk("S1", {Track(1, 1, "Kick"), Track(2, 0, "Snare"), Track(9, 3, "Vox")})})},
        {.chunksBeforeData = IxmlChunk("S2", {Track(1, 1, "Kick2"), Track(2, 2, "Bass"),
                                              Track(3, 3, "Vox2"), Track(4, 4, "Gtr")}),
         .trailingBytes = BextChunk("Recorder Two", 5000, "A=PCM\r\n")},
        {.chunksBeforeData = IxmlChunk("", {})}};
    CMorvexWorker worker;
    for (int k = 0; k < 3; ++k) {
        testtake::WriteFile(in.File(testtake::SchemeName(1, k + 1)),
                            testtake::MakeWav({.channels = 4},
                                              Bytes(&stream[cuts[k]], &stream[0] + cuts[k + 1]),
                                              layouts[k]));
    }
    AddTask(worker, 0, in.File("MKZ01_01.WAV"), out.File("m"), kTypeMono);
    AddTask(worker, 1, in.File("MKZ01_01.WAV"), out.File("p"), kTypePairs);
    AddTask(worker, 2, in.File("MKZ01_02.WAV"), out.File("a"), kTypeAll);
    AddTask(worker, 3, in.File("MKZ01_03.WAV"), out.File("x"), kTypeMono);
    char warning[kNoteTextBytes];
    EXPECT_TRUE(worker.GetTakeWarning(3, warning));
    EXPECT_STREQ(warning, "MKZ01_03.WAV: its iXML chunk does not parse; the outputs carry none.");
    RunAll(worker, 4);
    const std::string one = "Recorder One|1000|A=ANALOG\r\nA=PCM,F=48000,W=16,M=";
    const std::string line = ",T=Morvex " MORVEX_VERSION "\r\n";
    const std::tuple<const char*, std::string, std::string, size_t, int, int> outputs[] = {
        {"m_01.wav", one + "mono" + line, "S1:1:1:1:Kick:|", 0, 0, 1},
        {"m_02.wav", one + "mono" + line, "S1:1:2:1:Snare:|", 0, 1, 1},
        {"m_03.wav", one + "mono" + line, "S1:1:9:1:Vox:|", 0, 2, 1},
        {"m_04.wav", one + "mono" + line, "S1:0:", 0, 3, 1},
        {"p_01.wav", one + "stereo" + line, "S1:2:1:1:Kick:|2:2:Snare:|", 0, 0, 2},
        {"p_03.wav", one + "stereo" + line, "S1:1:9:1:Vox:|", 0, 2, 2},
        {"a_01.wav", "Recorder Two|5001|A=PCM\r\nA=PCM,F=48000,W=16,M=multitrack" + line,
         "S2:4:1:1:Kick2:|2:2:Bass:|3:3:Vox2:|4:4:Gtr:|", 1208, 0, 4},
        {"x_01.wav", "none", "", 2408, 0, 1}};
    for (const auto& [name, bext, tracks, from, first, count] : outputs) {
        // Every whole frame from the start file's first one on, behind the header.
        Bytes want;
        for (size_t f = from; f + 8 <= stream.size(); f += 8) {
            want.insert(want.end(), &stream[f + 2 * first], &stream[f + 2 * (first + count)]);
        }
        const Bytes file = testtake::ReadFile(out.File(name));
        SF_INFO info{};
        sf_close(sf_open(out.File(name).c_str(), SFM_READ, &info));
        EXPECT_EQ(Bext(out.File(name)), bext) << name;
        EXPECT_EQ(TrackList(out.File(name)), tracks) << name;
        EXPECT_TRUE(info.frames * count * 2 == static_cast<sf_count_t>(want.size()) &&
                    std::equal(want.rbegin(), want.rend(), file.rbegin()))
            << name;
    }
    EXPECT_TRUE(Says(Probe(out.File("a_01.wav")), "Recorder Two,5001"));
    EXPECT_TRUE(TagAt(testtake::ReadFile(out.File("x_01.wav")), 72, "data")); // the plain header
}

// A 5.1 float source keeps its layout in the all-in-one output and its speakers in pairs, with a
// fact chunk; mono outputs stay plain. A bext libsndfile wrote keeps its time's high 32 bits; one
// changed since its task was added fails the task. An
// RF64 header with all of it has the RIFF one's size, so either is written over the other.
TEST(Metadata, LayoutFactAndLargeOutputs) {
    TempDir dir;
    Bytes surround = testtake::MakeWav({6, 32, 48000, 0, 0, 3, true}, Bytes(2400, 1));
    surround[40] = 0x3F; // the extensible "fmt "'s channel mask: 5.1
    testtake::WriteFile(dir.File("surround.wav"), surround);
    SF_INFO info{0, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0, 0};
    SNDFILE* written = sf_open(dir.File("sf.wav").c_str(), SFM_WRITE, &info);
    SF_BROADCAST_INFO bext{};
    std::strcpy(bext.originator, "libsndfile");
    bext.time_reference_low = 777;
    bext.time_reference_high = 1;
    sf_command(written, SFC_SET_BROADCAST_INFO, &bext, sizeof bext);
    sf_writef_int(written, std::vector<int>(200, 1 << 20).data(), 100);
    sf_close(written);
    CMorvexWorker worker;
    AddTask(worker, 0, dir.File("surround.wav"), dir.File("all"), kTypeAll);
    AddTask(worker, 1, dir.File("surround.wav"), dir.File("pair"), kTypePairs);
    AddTask(worker, 2, dir.File("surround.wav"), dir.File("mono"), kTypeMono);
    AddTask(worker, 3, dir.File("sf.wav"), dir.File("sf"), kTypePairs);
    Bytes changed = testtake::ReadFile(dir.File("sf.wav"));
    testtake::WriteFile(dir.File("changed.wav"), changed);
    AddTask(worker, 4, dir.File("changed.wav"), dir.File("changed"), kTypePairs);
    changed[std::search(changed.begin(), changed.end(), bext.originator, bext.originator + 10) -
            changed.begin()] = 'L'; // a bext changed after the task was added fails it
    testtake::WriteFile(dir.File("changed.wav"), changed);
    RunAll(worker, 5);
    EXPECT_EQ(worker.Entry(4).ErrorState, kErrorInputRead);
    EXPECT_TRUE(Says(worker.Entry(4).FailureDetail, "its bext or iXML chunk has changed"));
    const Bytes all = testtake::ReadFile(dir.File("all_01.wav"));
    EXPECT_TRUE(TagAt(all, 48 + 8 + 40, "fact") && Field(all, 48 + 8 + 40 + 8, 4) == 100);
    EXPECT_TRUE(Says(Probe(dir.File("all_01.wav")), "5.1"));
    EXPECT_TRUE(Says(Probe(dir.File("pair_03.wav")), "FC+LFE")); // its channels' speakers
    EXPECT_TRUE(TagAt(testtake::ReadFile(dir.File("mono_06.wav")), 74, "data")); // plain
    EXPECT_TRUE(Says(Bext(dir.File("sf_01.wav")), "libsndfile|4294968073|A=PCM,F=48000,W=24,M=st"));

    Bytes body(602, 0), text(6, ' ');
    HeaderValues values{0, 2, 4, 48000, true, true, 0, true, body.data(), 602, text.data(), 6};
    Bytes header(static_cast<size_t>(WavHeaderBytes(values)));
    for (const uint64_t data : {uint64_t{1000}, uint64_t{40} << 30}) {
        values.DataBytes = data;
        BuildWavHeader(values, header.data());
        EXPECT_TRUE(TagAt(header, 0, data < 2000 ? "RIFF" : "RF64") && TagAt(header, 96, "fact") &&
                    Field(header, 104, 4) == std::min<uint64_t>(data / 8, 0xFFFFFFFFU) &&
                    TagAt(header, 108 + 610, "iXML") && TagAt(header, 108 + 610 + 14, "data"));
    }
    EXPECT_TRUE(TagAt(header, 12, "ds64") && Field(header, 28, 8) == 40ULL << 30);
}
