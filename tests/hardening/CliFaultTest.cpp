// Faults of a whole morvex-split process: a disk that fills up, and a SIGKILL in the middle of
// a task.
#include "HardeningUtil.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace hardening;

namespace {

// Starts morvex-split with its output streams in `dir`; a file size limit if `fileLimit` > 0.
pid_t Spawn(const std::vector<std::string>& args, const std::string& dir, rlim_t fileLimit = 0) {
    std::vector<char*> argv{const_cast<char*>(MORVEX_SPLIT_PATH)};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const std::string out = dir + "/stdout.txt";
    const std::string err = dir + "/stderr.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::freopen(out.c_str(), "w", stdout);
        ::freopen(err.c_str(), "w", stderr);
        if (fileLimit > 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{fileLimit, fileLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

std::string Slurp(const std::string& path) {
    const Bytes bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
}

uint64_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

} // namespace

TEST(CliFaults, DiskFullFailsTheTaskAndTheNextOneConverts) {
    TempDir in;
    TempDir out;
    const Take big = WriteTake(in.Path(), 1, 2, 16, 600000, {1200001});
    const Take small = WriteTake(in.Path(), 2, 3, 24, 2000);
    const pid_t pid = Spawn({big.Paths[0], out.File("big"), small.Paths[0], out.File("small")},
                            in.Path(), 1 << 20);
    const int status = Wait(pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = Slurp(in.File("stderr.txt"));
    EXPECT_NE(err.find(big.Paths[0] + ": Output file can not be written."), std::string::npos)
        << err;
    EXPECT_EQ(ListDir(out.Path()),
              (std::vector<std::string>{"small_01.wav", "small_02.wav", "small_03.wav"}));
    ExpectOutputHolds(out.File("small_03.wav"), small, 2, 1, small.Frames());
}

// The source is untouched, and every output left behind carries the provisional header: it reads
// as the whole frames written so far, never as a file of another length.
TEST(CliFaults, KillMidTaskLeavesReadableOutputs) {
    TempDir in;
    TempDir out;
    Take take;
    take.Format.channels = 2;
    take.Stream.resize(48U << 20); // 48 MiB in three files: the kill lands well before the end
    for (size_t i = 0; i < take.Stream.size(); ++i) {
        take.Stream[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    }
    take.Paths = testtake::WriteTake(in.Path(), 1, 1, take.Format, take.Stream,
                                     {(16U << 20) + 1, (32U << 20) + 3});
    std::vector<Bytes> sources;
    for (const std::string& path : take.Paths) {
        sources.push_back(ReadAll(path));
    }
    const std::string first = out.File("k_01.wav");
    const pid_t pid = Spawn({"-q", take.Paths[0], out.File("k")}, in.Path());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (FileSize(first) <= 80 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::kill(pid, SIGKILL);
    const int status = Wait(pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before the kill";

    for (size_t i = 0; i < take.Paths.size(); ++i) {
        EXPECT_TRUE(ReadAll(take.Paths[i]) == sources[i]) << take.Paths[i];
    }
    for (int channel = 0; channel < 2; ++channel) {
        const std::string path = OutputName(out.File("k"), channel, morvex::kFormatWav);
        SCOPED_TRACE(path);
        const Bytes output = ReadAll(path);
        if (output.empty()) {
            continue; // created, nothing written yet: no reader opens it
        }
        ASSERT_GE(output.size(), 80U);
        EXPECT_EQ(std::memcmp(output.data(), "RIFF\xff\xff\xff\xffWAVE", 12), 0);
        EXPECT_EQ(std::memcmp(output.data() + 72, "data\xff\xff\xff\xff", 8), 0);
        ExpectOutputHolds(path, take, channel, 1, (output.size() - 80) / 2);
    }
}
