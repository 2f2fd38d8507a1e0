#pragma once

// Takes whose sample stream the test keeps, checks of outputs, workers and morvex-split runs.
#include "MorvexWorker.h"
#include "TempDir.h"
#include "TestTake.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <optional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace harness {

using testtake::Bytes;

struct Take {
    testtake::WavFormat Format;
    Bytes Stream; // the sample data of all its files as one stream
    std::vector<std::string> Paths;
    uint64_t Frames() const { return Stream.size() / static_cast<size_t>(Format.FrameBytes()); }
};

// `frames` frames plus `tail` bytes, cut into files at stream offsets `cuts`.
inline Take WriteTake(const std::string& dir, int number, int channels, int bits, uint32_t frames,
                      const std::vector<size_t>& cuts = {}, uint32_t tail = 0,
                      const testtake::WavLayout& layout = {}) {
    Take take{{static_cast<uint16_t>(channels), static_cast<uint16_t>(bits)}, {}, {}};
    take.Stream = testtake::PatternSamples(frames, channels, (bits + 7) / 8, number);
    take.Stream.insert(take.Stream.end(), tail, 0xA5);
    take.Paths = testtake::WriteTake(dir, number, 1, take.Format, take.Stream, cuts, layout);
    return take;
}

// A take whose channel c repeats the bytes silence[c] frame after frame (none: the pattern's
// sound), but for the first byte of channel `soundAtEnd` in the last frame.
inline Take WriteSilentTake(const std::string& dir, int number, const testtake::WavFormat& format,
                            uint32_t frames, const std::vector<size_t>& cuts,
                            const std::vector<Bytes>& silence, int soundAtEnd = -1) {
    const int bps = format.BytesPerSample();
    Take take{format, testtake::PatternSamples(frames, format.channels, bps, number + 1), {}};
    for (size_t at = 0; !silence.empty() && at < take.Stream.size(); ++at) {
        const size_t f = at / format.FrameBytes(), c = at / bps % format.channels, b = at % bps;
        if (c < silence.size() && !silence[c].empty()) {
            take.Stream[at] = silence[c][(f * bps + b) % silence[c].size()] ^
                              (f + 1 == frames && int(c) == soundAtEnd && b == 0);
        }
    }
    take.Paths = testtake::WriteTake(dir, number, 1, format, take.Stream, cuts);
    return take;
}

// Sets environment variables for its lifetime (for the fault shim and child processes).
using EnvValues = std::vector<std::pair<std::string, std::string>>;
class ScopedEnv {
public:
    explicit ScopedEnv(const EnvValues& values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name.c_str());
            m_Saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            ::setenv(name.c_str(), value.c_str(), 1);
        }
    }
    ~ScopedEnv() {
        for (auto it = m_Saved.rbegin(); it != m_Saved.rend(); ++it) {
            it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1)
                       : ::unsetenv(it->first.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_Saved;
};

inline std::string OutputName(const std::string& base, int firstChannel, bool caf) {
    const std::string number = std::to_string(firstChannel + 1);
    return base + (number.size() < 2 ? "_0" : "_") + number + (caf ? ".caf" : ".wav");
}

inline std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(dir)) {
        names.push_back(item.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// What a shell command prints; `ok`, if given, whether it exited with 0.
inline std::string Run(const std::string& command, bool* ok = nullptr) {
    std::string out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    for (size_t got; pipe != nullptr && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, got);
    }
    const bool exited = pipe != nullptr && ::pclose(pipe) == 0;
    if (ok != nullptr) {
        *ok = exited;
    }
    return out;
}

inline uint64_t Field(const Bytes& b, size_t at, int bytes, bool bigEndian = false) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= static_cast<uint64_t>(b.at(at + i)) << 8 * (bigEndian ? bytes - 1 - i : i);
    }
    return value;
}

inline bool TagAt(const Bytes& b, size_t at, const char* tag) {
    return b.size() >= at + 4 && std::equal(tag, tag + 4, b.begin() + static_cast<long>(at));
}

