#include "TaskText.h"

#include "MorvexWorker.h"
#include "OutputPlan.h"

#include <filesystem>
#include <strings.h>

namespace morvexcli {

namespace {

namespace fs = std::filesystem;

std::string SourceEndName(const CMorvexWorker& worker, int index, int fileIndex) {
    char name[morvex::kMaxPathBytes] = {};
    worker.GetSourceEndName(index, fileIndex, name);
    return name;
}

bool IsSchemeTake(const SplitEntryInfo& entry) {
    return entry.MainNumb >= 0;
}

bool IsJoinedTake(const SplitEntryInfo& entry) {
    return entry.GivenFilePaths != nullptr;
}

// The number --end gives a file of the take by: the one in its name, or its place among the
// files given.
int FileNumber(const SplitEntryInfo& entry, int fileIndex) {
    return IsJoinedTake(entry) ? fileIndex + 1 : entry.StartSubNumb + fileIndex;
}

uint64_t ChannelBit(int channel) {
    return uint64_t{1} << channel;
}

// Output n is gone when every one of its channels is among those deleted as silent.
bool OutputSkipped(const SplitEntryInfo& entry, const morvex::OutputPlan& plan, int n) {
    for (int k = 0; k < plan.ChannelsPerOutput; ++k) {
        if ((entry.SkippedChannels & ChannelBit(plan.SourceChannel(n, k))) == 0) {
            return false;
        }
    }
    return true;
}

bool HasTimeReference(const morvex::TakeMetadata& metadata) {
    return metadata.BextBytes != 0;
}

// "01:00:00": whole seconds of a time given in samples; hours go on past a day.
std::string TimeOfDay(uint64_t samples, uint32_t sampleRate) {
    constexpr uint64_t kSecondsPerMinute = 60;
    constexpr uint64_t kSecondsPerHour = 60 * kSecondsPerMinute;
    const uint64_t seconds = sampleRate == 0 ? 0 : samples / sampleRate;
    char text[32];
    std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu",
                  static_cast<unsigned long long>(seconds / kSecondsPerHour),
                  static_cast<unsigned long long>(seconds % kSecondsPerHour / kSecondsPerMinute),
                  static_cast<unsigned long long>(seconds % kSecondsPerMinute));
    return text;
}

// The track names the take gives its channels, by channel from 1; unnamed channels left out.
std::vector<std::pair<int, std::string>> TrackNames(const SplitEntryInfo& entry) {
    std::vector<std::pair<int, std::string>> tracks;
    for (int c = 0; c < entry.ChannelNumb && c < morvex::kMaxChannels; ++c) {
        if (entry.Metadata.TrackNames[c][0] != '\0') {
            tracks.emplace_back(c + 1, entry.Metadata.TrackNames[c]);
        }
    }
    return tracks;
}

// What the start file tells beside its samples; nothing for a take without any of it.
std::optional<JsonMetadata> FoundMetadata(const SplitEntryInfo& entry) {
    const morvex::TakeMetadata& found = entry.Metadata;
    JsonMetadata metadata;
    if (HasTimeReference(found)) {
        metadata.TimeReference = found.TimeReference;
        metadata.Time = TimeOfDay(found.TimeReference, entry.SampleRate);
    }
    metadata.Originator = found.Originator;
    metadata.Tracks = TrackNames(entry);
    if (!metadata.TimeReference && metadata.Originator.empty() && metadata.Tracks.empty()) {
        return std::nullopt;
    }
    return metadata;
}

void PrintMetadata(std::FILE* out, const SplitEntryInfo& entry) {
    const std::optional<JsonMetadata> metadata = FoundMetadata(entry);
    if (!metadata) {
        return;
    }
    if (metadata->TimeReference) {
        std::fprintf(out, "  TimeRef: %llu samples (%s)\n",
                     static_cast<unsigned long long>(*metadata->TimeReference),
                     metadata->Time.c_str());
    }
    if (!metadata->Originator.empty()) {
        std::fprintf(out, "  Origin:  %s\n", metadata->Originator.c_str());
    }
    if (!metadata->Tracks.empty()) {
        std::string line;
        for (const auto& [channel, name] : metadata->Tracks) {
            line += (line.empty() ? "" : ", ") + std::to_string(channel) + " \"" + name + "\"";
        }
        std::fprintf(out, "  Tracks:  %s\n", line.c_str());
    }
}

} // namespace

