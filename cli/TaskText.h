#pragma once

#include "CommandLine.h"
#include "JsonReport.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

class CMorvexWorker;
struct SplitEntryInfo;

namespace morvexcli {

// What the engine tells about task `index` of a worker, as strings.
std::string ErrorText(const CMorvexWorker& worker, int code);
std::string InfoText(const CMorvexWorker& worker, int index, int kind);
std::string TakeWarning(const CMorvexWorker& worker, int index);
std::string FailureDetail(const CMorvexWorker& worker, int index);
std::string AddFailureDetail(const CMorvexWorker& worker);

const char* TypeName(int type);
const char* FormatName(int format);

// The names the engine gives the outputs of task `index`: the base, "_NN" with the first channel
// of each file (and its track name when asked for), and the format's extension. Outputs the last
// conversion deleted as silent are left out.
std::vector<std::string> OutputFileNames(const CMorvexWorker& worker, int index);

// Paths of the files of the take, the start file first: all found, or those up to the end file.
std::vector<std::string> TakeFiles(const CMorvexWorker& worker, int index, bool toEnd);

// The source channels (from 1) whose outputs the last conversion deleted as silent.
std::vector<int> SkippedChannels(const SplitEntryInfo& entry);

// "13, 14": channel numbers as the messages list them.
std::string ChannelNumbers(const std::vector<int>& channels);

// Whole frames of the files to convert.
uint64_t FramesToConvert(const SplitEntryInfo& entry);

// The index of the file --end names within the take, or nothing when it names none of them.
std::optional<int> EndIndexFor(const CMorvexWorker& worker, int index, const EndFile& end);

// "its files are MKZ01_01.WAV to MKZ01_04.WAV (--end 1 to 4)", for a refused --end.
std::string EndChoices(const CMorvexWorker& worker, int index);

// The -i text of a task; `blocked` says why it cannot start, "" when it can.
void PrintTaskInfo(std::FILE* out, const CMorvexWorker& worker, int index, int number,
                   const std::string& blocked);

// The --json object of an added task in `state`.
JsonTask DescribeTask(const CMorvexWorker& worker, int index, int number, const std::string& state);

} // namespace morvexcli