// A bext chunk of the given originator, time reference and coding history.
inline Bytes BextChunk(const std::string& originator, uint64_t time, const std::string& history) {
    return testtake::Chunk(
        "bext", testtake::Cat({Bytes(256, 0), Bytes(originator.begin(), originator.end()),
                               Bytes(82 - originator.size(), 0), testtake::Le(time, 8),
                               Bytes(256, 0), Bytes(history.begin(), history.end())}));
}
// iXML of tracks "<CHANNEL_INDEX>n</CHANNEL_INDEX>[<INTERLEAVE_INDEX>..]<NAME>..": a TRACK each.
inline Bytes IxmlChunk(const std::string& scene, const std::vector<std::string>& tracks) {
    std::string text = "<?xml version=\"1.0\"?>\n<BWFXML><SCENE>" + scene +
                       "</SCENE><TRACK_LIST><TRACK_COUNT>" + std::to_string(tracks.size()) +
                       "</TRACK_COUNT>";
    for (const std::string& track : tracks) {
        text += "\n  <TRACK>" + track + "</NAME></TRACK>";
    }
    text += scene.empty() ? "" : "</TRACK_LIST></BWFXML>\n"; // no scene: a text that does not parse
    return testtake::Chunk("iXML", Bytes(text.begin(), text.end()));
}
inline std::string Track(int channel, int interleave, const std::string& name) {
    const std::string index = "<INTERLEAVE_INDEX>" + std::to_string(interleave) + "</";
    return "<CHANNEL_INDEX>" + std::to_string(channel) + "</CHANNEL_INDEX>" +
           (interleave == 0 ? "" : index + "INTERLEAVE_INDEX>") + "<NAME>" + name;
}

inline testing::AssertionResult Says(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos ? testing::AssertionSuccess()
                                                : testing::AssertionFailure() << text;
}

inline void AddTask(CMorvexWorker& worker, int index, const std::string& start,
                    const std::string& base, int type = 0, int format = 0) {
    ASSERT_EQ(worker.SetStartFile(index, start.c_str()), 0) << start;
    ASSERT_EQ(worker.SetDestinationBaseFile(index, base.c_str(), index), 1);
    worker.SetDestinationType(index, type);
    worker.SetDestinationFormat(index, format);
}

// Every answer of ConversionStep from the start of a run to its end.
inline std::vector<int> RunAll(CMorvexWorker& worker, int count) {
    std::vector<int> answers;
    worker.StartConversion(count);
    do {
        answers.push_back(worker.ConversionStep());
    } while (answers.back() != morvex::kConvRunOver && answers.size() < 100000);
    return answers;
}

