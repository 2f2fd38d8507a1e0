#include "TzFileHandler.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kNewFileMode = 0666; // narrowed by the umask, as for any new file
constexpr size_t kMaxNameBytes = 255;
// Writeback is started for every window of this many bytes that a write completes: large
// enough to keep the device's requests big, small enough that little is left for the sync. Per
// file: the 32 mono outputs of a take each grow at a 32nd of its rate, and with 8 MiB most of a
// minute's take was still to be written at the sync (docs/benchmarks.md).
constexpr off_t kWritebackWindow = 2 << 20;

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

// Why a file that was opened is refused: fstat's own failure, or the kind of file it is.
int NotRegularError(const struct stat& info, int fstatError) {
    if (info.st_mode == 0) {
        return fstatError;
    }
    return S_ISDIR(info.st_mode) ? EISDIR : CTzFileHandler::kErrorNotRegularFile;
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
        const int error = errno;
        ::close(fd);
        errno = NotRegularError(info, error);
        return -1;
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status >= 0) {
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    }
    return fd;
}

// Starts writeback of every window that the bytes just written, ending at `end`, have completed:
// a large write may complete several, and each left out would wait for the final Sync.
// Only a hint: the data is made durable by Sync, so its answer does not matter.
void StartWriteback(int fd, off_t end, uint32_t written) {
    const off_t lastWindowEnd = end / kWritebackWindow * kWritebackWindow;
    const off_t firstWindowStart =
        (end - static_cast<off_t>(written)) / kWritebackWindow * kWritebackWindow;
    if (lastWindowEnd <= firstWindowStart) {
        return;
    }
    ::sync_file_range(fd, firstWindowStart, lastWindowEnd - firstWindowStart,
                      SYNC_FILE_RANGE_WRITE);
}

} // namespace

const char* CTzFileHandler::ErrorText(int error) {
    return error == kErrorNotRegularFile ? "not a regular file" : std::strerror(error);
}

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
        errno = EBADF;
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
            if (n == 0) {
                errno = EIO;
            }
            break; // disk full, file size limit or I/O error: the short count reports it
        }
        done += static_cast<uint32_t>(n);
    }
    if (done > 0) {
        const int savedErrno = errno;
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (end > 0) {
            StartWriteback(fd, end, done);
        }
        errno = savedErrno;
    }
    return done;
}

uint32_t CTzFileHandler::Read(uint32_t ref, void* buffer, uint32_t count) {
    const int fd = ToFd(ref);
    if (fd < 0 || buffer == nullptr || count == kReadFailed) {
        errno = EBADF;
        return kReadFailed;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return kReadFailed; // a failing device, a file gone bad: never the end of the file
        }
        if (n == 0) {
            break;
        }
        done += static_cast<uint32_t>(n);
    }
    return done;
}

uint32_t CTzFileHandler::ReadAt(uint32_t ref, uint64_t position, void* buffer, uint32_t count) {
    const int fd = ToFd(ref);
    if (fd < 0 || buffer == nullptr || count == kReadFailed ||
        position > static_cast<uint64_t>(INT64_MAX)) {
        errno = EBADF;
        return kReadFailed;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n =
            ::pread(fd, bytes + done, count - done, static_cast<off_t>(position + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return kReadFailed;
        }
        if (n == 0) {
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

uint64_t CTzFileHandler::Length(uint32_t ref) {
    struct stat info {};
    const int fd = ToFd(ref);
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        return kUnknownLength;
    }
    return static_cast<uint64_t>(info.st_size);
}

int CTzFileHandler::Sync(uint32_t ref) {
    const int fd = ToFd(ref);
    if (fd < 0) {
        errno = EBADF;
        return 0;
    }
    int result;
    do {
        result = ::fdatasync(fd);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 1 : 0;
}

int CTzFileHandler::SyncFolder(const char* path) {
    if (path == nullptr || !HasDirectoryPart(path)) {
        errno = ENOENT;
        return 0;
    }
    const std::string folder(path, static_cast<size_t>(std::strrchr(path, '/') - path));
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    const int savedErrno = errno;
    ::close(fd);
    errno = savedErrno;
    return result == 0 ? 1 : 0;
}

int CTzFileHandler::IsFileAt(uint32_t ref, const char* path) {
    struct stat open {
    }, named{};
    const int fd = ToFd(ref);
    if (fd < 0 || path == nullptr || ::fstat(fd, &open) != 0 || ::lstat(path, &named) != 0) {
        return 0;
    }
    if (open.st_dev != named.st_dev || open.st_ino != named.st_ino) {
        errno = ESTALE;
        return 0;
    }
    return 1;
}

int CTzFileHandler::CopyModificationTime(uint32_t ref, const char* fromPath) {
    struct stat source {};
    const int fd = ToFd(ref);
    if (fd < 0 || fromPath == nullptr || ::stat(fromPath, &source) != 0) {
        return 0;
    }
    const timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
    return ::futimens(fd, times) == 0 ? 1 : 0;
}

int CTzFileHandler::Find(const char* path) {
    const uint32_t ref = Open(path, kModeRead);
    if (ref == 0) {
        return 0;
    }
    Close(ref);
    return 1;
}
