#pragma once

#include <cstdint>
#include <cstring>

// Explicit byte order for file headers, independent of the host's.
namespace morvex {

inline void PutLE16(uint8_t* out, uint16_t v) {
    out[0] = static_cast<uint8_t>(v);
    out[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutLE32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

inline void PutLE64(uint8_t* out, uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

inline void PutBE16(uint8_t* out, uint16_t v) {
    out[0] = static_cast<uint8_t>(v >> 8);
    out[1] = static_cast<uint8_t>(v);
}

inline void PutBE32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
    }
}

inline void PutBE64(uint8_t* out, uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<uint8_t>(v >> (8 * (7 - i)));
    }
}

inline void PutTag(uint8_t* out, const char (&tag)[5]) {
    std::memcpy(out, tag, 4);
}

inline uint16_t GetLE16(const uint8_t* in) {
    return static_cast<uint16_t>(in[0] | (in[1] << 8));
}

inline uint32_t GetLE32(const uint8_t* in) {
    return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
           (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

inline uint64_t GetLE64(const uint8_t* in) {
    return static_cast<uint64_t>(GetLE32(in)) | (static_cast<uint64_t>(GetLE32(in + 4)) << 32);
}

inline bool HasTag(const uint8_t* at, const char (&tag)[5]) {
    return std::memcmp(at, tag, 4) == 0;
}

} // namespace morvex
