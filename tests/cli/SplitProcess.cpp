#include "SplitProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace splitprocess {

namespace {

std::vector<char*> ArgVector(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(MORVEX_SPLIT_PATH));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

// In the child: only async-signal-safe calls until exec.
[[noreturn]] void ExecChild(char* const* argv, const Options& options) {
    // Start from default dispositions whatever the test runner set.
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
        ::signal(signal, SIG_DFL);
    }
    if (!options.WorkingDirectory.empty() && ::chdir(options.WorkingDirectory.c_str()) != 0) {
        ::_exit(126);
    }
    if (options.FileSizeLimit >= 0) {
        const rlimit limit{static_cast<rlim_t>(options.FileSizeLimit),
                           static_cast<rlim_t>(options.FileSizeLimit)};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(126);
        }
    }
    ::execv(argv[0], argv);
    ::_exit(127);
}

Result Reap(pid_t pid, Result result) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.ExitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.Signal = WTERMSIG(status);
    }
    return result;
}

} // namespace

Result Run(const std::vector<std::string>& args, const Options& options) {
    // The streams go to unlinked files, read back once the child has ended: no pipe to fill.
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    std::vector<char*> argv = ArgVector(args);
    const pid_t pid = ::fork();
    if (pid < 0 || out == nullptr || err == nullptr) {
        throw std::runtime_error("cannot start morvex-split");
    }
    if (pid == 0) {
        ::dup2(::fileno(out), STDOUT_FILENO);
        ::dup2(::fileno(err), STDERR_FILENO);
        ExecChild(argv.data(), options);
    }
    Result result = Reap(pid, Result{});
    for (auto [file, text] : {std::pair{out, &result.Out}, std::pair{err, &result.Err}}) {
        std::rewind(file);
        char buffer[4096];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
            text->append(buffer, got);
        }
        std::fclose(file);
    }
    return result;
}

TerminalRun::TerminalRun(const std::vector<std::string>& args) {
    std::vector<char*> argv = ArgVector(args);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 100;
    m_Pid = ::forkpty(&m_Master, nullptr, nullptr, &size);
    if (m_Pid < 0) {
        throw std::runtime_error("forkpty failed");
    }
    if (m_Pid == 0) {
        ExecChild(argv.data(), Options{});
    }
}

TerminalRun::~TerminalRun() {
    if (m_Pid > 0) {
        ::kill(m_Pid, SIGKILL);
        ::waitpid(m_Pid, nullptr, 0);
    }
    if (m_Master >= 0) {
        ::close(m_Master);
    }
}

bool TerminalRun::ReadSome(int timeoutMs) {
    pollfd fd{m_Master, POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) <= 0) {
        return true; // nothing yet; the child may still be running
    }
    char buffer[4096];
    const ssize_t got = ::read(m_Master, buffer, sizeof buffer);
    if (got > 0) {
        m_Output.append(buffer, static_cast<size_t>(got));
        return true;
    }
    return got < 0 && errno == EINTR; // EIO or 0: the child has closed the terminal
}

bool TerminalRun::WaitFor(const std::string& text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_Output.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || !ReadSome(50)) {
            return m_Output.find(text) != std::string::npos;
        }
    }
    return true;
}

void TerminalRun::Send(int signal) const {
    ::kill(m_Pid, signal);
}

Result TerminalRun::Finish(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (ReadSome(50)) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(m_Pid, SIGKILL);
            break;
        }
    }
    Result result;
    result.Out = m_Output;
    const pid_t pid = m_Pid;
    m_Pid = -1;
    return Reap(pid, std::move(result));
}

} // namespace splitprocess
