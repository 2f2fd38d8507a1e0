#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it when it goes.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        m_Path =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/morvex-test-XXXXXX";
        if (::mkdtemp(m_Path.data()) == nullptr) { // a std::string's bytes are writable since C++17
            throw std::runtime_error("mkdtemp failed for " + m_Path);
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_Path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_Path; }
    std::string File(const std::string& name) const { return m_Path + "/" + name; }

private:
    std::string m_Path;
};
