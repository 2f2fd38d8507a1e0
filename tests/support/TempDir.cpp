#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    m_Path = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/morvex-test-XXXXXX";
    if (::mkdtemp(m_Path.data()) == nullptr) { // a std::string's bytes are writable since C++17
        throw std::runtime_error("mkdtemp failed for " + m_Path);
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_Path, ignored);
}
