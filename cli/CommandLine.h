#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace morvexcli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// Every task converted, but a take's warning says its outputs may lack audio or be shifted.
inline constexpr int kExitWarnings = 3;

struct TaskArgs {
    std::string StartFile; // a take's first file, or a folder of takes
    std::string OutputBase;
    // A --join take: all its files in the order given, StartFile first; empty for a START pair.
    std::vector<std::string> JoinFiles;
};

// The last file of each take to convert, as --end gave it: the file number as it stands in the
// names (3 for MKZ01_03.WAV), or a file's name.
struct EndFile {
    std::optional<int> Number;
    std::string Name;
};

struct SplitOptions {
    std::vector<TaskArgs> Tasks;
    int Type = 0;   // engine Type: 0 mono, 1 pairs, 2 all
    int Format = 0; // engine Format: 0 wav, 1 caf
    std::optional<EndFile> End;
    uint64_t Channels = 0;   // the source channels to convert, bit c for channel c; 0: every one
    std::string ChannelText; // the list as given, for messages
    bool TrackNames = false;
    bool SkipSilent = false;
    bool InfoOnly = false;
    bool Quiet = false;
    bool Json = false;
};

// Either options to run with, or the status the program ends with at once (help and version
// 0, a usage error 2) after the parser has printed what it had to say.
struct ParseResult {
    std::optional<SplitOptions> Options;
    int ExitStatus = kExitDone;
};

ParseResult ParseCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

// "3" is a file number, anything else a file's name; nothing for an empty text or a number
// longer than any file number.
std::optional<EndFile> ParseEndFile(const std::string& text);

} // namespace morvexcli
