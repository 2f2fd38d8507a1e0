#include "SplitRun.h"

#include "ChannelList.h"
#include "JsonReport.h"
#include "MorvexWorker.h"
#include "OutputCheck.h"
#include "OutputPlace.h"
#include "OutputPlan.h"
#include "Progress.h"
#include "TaskPlan.h"
#include "TaskText.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>

namespace morvexcli {

namespace {

namespace fs = std::filesystem;

constexpr int kExitSignalBase = 128;

// Set by the handler, read between conversion steps; the handler does nothing else.
volatile std::sig_atomic_t g_StopSignal = 0;

void OnStopSignal(int signal) {
    g_StopSignal = signal;
}

// One task of the run: where it reads and writes, and where the engine holds it.
struct RunTask {
    PlannedTask Plan;
    int Number = 0; // one-based
    int Batch = -1; // the worker holding it; -1 when it was refused
    int Slot = -1;
    std::optional<JsonError> Refusal;
    bool Reported = false; // its --json object has been printed
};

// The engine's table holds 30 tasks; a run of more takes one worker per 30.
struct Batch {
    std::unique_ptr<CMorvexWorker> Worker = std::make_unique<CMorvexWorker>();
    std::vector<int> Tasks; // indexes into the run's tasks, in slot order
};

class SplitRunner {
public:
    SplitRunner(const SplitOptions& options, const Console& console)
        : m_Options(options), m_Console(console),
          m_Progress(console.Err, console.ErrIsTerminal, options.Quiet) {}

    int Run() {
        for (const TaskArgs& args : m_Options.Tasks) {
            std::error_code error;
            if (!args.JoinFiles.empty()) {
                AddTask(PlanJoinedTask(args.JoinFiles, args.OutputBase, m_Options.Format));
            } else if (fs::is_directory(args.StartFile, error)) {
                AddFolder(args);
            } else {
                AddTask(PlanNamedTask(args.StartFile, args.OutputBase, m_Options.Format));
            }
        }
        const int status = m_Options.InfoOnly ? Analyse() : Convert();
        return Finish(status);
    }

private:
    // Building the task list.

    // Every take in the folder, in name order: a file that a take added before has claimed as
    // its follower is not a take of its own.
    void AddFolder(const TaskArgs& args) {
        std::vector<std::string> files;
        std::string reason;
        if (!ListTakeFiles(args.StartFile, files, reason) || files.empty()) {
            RunTask& task = NewTask(PlanNamedTask(args.StartFile, args.OutputBase, 0));
            Refuse(task, std::nullopt,
                   files.empty() && reason.empty()
                       ? "no take in this folder (no file named like MKZ01_01.WAV)"
                       : "the folder cannot be read",
                   reason);
            return;
        }
        std::set<std::string> claimed;
        for (const std::string& file : files) {
            if (claimed.contains(NameKey(file))) {
                continue;
            }
            const RunTask& task = AddTask(PlanFolderTask(file, args.OutputBase, m_Options.Format));
            if (task.Batch >= 0) {
                for (const std::string& taken : TakeFiles(WorkerOf(task), task.Slot, false)) {
                    claimed.insert(NameKey(taken));
                }
            }
        }
    }

    RunTask& NewTask(const PlannedTask& plan) {
        RunTask& task = m_Tasks.emplace_back();
        task.Plan = plan;
        task.Number = static_cast<int>(m_Tasks.size());
        return task;
    }

