#pragma once

#include <cstdint>

// The engine's one way to touch files. Holds no state: every operation works only on the
// path or reference it is given. A reference is positive and unique among open files;
// 0 means "no file" or failure.
class CTzFileHandler {
public:
    static constexpr int kModeRead = 0;
    static constexpr int kModeWrite = 1;

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
    // Bytes actually written; fewer than count only on failure.
    uint32_t Write(uint32_t ref, const void* buffer, uint32_t count);
    // Bytes actually read; fewer than count at the end of the file or on failure.
    uint32_t Read(uint32_t ref, void* buffer, uint32_t count);
    // 1 on success, 0 on failure.
    int Close(uint32_t ref);
    // 1 if the file exists and can be opened for reading.
    int Find(const char* path);
};