std::string ErrorText(const CMorvexWorker& worker, int code) {
    char text[morvex::kInfoTextBytes] = {};
    worker.GetErrorString(code, text);
    return text;
}

std::string InfoText(const CMorvexWorker& worker, int index, int kind) {
    char text[morvex::kInfoTextBytes] = {};
    worker.GetInfoStrings(index, kind, text);
    return text;
}

std::string TakeWarning(const CMorvexWorker& worker, int index) {
    char text[morvex::kNoteTextBytes] = {};
    worker.GetTakeWarning(index, text);
    return text;
}

std::string FailureDetail(const CMorvexWorker& worker, int index) {
    char text[morvex::kNoteTextBytes] = {};
    worker.GetFailureDetail(index, text);
    return text;
}

std::string AddFailureDetail(const CMorvexWorker& worker) {
    char text[morvex::kNoteTextBytes] = {};
    worker.GetAddFailureDetail(text);
    return text;
}

const char* TypeName(int type) {
    switch (type) {
    case morvex::kTypePairs:
        return "pairs";
    case morvex::kTypeAll:
        return "all";
    default:
        return "mono";
    }
}

const char* FormatName(int value) {
    morvex::OutputFormat format = morvex::OutputFormat::Wav;
    morvex::ToOutputFormat(value, format);
    return morvex::Describe(format).Name;
}

std::vector<std::string> OutputFileNames(const CMorvexWorker& worker, int index) {
    const SplitEntryInfo& entry = worker.Entry(index);
    const morvex::OutputPlan plan = morvex::PlanOutputs(entry);
    std::vector<std::string> names;
    char suffix[morvex::kOutputSuffixBytes];
    for (int n = 0; plan.OutputSuffix(n, suffix); ++n) {
        if (!OutputSkipped(entry, plan, n)) {
            names.push_back(worker.GetDestinationBaseFile(index) + std::string(suffix));
        }
    }
    return names;
}

std::vector<int> SkippedChannels(const SplitEntryInfo& entry) {
    std::vector<int> channels;
    for (int c = 0; c < morvex::kMaxChannels; ++c) {
        if ((entry.SkippedChannels & ChannelBit(c)) != 0) {
            channels.push_back(c + 1);
        }
    }
    return channels;
}

std::string ChannelNumbers(const std::vector<int>& channels) {
    std::string text;
    for (const int channel : channels) {
        text += (text.empty() ? "" : ", ") + std::to_string(channel);
    }
    return text;
}

std::vector<std::string> TakeFiles(const CMorvexWorker& worker, int index, bool toEnd) {
    const SplitEntryInfo& entry = worker.Entry(index);
    const std::string start = worker.GetDisplayName(index);
    const fs::path folder = fs::path(start).parent_path();
    const int last = toEnd ? entry.SourceEndIndex : entry.SubCount - 1;
    std::vector<std::string> files{start};
    for (int k = 1; k <= last; ++k) {
        files.push_back(IsJoinedTake(entry) ? entry.GivenFilePaths[k]
                                            : (folder / SourceEndName(worker, index, k)).string());
    }
    return files;
}

uint64_t FramesToConvert(const SplitEntryInfo& entry) {
    const uint64_t frameBytes = entry.FmtSubchunk.wBlockAlign != 0
                                    ? entry.FmtSubchunk.wBlockAlign
                                    : morvex::PlanOutputs(entry).FrameBytes;
    return frameBytes == 0 ? 0 : static_cast<uint64_t>(entry.BytesTotal) / frameBytes;
}

std::optional<int> EndIndexFor(const CMorvexWorker& worker, int index, const EndFile& end) {
    const SplitEntryInfo& entry = worker.Entry(index);
    if (end.Number) {
        const int fileIndex = *end.Number - FileNumber(entry, 0);
        if (!(IsSchemeTake(entry) || IsJoinedTake(entry)) || fileIndex < 0 ||
            fileIndex >= entry.SubCount) {
            return std::nullopt;
        }
        return fileIndex;
    }
    const std::string name = fs::path(end.Name).filename().string();
    for (int k = 0; k < entry.SubCount; ++k) {
        if (strcasecmp(name.c_str(), SourceEndName(worker, index, k).c_str()) == 0) {
            return k;
        }
    }
    return std::nullopt;
}

