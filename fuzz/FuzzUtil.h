#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Shared by the fuzz targets.
namespace fuzzutil {

// A broken invariant is a crash the fuzzer reports with its input.
inline void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// The whole file in one read; empty when it cannot be read.
inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::fseek(file, 0, SEEK_END);
        const long size = std::ftell(file);
        bytes.resize(size > 0 ? static_cast<size_t>(size) : 0);
        std::fseek(file, 0, SEEK_SET);
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
        std::fclose(file);
    }
    return bytes;
}

} // namespace fuzzutil
