#pragma once

#include "CommandLine.h"

#include <cstdio>

namespace morvexcli {

// Where the run writes: the list of output files (or --json, or -i) to `out`, progress and
// messages to `err`.
struct Console {
    std::FILE* Out = stdout;
    std::FILE* Err = stderr;
    bool ErrIsTerminal = false;
};

// Makes SIGINT, SIGTERM and SIGHUP ask the run to stop at the next step, and keeps SIGXFSZ and
// SIGPIPE from killing the process mid-task (a file size limit then shows as a failed write).
void InstallSignalHandlers();

// Adds the tasks to workers, 30 to a worker, then analyses (--info) or converts them. Answers
// the exit status.
int RunSplit(const SplitOptions& options, const Console& console);

} // namespace morvexcli