// Exactly the first `frames` frames of `channels` (ascending), by bytes and libsndfile. Without
// `frames`, an output of a killed run: empty and unreadable, or a provisional header and the
// frames written so far, read as exactly that by libsndfile and ffmpeg.
inline testing::AssertionResult Holds(const std::string& path, const Take& take,
                                      const std::vector<int>& channels,
                                      std::optional<uint64_t> frames = {}) {
    const bool caf = path.ends_with(".caf");
    const size_t count = channels.size();
    const Bytes file = testtake::ReadFile(path);
    SF_INFO info{};
    SNDFILE* sound = sf_open(path.c_str(), SFM_READ, &info);
    const bool opened = sound != nullptr;
    std::vector<int> read(opened ? static_cast<size_t>(info.frames * info.channels) : 0);
    read.resize(
        opened ? static_cast<size_t>(sf_readf_int(sound, read.data(), info.frames) * info.channels)
               : 0);
    sf_close(sound);
    bool ffmpegOk = true;
    const std::string ffmpeg =
        "ffmpeg -nostdin -v error -i '" + path + "' -f s32le -c:a pcm_s32le -";
    const std::string raw = frames ? "" : Run(ffmpeg + " 2>/dev/null", &ffmpegOk);
    std::vector<int> decoded(raw.size() / 4);
    if (!decoded.empty()) { // memcpy takes no null pointer, even for no bytes
        std::memcpy(decoded.data(), raw.data(), decoded.size() * 4);
    }
    if (!frames && file.empty()) {
        return opened || !decoded.empty()
                   ? testing::AssertionFailure() << path << ": a reader opened an empty file"
                   : testing::AssertionSuccess();
    }
    const size_t bps =
        static_cast<size_t>(take.Format.BytesPerSample()); // a float "fmt " has 2 more bytes
    const size_t header = caf ? 68 : 80 + 2 * (take.Format.formatTag == 3);
    const size_t data =
        bps * count *
        frames.value_or(file.size() > header ? (file.size() - header) / (count * bps) : 0);
    if (file.size() < header + data || (frames && file.size() != header + data) ||
        !(caf ? TagAt(file, 0, "caff") && TagAt(file, 52, "data") &&
                    Field(file, 56, 8, true) == (frames ? data + 4 : ~0ULL)
              : TagAt(file, 0, "RIFF") && TagAt(file, header - 8, "data") &&
                    Field(file, 4, 4) == (frames ? file.size() - 8 : 0xFFFFFFFFU) &&
                    Field(file, header - 4, 4) == (frames ? data : 0xFFFFFFFFU))) {
        return testing::AssertionFailure()
               << path << ": " << file.size() << " bytes, or a header that does not fit " << data;
    }
    // As libsndfile and ffmpeg (s32le) give samples: left-justified, 8-bit WAV offset binary.
    std::vector<int> want;
    for (size_t i = 0; i < data; i += bps) {
        const size_t frame = i / (count * bps), channel = channels[i / bps % count];
        const uint8_t* sample = &take.Stream[(frame * take.Format.channels + channel) * bps];
        uint32_t value = 0;
        for (size_t b = 0; b < bps; ++b) {
            if (file[header + i + b] != (caf && bps == 1 ? sample[b] ^ 0x80 : sample[b])) {
                return testing::AssertionFailure() << path << ": data differs at byte " << i + b;
            }
            value |= static_cast<uint32_t>(sample[b]) << (8 * (4 - bps + b));
        }
        want.push_back(static_cast<int>(bps == 1 ? value ^ 0x80000000U : value));
    }
    // libsndfile 1.2 refuses a CAF data chunk of unknown size; it scales float samples.
    const bool floats = take.Format.formatTag == 3;
    if (!(opened ? info.channels == static_cast<int>(count) &&
                       (read == want || (floats && read.size() == want.size())) &&
                       info.samplerate == static_cast<int>(take.Format.sampleRate)
                 : caf && !frames) ||
        !ffmpegOk || (!frames && decoded != want)) {
        return testing::AssertionFailure()
               << path << ": readers see other audio than the " << want.size() << " samples";
    }
    return testing::AssertionSuccess();
}

// Channels [first, first + count).
inline testing::AssertionResult Holds(const std::string& path, const Take& take, int first,
                                      int count, std::optional<uint64_t> frames = {}) {
    std::vector<int> channels(static_cast<size_t>(count));
    std::iota(channels.begin(), channels.end(), first);
    return Holds(path, take, channels, frames);
}

inline void ExpectMono(const std::string& base, const Take& take, uint64_t frames) {
    for (int c = 0; c < take.Format.channels; ++c) {
        EXPECT_TRUE(Holds(OutputName(base, c, false), take, c, 1, frames));
    }
}

#ifdef MORVEX_SPLIT_PATH
struct Outcome {
    int Exit = -1;  // -1 when killed by a signal
    int Signal = 0; // the signal that killed it
    std::string Out, Err;
};

// Runs morvex-split with default signal actions (it must ignore SIGXFSZ itself under
// `fileLimit`); `meanwhile` gets its pid.
inline Outcome RunSplit(const std::vector<std::string>& args, rlim_t fileLimit = 0,
                        const std::function<void(pid_t)>& meanwhile = {}) {
    TempDir streams;
    const std::string out = streams.File("out"), err = streams.File("err");
    std::vector<char*> argv{const_cast<char*>(MORVEX_SPLIT_PATH)};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const rlimit limit{fileLimit, fileLimit};
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
            ::signal(signal, SIG_DFL);
        }
        if (std::freopen(out.c_str(), "w", stdout) && std::freopen(err.c_str(), "w", stderr) &&
            (fileLimit == 0 || ::setrlimit(RLIMIT_FSIZE, &limit) == 0)) {
            ::execv(argv[0], argv.data());
        }
        ::_exit(127);
    }
    if (pid > 0 && meanwhile) {
        meanwhile(pid);
    }
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const Bytes o = testtake::ReadFile(out), e = testtake::ReadFile(err);
    return {pid > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            WIFSIGNALED(status) ? WTERMSIG(status) : 0, std::string(o.begin(), o.end()),
            std::string(e.begin(), e.end())};
}
#endif

} // namespace harness
