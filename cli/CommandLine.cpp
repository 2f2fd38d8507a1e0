#include "CommandLine.h"

#include "ChannelList.h"
#include "MorvexWorker.h"
#include "OutputFormat.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>

#ifndef MORVEX_VERSION
#define MORVEX_VERSION "unknown"
#endif

namespace morvexcli {

namespace {

constexpr const char* kDescription =
    "Split multichannel WAV takes into one file per channel, per channel pair, or one file with "
    "all channels.";

class SplitFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App*, std::string) const override {
        return "Usage: morvex-split [options] START.WAV OUTPUT_BASE "
               "[START.WAV OUTPUT_BASE ...]\n"
               "       morvex-split [options] --join OUTPUT_BASE FILE FILE... [--join ...]\n";
    }
};

constexpr const char* kFooter =
    "Each START.WAV OUTPUT_BASE pair is one task; tasks run in the order given, 30 at a time.\n"
    "The follower files of a take (MKZ03_01.WAV, MKZ03_02.WAV, ...) are found and read as one\n"
    "stream. Outputs are named OUTPUT_BASE_NN.wav or .caf, NN being the first channel of the\n"
    "file; a trailing .wav (or .caf with -f caf) of OUTPUT_BASE is dropped, and an OUTPUT_BASE\n"
    "that is a directory or ends in / takes the start file's name (a missing folder ending in /\n"
    "is created). A folder as START converts every take in it, in name order, each into\n"
    "OUTPUT_BASE/<start file>/<start file>_NN.wav. Existing files are never overwritten.\n"
    "--join makes one take of the files given, of any names, read in that order as one stream;\n"
    "they must all have the first one's format. It takes the arguments up to the next option or\n"
    "--. The tasks of START.WAV OUTPUT_BASE pairs run first. -e N of such a take is its N-th\n"
    "file.\n"
    "-c keeps the source channel numbers in the names (-c 11 writes OUTPUT_BASE_11.wav);\n"
    "--track-names adds the track names the take's iXML gives the file's channels, made safe\n"
    "for file names (OUTPUT_BASE_03_Kick In.wav, a pair OUTPUT_BASE_01_Kick+Snare.wav); a take\n"
    "without names is named as without it. --skip-silent deletes each output of digital\n"
    "silence as its task ends (a pair only when both channels are silent) and names their\n"
    "channels on stderr and in --json.\n"
    "-i and --json show the time reference, originator and track names a take carries.\n"
    "Sizes and rates are in binary units: MB = 2^20 bytes, GB = 2^30 bytes.\n"
    "Exit status: 0 all tasks done, 1 a task failed or could not be added, 2 usage error,\n"
    "3 all tasks done with warnings (a take cut short by a file that looks like part of it, or\n"
    "started from a later file with an unknown frame phase; the warning is on stderr and in\n"
    "--json), 128 + signal number when stopped by SIGINT, SIGTERM or SIGHUP (outputs of the\n"
    "running task are deleted).\n";

// File numbers have two digits in the recorder's names; a take of 100 files may reach three.
constexpr size_t kMaxEndNumberDigits = 3;
// --join OUTPUT_BASE FILE FILE: a take joins two files at least.
constexpr size_t kMinJoinArgs = 3;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

void Print(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
}

} // namespace

