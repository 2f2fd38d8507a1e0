#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>

namespace morvex {

// Joins texts into a note of `size` bytes, cut short where it must be: a note names a file first,
// and a name of 255 bytes beside a long path must still leave a note, never a failure.
inline void JoinNote(char* out, size_t size, std::initializer_list<const char*> parts) {
    size_t length = 0;
    for (const char* part : parts) {
        const size_t take = std::min(std::strlen(part), size - 1 - length);
        std::memcpy(out + length, part, take);
        length += take;
    }
    out[length] = '\0';
}

} // namespace morvex