std::string EndChoices(const CMorvexWorker& worker, int index) {
    const SplitEntryInfo& entry = worker.Entry(index);
    const std::string first = SourceEndName(worker, index, 0);
    if (!IsSchemeTake(entry) && !IsJoinedTake(entry)) {
        return "the take is the one file " + first;
    }
    const int last = entry.SubCount - 1;
    return "its files are " + first + " to " + SourceEndName(worker, index, last) + " (--end " +
           std::to_string(FileNumber(entry, 0)) + " to " + std::to_string(FileNumber(entry, last)) +
           ")";
}

void PrintTaskInfo(std::FILE* out, const CMorvexWorker& worker, int index, int number,
                   const std::string& blocked) {
    const SplitEntryInfo& entry = worker.Entry(index);
    std::fprintf(out, "Task %d: %s\n", number, worker.GetDisplayName(index));
    std::fprintf(out, "  Files:   %d in the take:", entry.SubCount);
    for (int k = 0; k < entry.SubCount; ++k) {
        std::fprintf(out, " %s", SourceEndName(worker, index, k).c_str());
    }
    const int end = entry.SourceEndIndex;
    std::fprintf(out, "\n  Convert: %s to %s", SourceEndName(worker, index, 0).c_str(),
                 SourceEndName(worker, index, end).c_str());
    if (IsSchemeTake(entry) || IsJoinedTake(entry)) {
        std::fprintf(out, " (--end %d)", FileNumber(entry, end));
    }
    std::fprintf(out, "\n  Format:  %s, %d bit\n",
                 InfoText(worker, index, morvex::kInfoFormat).c_str(), entry.WordLength);
    std::fprintf(out, "  Time:    %s\n", InfoText(worker, index, morvex::kInfoTime).c_str());
    PrintMetadata(out, entry);
    std::fprintf(out, "  Sizes:   %s\n", InfoText(worker, index, morvex::kInfoSizes).c_str());
    const std::vector<std::string> names = OutputFileNames(worker, index);
    std::fprintf(out, "  Outputs: %zu %s file(s):", names.size(), TypeName(entry.Type));
    if (names.size() <= 2) {
        for (const std::string& name : names) {
            std::fprintf(out, " %s", name.c_str());
        }
    } else {
        std::fprintf(out, " %s ... %s", names.front().c_str(), names.back().c_str());
    }
    const std::string state =
        blocked.empty() ? InfoText(worker, index, morvex::kInfoState) : blocked;
    std::fprintf(out, "\n  State:   %s\n", state.c_str());
    if (const std::string warning = TakeWarning(worker, index); !warning.empty()) {
        std::fprintf(out, "  Warning: %s\n", warning.c_str());
    }
}

JsonTask DescribeTask(const CMorvexWorker& worker, int index, int number,
                      const std::string& state) {
    const SplitEntryInfo& entry = worker.Entry(index);
    JsonTask task;
    task.Task = number;
    task.Start = worker.GetDisplayName(index);
    task.Inputs = TakeFiles(worker, index, true);
    task.Format = JsonFormat{InfoText(worker, index, morvex::kInfoFormat), entry.ChannelNumb,
                             entry.WordLength, entry.SampleRate};
    task.Frames = FramesToConvert(entry);
    task.Type = TypeName(entry.Type);
    task.OutputFormat = morvex::Describe(morvex::PlanOutputs(entry).Format).Name;
    task.Outputs = OutputFileNames(worker, index);
    task.State = state;
    task.Warning = TakeWarning(worker, index);
    if (entry.fSkipSilent) {
        task.Skipped = SkippedChannels(entry);
    }
    task.Metadata = FoundMetadata(entry);
    if (entry.ErrorState != morvex::kErrorNone) {
        const std::string detail = FailureDetail(worker, index);
        task.Error = JsonError{entry.ErrorState, ErrorText(worker, entry.ErrorState), {}};
        if (!detail.empty()) {
            task.Error->Details.push_back(detail);
        }
    }
    return task;
}

} // namespace morvexcli