    const RunTask& AddTask(const PlannedTask& plan) {
        RunTask& task = NewTask(plan);
        if (m_Batches.empty() || m_Batches.back().Tasks.size() == morvex::kMaxEntries) {
            m_Batches.emplace_back();
        }
        Batch& batch = m_Batches.back();
        const int slot = static_cast<int>(batch.Tasks.size());
        CMorvexWorker& worker = *batch.Worker;
        const int code = AddToWorker(worker, slot, task.Plan);
        if (code != morvex::kErrorNone) {
            Refuse(task, code, ErrorText(worker, code), AddFailureDetail(worker));
            return task;
        }
        // From here on the slot is filled; a refusal must empty it again for the next task.
        if (const std::optional<JsonError> problem = SetUp(worker, slot, task.Plan)) {
            worker.DeleteEntry(slot);
            Refuse(task, problem->Code, problem->Message,
                   problem->Details.empty() ? "" : problem->Details.front());
            return task;
        }
        m_Bases.insert(task.Plan.Base);
        task.Batch = static_cast<int>(m_Batches.size()) - 1;
        task.Slot = slot;
        batch.Tasks.push_back(task.Number - 1);
        if (const std::string warning = TakeWarning(worker, slot); !warning.empty()) {
            PrintLine("warning: " + task.Plan.Start + ": " + warning);
        }
        return task;
    }

    static int AddToWorker(CMorvexWorker& worker, int slot, const PlannedTask& plan) {
        if (plan.Files.empty()) {
            return worker.SetStartFile(slot, plan.Start.c_str());
        }
        std::vector<const char*> paths;
        for (const std::string& file : plan.Files) {
            paths.push_back(file.c_str());
        }
        return worker.SetTakeFiles(slot, paths.data(), static_cast<int>(paths.size()));
    }

    // Destination, type, format and end file of a task just added; what keeps it out, if any.
    std::optional<JsonError> SetUp(CMorvexWorker& worker, int slot, const PlannedTask& plan) {
        if (m_Bases.contains(plan.Base)) {
            return JsonError{morvex::kErrorNameInUse,
                             ErrorText(worker, morvex::kErrorNameInUse),
                             {"output " + plan.Base}};
        }
        if (worker.SetDestinationBaseFile(slot, plan.Base.c_str(), slot + 1) != 1) {
            return JsonError{std::nullopt, "the output path is too long", {plan.Base}};
        }
        worker.SetDestinationType(slot, m_Options.Type);
        worker.SetDestinationFormat(slot, m_Options.Format);
        worker.SetTrackNaming(slot, m_Options.TrackNames);
        worker.SetSkipSilent(slot, m_Options.SkipSilent);
        if (!worker.SetChannelSelection(slot, m_Options.Channels)) {
            const int count = worker.Entry(slot).ChannelNumb;
            char past[morvex::kInfoTextBytes] = {};
            morvex::FormatChannelList(m_Options.Channels & ~morvex::EffectiveChannels(0, count),
                                      past, sizeof past);
            return JsonError{std::nullopt,
                             "--channels " + m_Options.ChannelText + ": the take has " +
                                 std::to_string(count) + " channel(s), not " + past,
                             {}};
        }
        if (m_Options.End) {
            const std::optional<int> end = EndIndexFor(worker, slot, *m_Options.End);
            if (!end) {
                const EndFile& given = *m_Options.End;
                const std::string named = given.Number ? std::to_string(*given.Number) : given.Name;
                return JsonError{std::nullopt,
                                 "--end " + named + " names no file of the take",
                                 {EndChoices(worker, slot)}};
            }
            worker.SetSourceEndIndex(slot, *end);
        }
        return std::nullopt;
    }

    // A task that could not be added. One named on the command line keeps the whole run from
    // converting; one found in a folder only keeps itself out, so that one bad file on a card
    // does not hold up the other takes.
    void Refuse(RunTask& task, std::optional<int> code, const std::string& message,
                const std::string& detail) {
        PrintError(task.Plan.Start, message, detail);
        task.Refusal = JsonError{code, message, {}};
        if (!detail.empty()) {
            task.Refusal->Details.push_back(detail);
        }
        (task.Plan.FoundInFolder ? m_FolderRefused : m_NamedRefused) = true;
    }

    CMorvexWorker& WorkerOf(const RunTask& task) { return *m_Batches[task.Batch].Worker; }

