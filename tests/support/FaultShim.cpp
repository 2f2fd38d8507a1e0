// Faults injected into the real system calls of a process, for tests. Linked into a test program
// or preloaded (LD_PRELOAD) into a child, it stands in for read, write, fdatasync,
// sync_file_range and unlink; each acts normally unless its variable is set:
//   MORVEX_FAULT_READ_FILE, MORVEX_FAULT_READ_AT: reads of that file (by device and inode) stop
//       at that byte as a failing disk does: what lies before it is read, then EIO.
//   MORVEX_FAULT_SYNC: fdatasync fails with EIO.
//   MORVEX_FAULT_SYNC_DELAY_MS: fdatasync takes this long first, as a slow card does.
//   MORVEX_FAULT_UNLINK: unlinking a path that contains this text fails with EACCES.
//   MORVEX_FAULT_WRITE_RATE: writes to regular files go at this many bytes per second, as on a
//       slow USB stick.
//   MORVEX_FAULT_WRITE_HOLD, MORVEX_FAULT_SYNC_HOLD, MORVEX_FAULT_CLOSE_HOLD: a gate file. While
//       it exists, writes (fdatasyncs, closes) of files in its folder wait, at most
//       kLongestHoldMs, as on a device that has stopped answering (the last close of a deleted
//       file waits for the writeback started on it).
// Linked into a test program, it also answers how many calls are being held, what reached the
// gated folder, and which ranges sync_file_range was asked to write back (MorvexFault* below).
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kLongestHoldMs = 3000;
constexpr useconds_t kHoldPollUs = 1000;
constexpr double kMicrosecondsPerSecond = 1e6;

std::atomic<int> g_HeldCalls{0};
std::atomic<long long> g_GatedBytes{0}; // written to files in the write gate's folder
std::atomic<int> g_GatedSyncs{0};       // fdatasyncs begun on files in the sync gate's folder
std::atomic<int> g_GatedCloses{0};      // closes begun of files in the close gate's folder
std::mutex g_WritebackLock;
constexpr size_t kMostWritebackKept = 4096;
std::vector<std::pair<long long, long long>> g_Writeback; // (offset, bytes) of each call

template <typename Fn> Fn Next(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

// The byte at which reads of `fd` fail, or -1 when they do not.
off_t FailingByte(int fd) {
    const char* file = std::getenv("MORVEX_FAULT_READ_FILE");
    const char* at = std::getenv("MORVEX_FAULT_READ_AT");
    struct stat target {
    }, open{};
    if (file == nullptr || at == nullptr || ::stat(file, &target) != 0 || ::fstat(fd, &open) != 0 ||
        target.st_dev != open.st_dev || target.st_ino != open.st_ino) {
        return -1;
    }
    return static_cast<off_t>(std::strtoll(at, nullptr, 10));
}

bool IsRegularFile(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// Whether `fd` is a file in the folder of `gate`.
bool InFolderOf(int fd, const char* gate) {
    char path[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), path, sizeof path - 1);
    const char* slash = std::strrchr(gate, '/');
    if (length <= 0 || slash == nullptr) {
        return false;
    }
    const auto folderLength = static_cast<size_t>(slash - gate + 1);
    return static_cast<size_t>(length) > folderLength &&
           std::strncmp(path, gate, folderLength) == 0;
}

// Answers whether `fd` is behind the gate that the variable names.
bool HoldWhileGateExists(int fd, const char* variable) {
    const char* gate = std::getenv(variable);
    if (gate == nullptr || !InFolderOf(fd, gate)) {
        return false;
    }
    if (::access(gate, F_OK) != 0) {
        return true;
    }
    ++g_HeldCalls;
    for (int waited = 0; waited < kLongestHoldMs && ::access(gate, F_OK) == 0; ++waited) {
        ::usleep(kHoldPollUs);
    }
    --g_HeldCalls;
    return true;
}

void Throttle(size_t count) {
    const char* rate = std::getenv("MORVEX_FAULT_WRITE_RATE");
    if (rate == nullptr) {
        return;
    }
    const double bytesPerSecond = std::strtod(rate, nullptr);
    if (bytesPerSecond > 0) {
        ::usleep(static_cast<useconds_t>(static_cast<double>(count) / bytesPerSecond *
                                         kMicrosecondsPerSecond));
    }
}

} // namespace

