#include "SplitRun.h"

#include "MorvexWorker.h"
#include "Progress.h"

#include <csignal>
#include <filesystem>
#include <memory>

namespace morvexcli {

namespace {

namespace fs = std::filesystem;

// Set by the handler, read between conversion steps; the handler does nothing else.
volatile std::sig_atomic_t g_StopSignal = 0;

void OnStopSignal(int signal) {
    g_StopSignal = signal;
}

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

std::string SourceEndName(const CMorvexWorker& worker, int index, int fileIndex) {
    char name[morvex::kMaxPathBytes] = {};
    worker.GetSourceEndName(index, fileIndex, name);
    return name;
}

void PrintError(const Console& console, const std::string& subject, const std::string& message) {
    std::fprintf(console.Err, "morvex-split: %s: %s\n", subject.c_str(), message.c_str());
    std::fflush(console.Err);
}

// Adds every task to the worker as the window would. Answers the number added; `failed` tells
// whether any could not be added (each such task has been reported).
int AddTasks(CMorvexWorker& worker, const SplitOptions& options, const Console& console,
             bool& failed) {
    failed = false;
    int added = 0;
    for (const TaskArgs& task : options.Tasks) {
        const std::string start = AbsoluteStartPath(task.StartFile);
        if (start.size() >= static_cast<size_t>(morvex::kMaxPathBytes)) {
            PrintError(console, task.StartFile, "path is too long");
            failed = true;
            continue;
        }
        const int code = worker.SetStartFile(added, start.c_str());
        if (code != morvex::kErrorNone) {
            PrintError(console, start, ErrorText(worker, code));
            failed = true;
            continue;
        }
        // From here on the record is filled; a refusal must empty it again for the next task.
        const std::string base = AbsoluteOutputBase(task.OutputBase, start);
        if (base.size() >= static_cast<size_t>(morvex::kMaxPathBytes) ||
            worker.SetDestinationBaseFile(added, base.c_str(), added + 1) != 1) {
            PrintError(console, task.OutputBase, "output path is too long");
            worker.DeleteEntry(added);
            failed = true;
            continue;
        }
        worker.SetDestinationType(added, options.Type);
        worker.SetDestinationFormat(added, options.Format);
        if (options.EndIndex) {
            const int files = worker.Entry(added).SubCount;
            if (*options.EndIndex >= files) {
                PrintError(console, start,
                           "the take has " + std::to_string(files) +
                               " file(s); --end must lie from 0 to " + std::to_string(files - 1));
                worker.DeleteEntry(added);
                failed = true;
                continue;
            }
            worker.SetSourceEndIndex(added, *options.EndIndex);
        }
        ++added;
    }
    return added;
}

// Names the tasks that keep CanStart false, with their state texts.
void ReportBlockedTasks(const CMorvexWorker& worker, int count, const Console& console) {
    for (int i = 0; i < count; ++i) {
        const int state = worker.GetEntryState(i);
        if (state == morvex::kStateNoDestination || state == morvex::kStateCannotPair ||
            state == morvex::kStateFailed) {
            PrintError(console, worker.GetDisplayName(i), InfoText(worker, i, morvex::kInfoState));
        }
    }
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

void PrintTaskInfo(const CMorvexWorker& worker, int index, const Console& console) {
    const SplitEntryInfo& entry = worker.Entry(index);
    std::FILE* out = console.Out;
    std::fprintf(out, "Task %d: %s\n", index + 1, worker.GetDisplayName(index));
    std::fprintf(out, "  Files:   %d in the take:", entry.SubCount);
    for (int k = 0; k < entry.SubCount; ++k) {
        std::fprintf(out, " %s", SourceEndName(worker, index, k).c_str());
    }
    const int end = worker.GetSourceEndIndex(index);
    std::fprintf(out, "\n  Convert: %s to %s (--end %d)\n", SourceEndName(worker, index, 0).c_str(),
                 SourceEndName(worker, index, end).c_str(), end);
    std::fprintf(out, "  Format:  %s, %d bit\n",
                 InfoText(worker, index, morvex::kInfoFormat).c_str(), entry.WordLength);
    std::fprintf(out, "  Time:    %s\n", InfoText(worker, index, morvex::kInfoTime).c_str());
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
    std::fprintf(out, "\n  State:   %s\n", InfoText(worker, index, morvex::kInfoState).c_str());
}

void PrintOutputs(const CMorvexWorker& worker, int index, const Console& console) {
    for (const std::string& name : OutputFileNames(worker, index)) {
        std::fprintf(console.Out, "%s\n", name.c_str());
    }
    std::fflush(console.Out);
}

int ConvertTasks(CMorvexWorker& worker, int count, const SplitOptions& options,
                 const Console& console) {
    ProgressDisplay progress(console.Err, console.ErrIsTerminal, options.Quiet);
    bool anyFailed = false;
    int lastState = morvex::kConvNextTask;
    worker.StartConversion(count);
    for (;;) {
        if (g_StopSignal != 0) {
            const int signal = g_StopSignal;
            // Between tasks (or before the first) no task is named, and nothing is deleted.
            const bool taskRunning = lastState != morvex::kConvNextTask;
            double fraction = 0;
            int current = -1;
            if (taskRunning) {
                worker.GetConversionInfo(&fraction, &current);
            }
            worker.StopConversion();
            progress.Interrupt();
            if (taskRunning) {
                PrintError(console, worker.GetDisplayName(current),
                           "stopped; its output files were deleted");
            } else {
                std::fprintf(console.Err, "morvex-split: stopped\n");
            }
            return 128 + signal;
        }
        const int state = worker.ConversionStep();
        if (state == morvex::kConvRunOver) {
            break;
        }
        double fraction = 0;
        int current = -1;
        worker.GetConversionInfo(&fraction, &current);
        if (state == morvex::kConvStartTask) {
            progress.TaskStarted(worker.GetDisplayName(current), current + 1, count,
                                 static_cast<double>(worker.Entry(current).BytesTotal));
        } else if (state == morvex::kConvNextTask) {
            // A step that answers 5 has ended task `current`, done or failed.
            const bool done = worker.GetEntryState(current) == morvex::kStateDone;
            std::string outcome = InfoText(worker, current, morvex::kInfoState);
            if (!done) {
                outcome += std::string(" (output ") + worker.GetDestinationBaseFile(current) + ")";
                anyFailed = true;
            }
            progress.TaskEnded(outcome, done);
            if (done && !options.Quiet) {
                PrintOutputs(worker, current, console);
            }
        } else {
            progress.Update(fraction);
        }
        lastState = state;
    }
    return anyFailed || !worker.AllDone(count) ? kExitFailed : kExitDone;
}

} // namespace

std::string AbsoluteStartPath(const std::string& startFile) {
    std::error_code error;
    const fs::path path = fs::absolute(startFile, error);
    return error ? startFile : path.string();
}

std::string AbsoluteOutputBase(const std::string& outputBase, const std::string& startFile) {
    std::error_code error;
    fs::path base = fs::absolute(outputBase, error);
    if (error) {
        base = outputBase;
    }
    if (outputBase.back() == '/' || fs::is_directory(base, error)) {
        base /= fs::path(startFile).stem();
    }
    return base.string();
}

std::vector<std::string> OutputFileNames(const CMorvexWorker& worker, int index) {
    const SplitEntryInfo& entry = worker.Entry(index);
    const int channels = entry.ChannelNumb;
    int perFile = 1;
    if (entry.Type == morvex::kTypePairs) {
        perFile = 2;
    } else if (entry.Type == morvex::kTypeAll) {
        perFile = channels;
    }
    const char* extension = entry.Format == morvex::kFormatCaf ? "caf" : "wav";
    std::vector<std::string> names;
    for (int first = 0; perFile > 0 && first < channels; first += perFile) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "_%02d.%s", first + 1, extension);
        names.push_back(worker.GetDestinationBaseFile(index) + std::string(suffix));
    }
    return names;
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Restart interrupted reads and writes, so that a signal never shows as a failed write.
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
}

int RunSplit(const SplitOptions& options, const Console& console) {
    auto worker = std::make_unique<CMorvexWorker>();
    bool addFailed = false;
    const int count = AddTasks(*worker, options, console, addFailed);

    if (options.InfoOnly) {
        for (int i = 0; i < count; ++i) {
            PrintTaskInfo(*worker, i, console);
        }
        std::fflush(console.Out);
        if (count > 0 && !worker->CanStart(count)) {
            ReportBlockedTasks(*worker, count, console);
            return kExitFailed;
        }
        return addFailed ? kExitFailed : kExitDone;
    }

    if (addFailed) {
        std::fprintf(console.Err, "morvex-split: nothing converted\n");
        return kExitFailed;
    }
    if (!worker->CanStart(count)) {
        ReportBlockedTasks(*worker, count, console);
        std::fprintf(console.Err, "morvex-split: nothing converted\n");
        return kExitFailed;
    }
    if (g_StopSignal != 0) {
        return 128 + g_StopSignal;
    }
    return ConvertTasks(*worker, count, options, console);
}

} // namespace morvexcli
