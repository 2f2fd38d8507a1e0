// Faults injected into the real system calls of a process, for tests. Linked into a test program
// or preloaded (LD_PRELOAD) into a child, it stands in for read, fdatasync and unlink; each acts
// normally unless its variable is set:
//   MORVEX_FAULT_READ_FILE, MORVEX_FAULT_READ_AT: reads of that file (by device and inode) stop
//       at that byte as a failing disk does: what lies before it is read, then EIO.
//   MORVEX_FAULT_SYNC: fdatasync fails with EIO.
//   MORVEX_FAULT_SYNC_DELAY_MS: fdatasync takes this long first, as a slow card does.
//   MORVEX_FAULT_UNLINK: unlinking a path that contains this text fails with EACCES.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

} // namespace

extern "C" {

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