    // Why an added task cannot start as set (channel pairs of an odd count, say), if it cannot.
    std::optional<JsonError> BlockReason(const RunTask& task) {
        CMorvexWorker& worker = WorkerOf(task);
        const int state = worker.GetEntryState(task.Slot);
        if (state != morvex::kStateNoDestination && state != morvex::kStateCannotPair &&
            state != morvex::kStateFailed) {
            return std::nullopt;
        }
        const int code = worker.Entry(task.Slot).ErrorState;
        return JsonError{code != morvex::kErrorNone ? std::optional<int>(code) : std::nullopt,
                         InfoText(worker, task.Slot, morvex::kInfoState),
                         {}};
    }

    // --info: what each task would do, and what would keep it from doing so.
    int Analyse() {
        bool anyProblem = m_NamedRefused || m_FolderRefused;
        for (RunTask& task : m_Tasks) {
            if (task.Batch < 0) {
                ReportTask(task, "refused");
                continue;
            }
            CMorvexWorker& worker = WorkerOf(task);
            std::optional<JsonError> problem = BlockReason(task);
            if (problem) {
                PrintError(task.Plan.Start, problem->Message, "");
            } else {
                problem = OutputProblem(worker, task);
            }
            anyProblem = anyProblem || problem.has_value();
            if (m_Options.Json) {
                JsonTask json =
                    DescribeTask(worker, task.Slot, task.Number, problem ? "blocked" : "ready");
                json.Error = problem;
                PrintJson(json);
                task.Reported = true;
            } else {
                PrintTaskInfo(m_Console.Out, worker, task.Slot, task.Number,
                              problem ? BlockedText(*problem) : "");
                FlushOut();
            }
        }
        return anyProblem ? kExitFailed : kExitDone;
    }

    // The -i state of a task that cannot start: why, with the files and reasons.
    static std::string BlockedText(const JsonError& problem) {
        std::string text = "Blocked: " + problem.Message;
        for (size_t i = 0; i < problem.Details.size(); ++i) {
            text += (i == 0 ? " (" : "; ") + problem.Details[i];
        }
        return problem.Details.empty() ? text : text + ")";
    }

    // The outputs of the task that could not be created now, each reported.
    std::optional<JsonError> OutputProblem(const CMorvexWorker& worker, const RunTask& task) {
        const std::vector<std::string> outputs = OutputFileNames(worker, task.Slot);
        const uint64_t bytesNeeded = morvex::PlanOutputs(worker.Entry(task.Slot)).ConvertedBytes +
                                     outputs.size() * morvex::kOutputAllowanceBytes;
        const std::vector<std::string> problems =
            morvex::OutputPlaceProblems(outputs, bytesNeeded, !task.Plan.MakeFolder.empty());
        if (problems.empty()) {
            return std::nullopt;
        }
        const std::string message = ErrorText(worker, morvex::kErrorOutputCreate);
        for (const std::string& problem : problems) {
            PrintError(task.Plan.Start, message, problem);
        }
        return JsonError{morvex::kErrorOutputCreate, message, problems};
    }

    int Convert() {
        bool blocked = false;
        for (const RunTask& task : m_Tasks) {
            if (task.Batch >= 0) {
                if (const std::optional<JsonError> reason = BlockReason(task)) {
                    PrintError(task.Plan.Start, reason->Message, "");
                    blocked = true;
                }
            }
        }
        if (m_NamedRefused || blocked) {
            for (RunTask& task : m_Tasks) {
                ReportTask(task, task.Batch >= 0 && BlockReason(task) ? "blocked" : "skipped");
            }
            PrintLine("nothing converted");
            return kExitFailed;
        }
        for (RunTask& task : m_Tasks) {
            if (task.Batch < 0) {
                ReportTask(task, "refused");
            }
        }
        for (Batch& batch : m_Batches) {
            m_ToConvert += static_cast<int>(batch.Tasks.size());
        }
        bool anyFailed = m_FolderRefused;
        for (Batch& batch : m_Batches) {
            if (g_StopSignal != 0) {
                return Stopped(batch, false);
            }
            MakeOutputFolders(batch);
            const int status = ConvertBatch(batch);
            if (status > kExitFailed) {
                return status;
            }
            anyFailed = anyFailed || status == kExitFailed;
        }
        if (anyFailed) {
            return kExitFailed;
        }
        if (m_DoneWithWarning > 0) {
            PrintLine("every task converted, " + std::to_string(m_DoneWithWarning) +
                      " of them with a take warning (see above)");
            return kExitWarnings;
        }
        return kExitDone;
    }

