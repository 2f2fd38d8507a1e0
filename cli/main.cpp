#include "CommandLine.h"
#include "SplitRun.h"

#include <unistd.h>

int main(int argc, char** argv) {
    using namespace morvexcli;
    morvexcli::InstallSignalHandlers();
    const ParseResult parsed = ParseCommandLine(argc, argv, stdout, stderr);
    if (!parsed.Options) {
        return parsed.ExitStatus;
    }
    Console console;
    console.ErrIsTerminal = ::isatty(STDERR_FILENO) == 1;
    return RunSplit(*parsed.Options, console);
}
