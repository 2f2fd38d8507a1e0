#include "SplitProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace splitprocess {

namespace {

constexpr int kRunTimeoutMs = 120000;

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
    int outPipe[2];
    int errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<char*> argv = ArgVector(args);
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        ::close(errPipe[0]);
        ::close(errPipe[1]);
        ExecChild(argv.data(), options);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);

    Result result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.Out, &result.Err};
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kRunTimeoutMs);
    int open = 2;
    while (open > 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, 1000) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                char buffer[4096];
                const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    sinks[i]->append(buffer, static_cast<size_t>(got));
                } else if (got == 0 || errno != EINTR) {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    for (pollfd& fd : fds) {
        if (fd.fd >= 0) {
            ::close(fd.fd);
        }
    }
    return Reap(pid, std::move(result));
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