    // Folders named by a base ending in "/", made just before their batch converts. A folder
    // that cannot be made is reported here; the engine then fails its task as it creates the
    // outputs.
    void MakeOutputFolders(const Batch& batch) {
        for (int index : batch.Tasks) {
            const RunTask& task = m_Tasks[index];
            if (!task.Plan.MakeFolder.empty()) {
                if (const std::string problem = MakeFolders(task.Plan.MakeFolder);
                    !problem.empty()) {
                    PrintError(task.Plan.Start, "the output folder cannot be made", problem);
                }
            }
        }
    }

    // Converts the tasks of one worker. Answers kExitDone, kExitFailed when a task failed, or
    // the status of a stop by signal.
    int ConvertBatch(Batch& batch) {
        CMorvexWorker& worker = *batch.Worker;
        const int count = static_cast<int>(batch.Tasks.size());
        bool anyFailed = false;
        bool taskRunning = false;
        worker.StartConversion(count);
        for (;;) {
            if (g_StopSignal != 0) {
                return Stopped(batch, taskRunning);
            }
            const int state = worker.ConversionStep();
            if (state == morvex::kConvRunOver) {
                break;
            }
            double fraction = 0;
            int current = -1;
            worker.GetConversionInfo(&fraction, &current);
            if (state == morvex::kConvStartTask) {
                // The engine's fraction counts the bytes of the channels converted.
                const uint64_t bytes = morvex::PlanOutputs(worker.Entry(current)).ConvertedBytes;
                m_Progress.TaskStarted(worker.GetDisplayName(current), ++m_Started, m_ToConvert,
                                       static_cast<double>(bytes));
            } else if (state == morvex::kConvNextTask) {
                // A step that answers 5 has ended task `current`, done or failed.
                anyFailed = !TaskEnded(m_Tasks[batch.Tasks[current]]) || anyFailed;
            } else {
                m_Progress.Update(fraction);
            }
            taskRunning = state != morvex::kConvNextTask;
        }
        return anyFailed || !worker.AllDone(count) ? kExitFailed : kExitDone;
    }

    // Reports a task the engine has ended; answers whether it is done.
    bool TaskEnded(RunTask& task) {
        const CMorvexWorker& worker = WorkerOf(task);
        if (worker.GetEntryState(task.Slot) == morvex::kStateDone) {
            m_Progress.TaskEnded(InfoText(worker, task.Slot, morvex::kInfoState), true);
            // Its outputs are exact for the files read, but may lack audio or be shifted.
            if (!TakeWarning(worker, task.Slot).empty()) {
                ++m_DoneWithWarning;
            }
            const std::vector<int> skipped = SkippedChannels(worker.Entry(task.Slot));
            if (!skipped.empty() && !m_Options.Quiet) {
                PrintLine(task.Plan.Start + ": skipped silent channels " + ChannelNumbers(skipped));
            }
            ReportTask(task, "done");
            if (!m_Options.Json && !m_Options.Quiet) {
                for (const std::string& name : OutputFileNames(worker, task.Slot)) {
                    std::fprintf(m_Console.Out, "%s\n", name.c_str());
                }
                FlushOut();
            }
            return true;
        }
        const std::string detail = FailureDetail(worker, task.Slot);
        m_Progress.TaskEnded(InfoText(worker, task.Slot, morvex::kInfoState) + " (" +
                                 (detail.empty() ? "output " + task.Plan.Base : detail) + ")",
                             false);
        ReportUnfinished(task, "failed");
        return false;
    }