extern "C" {

// How many writes and fdatasyncs are waiting at a gate now.
int MorvexFaultHeldCalls() {
    return g_HeldCalls.load();
}

// Bytes written so far to files in the write gate's folder.
long long MorvexFaultGatedBytes() {
    return g_GatedBytes.load();
}

// The fdatasyncs begun so far on files in the sync gate's folder.
int MorvexFaultGatedSyncs() {
    return g_GatedSyncs.load();
}

// The closes begun so far of files in the close gate's folder.
int MorvexFaultGatedCloses() {
    return g_GatedCloses.load();
}

// The ranges sync_file_range was asked for since the last call (at most `most`), forgotten
// then. Answers how many were written to `offsets` and `bytes`.
int MorvexFaultTakeWriteback(long long* offsets, long long* bytes, int most) {
    const std::lock_guard<std::mutex> guard(g_WritebackLock);
    const int count = std::min(most, static_cast<int>(g_Writeback.size()));
    for (int i = 0; i < count; ++i) {
        offsets[i] = g_Writeback[static_cast<size_t>(i)].first;
        bytes[i] = g_Writeback[static_cast<size_t>(i)].second;
    }
    g_Writeback.clear();
    return count;
}

ssize_t write(int fd, const void* buffer, size_t count) {
    static const auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
    if (!IsRegularFile(fd)) {
        return real(fd, buffer, count);
    }
    const bool gated = HoldWhileGateExists(fd, "MORVEX_FAULT_WRITE_HOLD");
    Throttle(count);
    const ssize_t written = real(fd, buffer, count);
    if (gated && written > 0) {
        g_GatedBytes += written;
    }
    return written;
}

int sync_file_range(int fd, off64_t offset, off64_t bytes, unsigned int flags) {
    static const auto real = Next<int (*)(int, off64_t, off64_t, unsigned int)>("sync_file_range");
    {
        const std::lock_guard<std::mutex> guard(g_WritebackLock);
        if (g_Writeback.size() < kMostWritebackKept) {
            g_Writeback.emplace_back(offset, bytes);
        }
    }
    return real(fd, offset, bytes, flags);
}

ssize_t read(int fd, void* buffer, size_t count) {
    static const auto real = Next<ssize_t (*)(int, void*, size_t)>("read");
    const off_t failAt = FailingByte(fd);
    if (failAt >= 0) {
        const off_t position = ::lseek(fd, 0, SEEK_CUR);
        if (position >= failAt) {
            errno = EIO;
            return -1;
        }
        count = std::min<size_t>(count, static_cast<size_t>(failAt - position));
    }
    return real(fd, buffer, count);
}

int fdatasync(int fd) {
    static const auto real = Next<int (*)(int)>("fdatasync");
    if (const char* gate = std::getenv("MORVEX_FAULT_SYNC_HOLD");
        gate != nullptr && InFolderOf(fd, gate)) {
        ++g_GatedSyncs;
        HoldWhileGateExists(fd, "MORVEX_FAULT_SYNC_HOLD");
    }
    if (const char* delay = std::getenv("MORVEX_FAULT_SYNC_DELAY_MS")) {
        ::usleep(static_cast<useconds_t>(std::strtoul(delay, nullptr, 10) * 1000));
    }
    if (std::getenv("MORVEX_FAULT_SYNC") != nullptr) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

int close(int fd) {
    static const auto real = Next<int (*)(int)>("close");
    if (const char* gate = std::getenv("MORVEX_FAULT_CLOSE_HOLD");
        gate != nullptr && IsRegularFile(fd) && InFolderOf(fd, gate)) {
        ++g_GatedCloses;
        HoldWhileGateExists(fd, "MORVEX_FAULT_CLOSE_HOLD");
    }
    return real(fd);
}

int unlink(const char* path) {
    static const auto real = Next<int (*)(const char*)>("unlink");
    const char* failing = std::getenv("MORVEX_FAULT_UNLINK");
    if (failing != nullptr && std::strstr(path, failing) != nullptr) {
        errno = EACCES;
        return -1;
    }
    return real(path);
}

} // extern "C"
