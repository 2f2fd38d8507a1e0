#include "OutputCheck.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace morvexcli {

namespace {

namespace fs = std::filesystem;

std::string Problem(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
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

// A missing folder can be created when its nearest existing ancestor is a writable directory.
std::string CreationProblem(const std::string& folder) {
    fs::path ancestor = fs::path(folder).parent_path();
    while (!Exists(ancestor.string()) && ancestor.has_relative_path()) {
        ancestor = ancestor.parent_path();
    }
    const int error = FolderError(ancestor.string());
    return error == 0 ? "" : folder + ": cannot be created: " + Problem(ancestor.string(), error);
}

} // namespace

std::vector<std::string> OutputProblems(const std::vector<std::string>& outputs,
                                        const std::string& folderToMake) {
    if (outputs.empty()) {
        return {};
    }
    const std::string folder = fs::path(outputs.front()).parent_path().string();
    if (!folderToMake.empty() && !Exists(folder)) {
        const std::string problem = CreationProblem(folder);
        return problem.empty() ? std::vector<std::string>{} : std::vector<std::string>{problem};
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
    return problems;
}

std::string MakeFolders(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        return folder + ": cannot be created: " + error.message();
    }
    return "";
}

} // namespace morvexcli
