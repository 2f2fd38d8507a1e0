// Writes the seed corpus of the fuzz targets: small takes of the shapes the recorder and other
// programs write, in each target's input layout. Usage: morvex_fuzz_seeds CORPUS_DIR
#include "TestTake.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

using testtake::Bytes;

testtake::WavFormat Format(uint16_t channels, uint16_t bits) {
    testtake::WavFormat format;
    format.channels = channels;
    format.bitsPerSample = bits;
    return format;
}

// [flags][split LE16][file bytes]: see FuzzTakeAnalysis.cpp.
Bytes AnalysisInput(uint8_t flags, const Bytes& start, const Bytes& follower = {}) {
    Bytes input = {flags, static_cast<uint8_t>(start.size()),
                   static_cast<uint8_t>(start.size() >> 8)};
    input.insert(input.end(), start.begin(), start.end());
    input.insert(input.end(), follower.begin(), follower.end());
    return input;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const std::string analysis = root + "/take_analysis";
    const std::string conversion = root + "/conversion";
    std::filesystem::create_directories(analysis);
    std::filesystem::create_directories(conversion);

    const Bytes stereo = testtake::MakeWav(Format(2, 16), testtake::PatternSamples(20, 2, 2));
    testtake::WavLayout chunky;
    chunky.chunksBeforeFmt = testtake::Chunk("bext", Bytes(30, 0x20));
    chunky.chunksBeforeData = testtake::Chunk("LIST", Bytes(12, 0x41));
    chunky.fmtExtraBytes = 2;
    chunky.trailingBytes = testtake::Chunk("id3 ", Bytes(5, 1));
    testtake::WavLayout shifted;
    shifted.leadingBytes = Bytes(12, 0);
    int n = 0;
    const auto put = [&](const std::string& dir, const Bytes& bytes) {
        testtake::WriteFile(dir + "/seed" + std::to_string(n++), bytes);
    };
    put(analysis, AnalysisInput(0, stereo));
    put(analysis, AnalysisInput(1, stereo, stereo));
    put(analysis, AnalysisInput(0x0a, testtake::MakeWav(Format(3, 24), Bytes(90, 7), chunky)));
    put(analysis, AnalysisInput(0x04, testtake::MakeWav(Format(16, 12), Bytes(64, 9), shifted)));
    put(analysis, AnalysisInput(0x08, testtake::MakeWav(Format(1, 8), Bytes(61, 0x80))));
    put(analysis, AnalysisInput(0x02, testtake::MakeWav(Format(60, 32), Bytes(240, 3))));

    // [channels-1][bits-8][type | format << 2][files-1 | change << 2 | end << 4 | trailing 0x40]
    // [stop][frames LE 11 bits][extra], then the sample bytes.
    const Bytes params[] = {
        {1, 8, 0x00, 0x00, 0x00, 100, 0, 0},  {1, 16, 0x05, 0x13, 0x00, 200, 1, 3},
        {15, 16, 0x02, 0x72, 0x00, 50, 0, 5}, {59, 0, 0x04, 0x21, 0x00, 30, 0, 0},
        {2, 4, 0x00, 0x17, 0x00, 90, 0, 1},   {3, 24, 0x01, 0x1b, 0x00, 80, 0, 2},
        {0, 0, 0x04, 0x03, 0x83, 255, 3, 0},  {11, 8, 0x06, 0x40, 0x00, 7, 0, 0},
    };
    for (const Bytes& p : params) {
        Bytes input = p;
        const Bytes samples = testtake::PatternSamples(16, 1, 4, static_cast<uint32_t>(n));
        input.insert(input.end(), samples.begin(), samples.end());
        put(conversion, input);
    }
    return 0;
}