ParseResult ParseCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    CLI::App app{kDescription, "morvex-split"};
    app.footer(kFooter);
    app.set_version_flag("--version", std::string("morvex-split ") + MORVEX_VERSION);

    SplitOptions options;
    std::vector<std::string> paths;
    std::vector<std::vector<std::string>> joins;
    const std::map<std::string, int> types{
        {"mono", morvex::kTypeMono}, {"pairs", morvex::kTypePairs}, {"all", morvex::kTypeAll}};
    std::map<std::string, int> formats;
    for (const morvex::OutputFormat format : morvex::kOutputFormats) {
        formats[morvex::Describe(format).Name] = morvex::FormatValue(format);
    }
    std::string typeName = "mono";
    std::string formatName = "wav";
    std::string endText;

    app.formatter(std::make_shared<SplitFormatter>());
    app.add_option("-t,--type", typeName,
                   "mono: a file per channel (default), pairs: a file per channel pair, "
                   "all: one file with every channel")
        ->check(CLI::IsMember(types, CLI::ignore_case).description(""))
        ->type_name("mono|pairs|all");
    app.add_option("-f,--format", formatName, "Output format (default wav)")
        ->check(CLI::IsMember(formats, CLI::ignore_case).description(""))
        ->type_name("wav|caf");
    app.add_option("-e,--end", endText,
                   "Last file of the take to convert: its number as it stands in the names "
                   "(-e 3 for MKZ01_03.WAV) or its name (-e MKZ01_03.WAV); default: the last "
                   "file found")
        ->check(CLI::Validator(
            [](std::string& text) {
                return ParseEndFile(text) ? std::string() : "not a file number or name: " + text;
            },
            "", "END"))
        ->type_name("N|NAME");
    app.add_option("-c,--channels", options.ChannelText,
                   "Convert only these channels of each take, e.g. 1-8,11,13-14; outputs keep "
                   "the source channel numbers and pairs form from consecutive channels chosen")
        ->check(CLI::Validator(
            [](std::string& text) {
                uint64_t channels = 0;
                return morvex::ParseChannelList(text.c_str(), channels)
                           ? std::string()
                           : "not a list of channels from 1 to " +
                                 std::to_string(morvex::kMaxChannels) + ": " + text;
            },
            "", "CHANNELS"))
        ->type_name("LIST");
    app.add_flag("--track-names", options.TrackNames,
                 "Name outputs OUTPUT_BASE_NN_<track name> after the take's iXML track names");
    app.add_flag("--skip-silent", options.SkipSilent,
                 "Delete outputs of digital silence (a pair: both channels) and say which");
    app.add_flag("-i,--info", options.InfoOnly,
                 "Analyse only: show the files of each take and what would be written");
    app.add_flag("-q,--quiet", options.Quiet, "Print nothing but errors and warnings");
    app.add_flag("--json", options.Json,
                 "Print one JSON object per task on stdout (input files, format, frames, "
                 "outputs, state, error) instead of the list of outputs or the -i text");
    app.add_option("--join", joins,
                   "One take of the files given, in that order, whatever their names (up to "
                   "100 files of one format); may be given more than once")
        ->expected(static_cast<int>(kMinJoinArgs), CLI::detail::expected_max_vector_size)
        ->type_name("OUTPUT_BASE FILE FILE");
    app.add_option("files", paths, "Pairs of a take's start file and the base name of its outputs")
        ->type_name("START.WAV OUTPUT_BASE");

    std::ostringstream outText;
    std::ostringstream errText;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e, outText, errText);
        Print(out, outText.str());
        Print(err, errText.str());
        return {std::nullopt, status == 0 ? kExitDone : kExitUsage};
    }

    if (paths.empty() && joins.empty()) {
        Print(err, "morvex-split: a START.WAV OUTPUT_BASE pair or --join is required\n"
                   "Run with --help for more information.\n");
        return {std::nullopt, kExitUsage};
    }
    if (paths.size() % 2 != 0) {
        Print(err, "morvex-split: every START.WAV needs an OUTPUT_BASE\n"
                   "Run with --help for more information.\n");
        return {std::nullopt, kExitUsage};
    }
    for (size_t i = 0; i < paths.size(); i += 2) {
        if (paths[i].empty() || paths[i + 1].empty()) {
            Print(err, "morvex-split: empty file name\n");
            return {std::nullopt, kExitUsage};
        }
        options.Tasks.push_back({paths[i], paths[i + 1], {}});
    }
    for (const std::vector<std::string>& join : joins) {
        // The parser asks a vector of each --join for one value at least: the rest is checked here.
        if (join.size() < kMinJoinArgs) {
            Print(err, "morvex-split: --join needs an OUTPUT_BASE and two files at least\n"
                       "Run with --help for more information.\n");
            return {std::nullopt, kExitUsage};
        }
        if (std::any_of(join.begin(), join.end(), [](const std::string& t) { return t.empty(); })) {
            Print(err, "morvex-split: empty file name\n");
            return {std::nullopt, kExitUsage};
        }
        options.Tasks.push_back({join[1], join[0], {join.begin() + 1, join.end()}});
    }
    // The checks above have accepted the names in any letter case.
    options.Type = types.at(Lower(typeName));
    options.Format = formats.at(Lower(formatName));
    if (!endText.empty()) {
        options.End = ParseEndFile(endText);
    }
    if (!options.ChannelText.empty()) {
        morvex::ParseChannelList(options.ChannelText.c_str(), options.Channels);
    }
    return {std::move(options), kExitDone};
}

std::optional<EndFile> ParseEndFile(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    const bool digits =
        std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
    if (!digits) {
        return EndFile{std::nullopt, text};
    }
    if (text.size() > kMaxEndNumberDigits) {
        return std::nullopt;
    }
    return EndFile{std::stoi(text), ""};
}

} // namespace morvexcli
