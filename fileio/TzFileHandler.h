#pragma once

#include <cstdint>

// The engine's one way to touch files. Holds no state: every operation works only on the
// path or reference it is given. A reference is positive and unique among open files;
// 0 means "no file" or failure. A failing operation leaves the system's reason in errno.
class CTzFileHandler {
public:
    static constexpr int kModeRead = 0;
    static constexpr int kModeWrite = 1;
    // What Read answers when the system reports a failure: never a count, since no read asks
    // for this many bytes. The end of a file is a short count, never this.
    static constexpr uint32_t kReadFailed = 0xFFFFFFFFU;
    // What Length answers when the size cannot be had.
    static constexpr uint64_t kUnknownLength = ~0ULL;
    // The errno Open leaves when the path names something other than a regular file or a
    // directory (a FIFO, a device, a socket): no system code says so. A directory leaves EISDIR.
    static constexpr int kErrorNotRegularFile = 0x4000;

    // The text for an errno this handler left: the system's, or "not a regular file".
    static const char* ErrorText(int error);

    CTzFileHandler() = default;
    ~CTzFileHandler() = default;

    // 1 if the file was deleted, 0 otherwise.
    int Delete(const char* path);
    // A new, empty file opened for writing; 0 if the name exists or cannot be made.
    // An existing file is never opened, truncated or followed through a link.
    uint32_t Create(const char* path);
    // Opens an existing regular file: mode 0 reads, 1 writes, any other mode whatever is allowed.
    uint32_t Open(const char* path, int mode);
    // 1 on success, 0 on failure.
    int Seek(uint32_t ref, uint64_t position);
    // Bytes actually written; fewer than count only on failure. Writeback of what has been
    // written starts early, so that a final Sync has little left to wait for.
    uint32_t Write(uint32_t ref, const void* buffer, uint32_t count);
    // Bytes actually read; fewer than count only at the end of the file; kReadFailed when the
    // system reports a failure (whatever was read before it is not counted).
    uint32_t Read(uint32_t ref, void* buffer, uint32_t count);
    // Like Read, from `position` on, without moving the position that Read goes on from.
    uint32_t ReadAt(uint32_t ref, uint64_t position, void* buffer, uint32_t count);
    // 1 on success, 0 on failure.
    int Close(uint32_t ref);
    // 1 if the file exists and can be opened for reading.
    int Find(const char* path);

    // Beyond the eight above: what a conversion needs to know that its outputs are durable and
    // where they were made, and how long its sources are.
    // Size of an open file in bytes; kUnknownLength on failure.
    uint64_t Length(uint32_t ref);
    // 1 when the file's data has reached the storage device (fdatasync).
    int Sync(uint32_t ref);
    // 1 when the folder holding `path` has its entries on the storage device.
    int SyncFolder(const char* path);
    // 1 when `path` names the open file (same device and inode), 0 when it names another or none.
    int IsFileAt(uint32_t ref, const char* path);
    // Gives the open file the modification time of the file at `fromPath`; 1 on success.
    int CopyModificationTime(uint32_t ref, const char* fromPath);
};
