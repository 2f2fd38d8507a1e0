#pragma once

#include "CommandLine.h"

#include <cstdio>
#include <string>
#include <vector>

class CMorvexWorker;

namespace morvexcli {

// Where the run writes: the list of output files to `out`, progress and messages to `err`.
struct Console {
    std::FILE* Out = stdout;
    std::FILE* Err = stderr;
    bool ErrIsTerminal = false;
};

// Absolute path of the start file; an absolute base that the engine completes with its suffix:
// a directory (an existing one, or any text ending in "/") takes the start file's name.
std::string AbsoluteStartPath(const std::string& startFile);
std::string AbsoluteOutputBase(const std::string& outputBase, const std::string& startFile);

// The names the engine gives the outputs of task `index`: the base, "_NN" with the first channel
// of each file, and the format's extension. The base as stored, without a ".wav" it cut off.
std::vector<std::string> OutputFileNames(const CMorvexWorker& worker, int index);

// Makes SIGINT, SIGTERM and SIGHUP ask the run to stop at the next step, and keeps SIGXFSZ and
// SIGPIPE from killing the process mid-task (a file size limit then shows as a failed write).
void InstallSignalHandlers();

// Adds the tasks to a worker, then analyses (--info) or converts them. Answers the exit status.
int RunSplit(const SplitOptions& options, const Console& console);

} // namespace morvexcli
