#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Runs the built morvex-split as the user would: as a child process with its own streams.
namespace splitprocess {

struct Result {
    int ExitStatus = -1; // the exit code; -1 when the child did not exit normally
    int Signal = 0;      // the signal that killed it, 0 if none
    std::string Out;
    std::string Err;
};

struct Options {
    std::string WorkingDirectory; // empty: the test's own
    long long FileSizeLimit = -1; // RLIMIT_FSIZE in bytes; -1 leaves it unlimited
};

// Runs to the end with stdout and stderr on pipes (not a terminal).
Result Run(const std::vector<std::string>& args, const Options& options = {});

// A child on a pseudo-terminal, so that it draws its live progress; stdout and stderr both go to
// the terminal.
class TerminalRun {
public:
    explicit TerminalRun(const std::vector<std::string>& args);
    ~TerminalRun();
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    // Reads the terminal until `text` shows up; false when the child ends or time runs out first.
    bool WaitFor(const std::string& text, int timeoutMs);
    void Send(int signal) const;
    // Reads the rest of the output and reaps the child.
    Result Finish(int timeoutMs);
    const std::string& Output() const { return m_Output; }

private:
    bool ReadSome(int timeoutMs);

    pid_t m_Pid = -1;
    int m_Master = -1;
    std::string m_Output;
};

} // namespace splitprocess
