#include "TakeName.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace morvex {

namespace {

constexpr size_t kSchemeNameLength = 12; // MKZ01_01.WAV
constexpr size_t kTakeNumberAt = 3;      // within the scheme name
constexpr size_t kFileNumberAt = 6;
constexpr size_t kFileNumberDigits = 2;
constexpr const char* kRecorderExtension = ".WAV";

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// A separator within the name: a '/' would make the twelve characters span a folder.
bool IsSeparator(char c) {
    return c != '/';
}

int TwoDigits(const char* at) {
    return (at[0] - '0') * 10 + (at[1] - '0');
}

} // namespace

bool ParseTakeName(const char* path, TakeName& name) {
    const size_t length = path != nullptr ? std::strlen(path) : 0;
    if (length < kSchemeNameLength) {
        return false;
    }
    const char* c = path + length - kSchemeNameLength;
    if (strncasecmp(c, "MKZ", 3) != 0 || !IsDigit(c[3]) || !IsDigit(c[4]) || !IsSeparator(c[5]) ||
        !IsDigit(c[6]) || !IsDigit(c[7]) || !IsSeparator(c[8]) ||
        strncasecmp(c + 9, "WAV", 3) != 0) {
        return false;
    }
    const char* slash = std::strrchr(path, '/');
    name.Take = TwoDigits(c + kTakeNumberAt);
    name.File = TwoDigits(c + kFileNumberAt);
    name.NameAt = slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
    name.NumberAt = length - kSchemeNameLength + kFileNumberAt;
    return true;
}

bool RenderTakeFile(const char* path, const TakeName& name, int number, bool recorderExtension,
                    char* out, size_t size) {
    if (number < 0 || name.NumberAt + (kSchemeNameLength - kFileNumberAt) != std::strlen(path) ||
        name.NumberAt >= size) {
        return false;
    }
    const char* rest =
        recorderExtension ? kRecorderExtension : path + name.NumberAt + kFileNumberDigits;
    std::memcpy(out, path, name.NumberAt);
    const size_t room = size - name.NumberAt;
    const int written = std::snprintf(out + name.NumberAt, room, "%02i%s", number, rest);
    // File numbers of 100 and more add a digit; a path that no longer fits names no file.
    return written > 0 && static_cast<size_t>(written) < room;
}

} // namespace morvex
