// Faults in the system calls of a test program or a child (LD_PRELOAD), each set by a variable:
//   MORVEX_FAULT_READ_FILE, MORVEX_FAULT_READ_AT: reads of that file (by device and inode) stop
//       at that byte as a failing disk does: what lies before it is read, then EIO.
//   MORVEX_FAULT_SYNC: fdatasync fails with EIO.
//   MORVEX_FAULT_SYNC_DELAY_MS: fdatasync takes this long first, as a slow card does.
//   MORVEX_FAULT_UNLINK: unlinking a path that contains this text fails with EACCES.
//   MORVEX_FAULT_WRITE_RATE: bytes per second written to regular files, as on a slow USB stick.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr double kMicrosecondsPerSecond = 1e6;

template <typename Fn> Fn Next(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

// The byte at which reads of `fd` fail, or -1 when they do not.
off_t FailingByte(int fd) {
    const char* file = std::getenv("MORVEX_FAULT_READ_FILE");
    const char* at = std::getenv("MORVEX_FAULT_READ_AT");
    struct stat target = {}, open = {};
    if (file == nullptr || at == nullptr || ::stat(file, &target) != 0 || ::fstat(fd, &open) != 0 ||
        target.st_dev != open.st_dev || target.st_ino != open.st_ino) {
        return -1;
    }
    return static_cast<off_t>(std::strtoll(at, nullptr, 10));
}

void Throttle(int fd, size_t count) {
    const char* rate = std::getenv("MORVEX_FAULT_WRITE_RATE");
    struct stat info {};
    const double bytesPerSecond = rate != nullptr ? std::strtod(rate, nullptr) : 0;
    if (bytesPerSecond > 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        ::usleep(static_cast<useconds_t>(static_cast<double>(count) / bytesPerSecond *
                                         kMicrosecondsPerSecond));
    }
}

} // namespace

extern "C" {

ssize_t write(int fd, const void* buffer, size_t count) {
    static const auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
    Throttle(fd, count);
    return real(fd, buffer, count);
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
    if (const char* delay = std::getenv("MORVEX_FAULT_SYNC_DELAY_MS")) {
        ::usleep(static_cast<useconds_t>(std::strtoul(delay, nullptr, 10) * 1000));
    }
    if (std::getenv("MORVEX_FAULT_SYNC") != nullptr) {
        errno = EIO;
        return -1;
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
