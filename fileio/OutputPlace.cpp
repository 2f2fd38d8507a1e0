#include "OutputPlace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace morvex {

namespace {

constexpr double kBytesPerGB = 1073741824.0; // as the window shows sizes

std::string Problem(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// 0 when `folder` is a directory this process may create files in, or the errno that says why
// not.
int FolderError(const std::string& folder) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) {
        return errno;
    }
    if (!S_ISDIR(info.st_mode)) {
        return ENOTDIR;
    }
    return ::access(folder.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

bool Exists(const std::string& path) {
    struct stat info {};
    // A link to nothing is still a name in the way.
    return ::lstat(path.c_str(), &info) == 0;
}

// "" when the folder's file system has room for `bytesNeeded`, or when it cannot tell.
std::string SpaceProblem(const std::string& folder, uint64_t bytesNeeded) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) {
        return "";
    }
    const uint64_t available = uint64_t{info.f_bavail} * info.f_frsize;
    if (available >= bytesNeeded) {
        return "";
    }
    char amounts[96];
    std::snprintf(amounts, sizeof amounts, " (%.2f GB free, %.2f GB needed)",
                  static_cast<double>(available) / kBytesPerGB,
                  static_cast<double>(bytesNeeded) / kBytesPerGB);
    return Problem(folder, ENOSPC) + amounts;
}

// The nearest folder of `folder`'s ancestors that exists, where a missing folder would be made.
std::string NearestExisting(std::string folder) {
    while (!Exists(folder) && folder != "/" && folder != ".") {
        folder = FolderOf(folder);
    }
    return folder;
}

} // namespace

std::vector<std::string> OutputPlaceProblems(const std::vector<std::string>& outputs,
                                             uint64_t bytesNeeded, bool folderMayBeMade) {
    if (outputs.empty()) {
        return {};
    }
    const std::string folder = FolderOf(outputs.front());
    if (folderMayBeMade && !Exists(folder)) {
        const std::string ancestor = NearestExisting(folder);
        if (const int error = FolderError(ancestor); error != 0) {
            return {folder + ": cannot be created: " + Problem(ancestor, error)};
        }
        std::string space = SpaceProblem(ancestor, bytesNeeded);
        return space.empty() ? std::vector<std::string>{} : std::vector<std::string>{space};
    }
    if (const int error = FolderError(folder); error != 0) {
        return {Problem(folder, error)};
    }
    std::vector<std::string> problems;
    for (const std::string& output : outputs) {
        if (Exists(output)) {
            problems.push_back(Problem(output, EEXIST));
        }
    }
    if (std::string space = SpaceProblem(folder, bytesNeeded); !space.empty()) {
        problems.push_back(std::move(space));
    }
    return problems;
}

} // namespace morvex
