// Writes a take for the whole-process benchmark: a canonical 44-byte PCM WAV header and
// pseudo-random sample data, the last SILENT channels (default none) digital silence, as a
// console's unused inputs record. An existing file is not overwritten.
//   morvex-make-take PATH CHANNELS BITS RATE SECONDS [SILENT]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint32_t kMaxChannels = 64; // the most a take may have

void Put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

void PutTag(std::vector<uint8_t>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr, "usage: %s PATH CHANNELS BITS RATE SECONDS [SILENT]\n", argv[0]);
        return 2;
    }
    const uint32_t channels = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const uint32_t bits = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    const uint32_t rate = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10));
    const uint64_t seconds = std::strtoull(argv[5], nullptr, 10);
    const uint32_t silent =
        argc == 7 ? static_cast<uint32_t>(std::strtoul(argv[6], nullptr, 10)) : 0;
    const uint32_t sampleBytes = (bits + 7) / 8;
    const uint32_t frameBytes = channels * sampleBytes;
    const uint64_t dataBytes = frameBytes * static_cast<uint64_t>(rate) * seconds;
    if (channels == 0 || channels > kMaxChannels || bits < 8 || bits > 32 || rate == 0 ||
        silent > channels || dataBytes + 36 > UINT32_MAX) {
        std::fprintf(stderr, "%s: no WAV take of that format and length\n", argv[0]);
        return 2;
    }

    std::vector<uint8_t> header;
    PutTag(header, "RIFF");
    Put(header, dataBytes + 36, 4);
    PutTag(header, "WAVE");
    PutTag(header, "fmt ");
    Put(header, 16, 4);
    Put(header, 1, 2);
    Put(header, channels, 2);
    Put(header, rate, 4);
    Put(header, static_cast<uint64_t>(rate) * frameBytes, 4);
    Put(header, frameBytes, 2);
    Put(header, bits, 2);
    PutTag(header, "data");
    Put(header, dataBytes, 4);

    std::FILE* file = std::fopen(argv[1], "wbx");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
    std::vector<uint64_t> block(1 << 17);
    uint64_t state = 0x9E3779B97F4A7C15ULL;
    // The first byte of the silent channels within a frame.
    const uint32_t silentFrom = (channels - silent) * sampleBytes;
    for (uint64_t left = dataBytes; ok && left > 0;) {
        for (uint64_t& word : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const uint64_t bytes = left < block.size() * 8 ? left : block.size() * 8;
        auto* at = reinterpret_cast<uint8_t*>(block.data());
        for (uint64_t i = 0, phase = (dataBytes - left) % frameBytes; silent > 0 && i < bytes;
             ++i) {
            at[i] = phase >= silentFrom ? 0 : at[i];
            phase = phase + 1 == frameBytes ? 0 : phase + 1;
        }
        ok = std::fwrite(block.data(), 1, bytes, file) == bytes;
        left -= bytes;
    }
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::perror(argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
