#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morvexcli {

struct JsonFormat {
    std::string Text; // the engine's format line, e.g. "16 channels, 48000 Hz"
    int Channels = 0;
    int Bits = 0;
    uint32_t SampleRate = 0;
};

struct JsonError {
    std::optional<int> Code; // the engine's error code, when the engine found the fault
    std::string Message;
    std::vector<std::string> Details; // files and the system's reasons
};

// What the take's start file tells of the recording beside its samples.
struct JsonMetadata {
    std::optional<uint64_t> TimeReference; // samples since midnight, with bext
    std::string Time;                      // the same as hh:mm:ss
    std::string Originator;
    std::vector<std::pair<int, std::string>> Tracks; // source channel from 1, track name
};

// What --json prints for one task, on one line.
struct JsonTask {
    int Task = 0; // one-based, in the order of the arguments and of the takes in a folder
    std::string Start;
    std::vector<std::string> Inputs; // the files converted, the start file first
    std::optional<JsonFormat> Format;
    std::optional<uint64_t> Frames;
    std::string Type;         // mono, pairs, all
    std::string OutputFormat; // wav, caf
    std::vector<std::string> Outputs;
    std::string State; // ready, done, failed, refused, blocked, stopped, skipped
    std::string Warning;
    std::optional<JsonError> Error;
    // Only when asked for: the source channels (from 1) whose outputs were deleted as silent.
    std::optional<std::vector<int>> Skipped;
    // Only for a take that has any.
    std::optional<JsonMetadata> Metadata;
};

// `text` as a JSON string, quotes included. Bytes that are not valid UTF-8 (file names may hold
// any) become U+FFFD, so that the line stays valid JSON.
std::string JsonString(const std::string& text);

// The task as one JSON object, without a line end.
std::string JsonLine(const JsonTask& task);

} // namespace morvexcli
