#include "TzFileHandler.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file
constexpr size_t kMaxNameBytes = 255;

// References are descriptors shifted by one, so that descriptor 0 still gives a valid reference.
uint32_t ToRef(int fd) {
    return static_cast<uint32_t>(fd) + 1U;
}

int ToFd(uint32_t ref) {
    if (ref == 0 || ref > static_cast<uint32_t>(INT_MAX)) {
        return -1;
    }
    return static_cast<int>(ref - 1U);
}

// The directory part of a path ends at its last '/', but never at its first character: a bare
// name or "/name" has no directory part and cannot be created.
bool HasDirectoryPart(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr && slash != path;
}

bool NameFits(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    const size_t length = std::strlen(name);
    return length > 0 && length <= kMaxNameBytes;
}

int AccessFlags(int mode) {
    switch (mode) {
    case CTzFileHandler::kModeRead:
        return O_RDONLY;
    case CTzFileHandler::kModeWrite:
        return O_WRONLY;
    default:
        return O_RDWR;
    }
}

// Opens without blocking (a FIFO would otherwise wait for a writer) and accepts only regular
// files: a directory or device is no audio file.
int OpenRegularFile(const char* path, int flags) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status >= 0) {
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    }
    return fd;
}

} // namespace

int CTzFileHandler::Delete(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        return 0;
    }
    return ::unlink(path) == 0 ? 1 : 0;
}

uint32_t CTzFileHandler::Create(const char* path) {
    if (path == nullptr || !HasDirectoryPart(path) || !NameFits(path)) {
        return 0;
    }
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                    kNewFileMode);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? 0 : ToRef(fd);
}

uint32_t CTzFileHandler::Open(const char* path, int mode) {
    if (path == nullptr || path[0] == '\0') {
        return 0;
    }
    int fd = OpenRegularFile(path, AccessFlags(mode));
    if (fd < 0 && mode != kModeRead && mode != kModeWrite) {
        // "Whatever is allowed": fall back to the single directions.
        fd = OpenRegularFile(path, O_RDONLY);
        if (fd < 0) {
            fd = OpenRegularFile(path, O_WRONLY);
        }
    }
    return fd < 0 ? 0 : ToRef(fd);
}

int CTzFileHandler::Seek(uint32_t ref, uint64_t position) {
    const int fd = ToFd(ref);
    if (fd < 0 || position > static_cast<uint64_t>(INT64_MAX)) {
        return 0;
    }
    return ::lseek(fd, static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position) ? 1
                                                                                               : 0;
}

uint32_t CTzFileHandler::Write(uint32_t ref, const void* buffer, uint32_t count) {
    const int fd = ToFd(ref);
    if (fd < 0 || buffer == nullptr) {
        return 0;
    }
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break; // disk full, file size limit or I/O error: the short count reports it
        }
        done += static_cast<uint32_t>(n);
    }
    return done;
}

uint32_t CTzFileHandler::Read(uint32_t ref, void* buffer, uint32_t count) {
    const int fd = ToFd(ref);
    if (fd < 0 || buffer == nullptr) {
        return 0;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    return done;
}

int CTzFileHandler::Close(uint32_t ref) {
    const int fd = ToFd(ref);
    if (fd < 0) {
        return 0;
    }
    // Linux releases the descriptor even when close reports EINTR, so it is never retried.
    return ::close(fd) == 0 ? 1 : 0;
}

int CTzFileHandler::Find(const char* path) {
    const uint32_t ref = Open(path, kModeRead);
    if (ref == 0) {
        return 0;
    }
    Close(ref);
    return 1;
}
