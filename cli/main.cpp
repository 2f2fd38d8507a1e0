#include "CommandLine.h"
#include "SplitRun.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    using namespace morvexcli;
    morvexcli::InstallSignalHandlers();
    const ParseResult parsed = ParseCommandLine(argc, argv, stdout, stderr);
    if (!parsed.Options) {
        // Help that never reached its reader is no success either.
        if (parsed.ExitStatus == kExitDone && std::ferror(stdout)) {
            std::fputs("morvex-split: standard output: cannot be written\n", stderr);
            return kExitFailed;
        }
        return parsed.ExitStatus;
    }
    Console console;
    console.ErrIsTerminal = ::isatty(STDERR_FILENO) == 1;
    return RunSplit(*parsed.Options, console);
}