    // Outputs a failed or stopped task could not delete, named on stderr and in --json.
    void ReportUnfinished(RunTask& task, const std::string& state) {
        const CMorvexWorker& worker = WorkerOf(task);
        JsonTask json = DescribeTask(worker, task.Slot, task.Number, state);
        for (int n = 0; n < worker.GetLeftOverCount(); ++n) {
            const std::string output = worker.GetLeftOverOutput(n);
            PrintError(output, "could not be deleted after the task ended unfinished", "");
            if (!json.Error) {
                json.Error = JsonError{std::nullopt, state, {}};
            }
            json.Error->Details.push_back(output + ": could not be deleted");
        }
        if (m_Options.Json && !task.Reported) {
            PrintJson(json);
        }
        task.Reported = true;
    }

    int Stopped(Batch& batch, bool taskRunning) {
        const int signal = g_StopSignal;
        CMorvexWorker& worker = *batch.Worker;
        // Between tasks (or before the first) no task is named, and nothing is deleted.
        double fraction = 0;
        int current = -1;
        if (taskRunning) {
            worker.GetConversionInfo(&fraction, &current);
        }
        worker.StopConversion();
        m_Progress.Interrupt();
        if (taskRunning && current >= 0) {
            RunTask& task = m_Tasks[batch.Tasks[current]];
            const bool leftOver = worker.GetLeftOverCount() > 0;
            PrintError(task.Plan.Start,
                       leftOver ? "stopped; some of its output files could not be deleted"
                                : "stopped; its output files were deleted",
                       "");
            ReportUnfinished(task, "stopped");
        } else {
            PrintLine("stopped");
        }
        for (RunTask& task : m_Tasks) {
            ReportTask(task, "skipped");
        }
        return kExitSignalBase + signal;
    }

    // --json: the task's object, once; refused tasks say why they were refused.
    void ReportTask(RunTask& task, const std::string& state) {
        if (!m_Options.Json || task.Reported) {
            return;
        }
        task.Reported = true;
        if (task.Batch >= 0) {
            PrintJson(DescribeTask(WorkerOf(task), task.Slot, task.Number, state));
            return;
        }
        JsonTask json;
        json.Task = task.Number;
        json.Start = task.Plan.Start;
        json.Inputs = task.Plan.Files.empty() ? std::vector{task.Plan.Start} : task.Plan.Files;
        json.Type = TypeName(m_Options.Type);
        json.OutputFormat = FormatName(m_Options.Format);
        json.State = "refused";
        json.Error = task.Refusal;
        if (m_Options.SkipSilent) {
            json.Skipped.emplace();
        }
        PrintJson(json);
    }

    // Printing.

    void PrintError(const std::string& subject, const std::string& message,
                    const std::string& detail) {
        PrintLine(subject + ": " + message + (detail.empty() ? "" : " (" + detail + ")"));
    }

    void PrintLine(const std::string& text) {
        m_Progress.Interrupt();
        std::fprintf(m_Console.Err, "morvex-split: %s\n", text.c_str());
        std::fflush(m_Console.Err);
    }

    void PrintJson(const JsonTask& task) {
        std::fprintf(m_Console.Out, "%s\n", JsonLine(task).c_str());
        FlushOut();
    }

    void FlushOut() {
        if ((std::fflush(m_Console.Out) != 0 || std::ferror(m_Console.Out)) && m_OutError == 0) {
            m_OutError = errno != 0 ? errno : EIO;
        }
    }

    // A list of outputs that never reached its reader is a failed run.
    int Finish(int status) {
        FlushOut();
        if (m_OutError != 0) {
            PrintError("standard output", "cannot be written", std::strerror(m_OutError));
            return status == kExitDone ? kExitFailed : status;
        }
        return status;
    }

    const SplitOptions& m_Options;
    const Console& m_Console;
    ProgressDisplay m_Progress;
    std::vector<RunTask> m_Tasks;
    std::vector<Batch> m_Batches;
    std::set<std::string> m_Bases; // of the tasks added: no two tasks of a run share one
    bool m_NamedRefused = false;
    bool m_FolderRefused = false;
    int m_ToConvert = 0;
    int m_Started = 0;
    int m_DoneWithWarning = 0; // tasks converted whose take has a warning
    int m_OutError = 0;        // errno of the first failed write to `out`
};

} // namespace

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
    SplitRunner runner(options, console);
    return runner.Run();
}

} // namespace morvexcli
