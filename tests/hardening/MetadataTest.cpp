// What a recording knows beside its samples (bext, iXML, speaker positions) is found in the take's
// start file and carried into the outputs, as readers that share none of our code read them.
#include "SplitHarness.h"

#include <cstring>

using namespace harness;
using namespace morvex;
using testtake::Bytes;
using testtake::Cat;

namespace {

// A bext chunk of these fields, and an iXML chunk naming tracks: "name@channel" per track, whose
// interleave index is its place in the list (none where the name ends in '~').
Bytes BextChunk(const std::string& originator, uint64_t time, const std::string& history) {
    Bytes body(602, 0);
    std::memcpy(&body[256], originator.data(), originator.size());
    const Bytes t = testtake::Le(time, 8);
    std::copy(t.begin(), t.end(), body.begin() + 338);
    body.insert(body.end(), history.begin(), history.end());
    return testtake::Chunk("bext", body);
}
std::string Ixml(const std::vector<std::string>& tracks, const std::string& scene = "S1") {
    std::string text = "<?xml version=\"1.0\"?>\n<BWFXML><SCENE>" + scene + "</SCENE><TRACK_LIST>";
    text += "<TRACK_COUNT>" + std::to_string(tracks.size()) + "</TRACK_COUNT>";
    for (size_t k = 0; k < tracks.size(); ++k) {
        const size_t at = tracks[k].find('@');
        const bool noInterleave = tracks[k].back() == '~';
        text +=
            "<TRACK><CHANNEL_INDEX>" + tracks[k].substr(at + 1) + "</CHANNEL_INDEX>" +
            (noInterleave ? ""
                          : "<INTERLEAVE_INDEX>" + std::to_string(k + 1) + "</INTERLEAVE_INDEX>") +
            "<NAME>" + tracks[k].substr(0, at) + "</NAME></TRACK>";
    }
    return text + "</TRACK_LIST></BWFXML>\n";
}
Bytes IxmlChunk(const std::string& text) {
    return testtake::Chunk("iXML", Bytes(text.begin(), text.end()));
}

// A take whose files each carry their own chunks: the stream cut at `cuts`, file k of `layouts[k]`.
std::vector<std::string> WriteFiles(const std::string& dir, const testtake::WavFormat& format,
                                    const Bytes& stream, const std::vector<size_t>& cuts,
                                    const std::vector<testtake::WavLayout>& layouts) {
    std::vector<std::string> paths;
    for (size_t k = 0, from = 0; k <= cuts.size(); ++k) {
        const size_t to = k < cuts.size() ? cuts[k] : stream.size();
        paths.push_back(dir + "/" + testtake::SchemeName(1, static_cast<int>(k + 1)));
        testtake::WriteFile(paths.back(),
                            testtake::MakeWav(format,
                                              Bytes(stream.begin() + from, stream.begin() + to),
                                              layouts[k]));
        from = to;
    }
    return paths;
}

} // namespace

// Each file of a take has its own chunks (bext before the audio or after it): a task takes its
// start file's, whichever file that is. iXML that does not parse is noted and carries no names.
TEST(Metadata, StartFileChunksAreCaptured) {
    TempDir in;
    testtake::WavFormat format{.channels = 3};
    const Bytes stream = testtake::PatternSamples(300, 3, 2);
    const std::vector<testtake::WavLayout> layouts{
        {.chunksBeforeData = Cat({BextChunk("Recorder One", 1000, ""),
                                  IxmlChunk(Ixml({"Kick@1", "Snare@2~", "Vox@3"}))})},
        {.chunksBeforeData = IxmlChunk(Ixml({"Kick2@1", "Vox2@3"})),
         .trailingBytes = BextChunk("Recorder Two", 5000, "A=PCM\r\n")},
        {.chunksBeforeData = IxmlChunk("<BWFXML><TRACK_LIST>")}};
    const auto paths = WriteFiles(in.Path(), format, stream, {601, 1201}, layouts);
    CMorvexWorker worker;
    char warning[kNoteTextBytes];
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(worker.SetStartFile(k, paths[k].c_str()), 0);
    }
    const TakeMetadata& first = worker.Entry(0).Metadata;
    EXPECT_EQ(first.TimeReference, 1000U);
    EXPECT_STREQ(first.Originator, "Recorder One");
    EXPECT_STREQ(first.TrackNames[1], "Snare"); // its channel index: no interleave index given
    EXPECT_STREQ(first.TrackNames[2], "Vox");
    EXPECT_FALSE(worker.GetTakeWarning(0, warning)) << warning;
    const TakeMetadata& second = worker.Entry(1).Metadata;
    EXPECT_EQ(second.TimeReference, 5000U);
    EXPECT_STREQ(second.Originator, "Recorder Two");
    EXPECT_STREQ(second.TrackNames[0], "Kick2");
    EXPECT_STREQ(second.TrackNames[1], "Vox2"); // by its interleave index, not its channel index
    EXPECT_TRUE(second.IxmlParsed && second.BextBytes == 609);
    EXPECT_TRUE(worker.GetTakeWarning(2, warning));
    EXPECT_STREQ(warning, "MKZ01_03.WAV: its iXML chunk does not parse; the outputs carry none.");
    EXPECT_FALSE(worker.Entry(2).Metadata.IxmlParsed);
}
