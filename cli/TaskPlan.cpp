#include "TaskPlan.h"

#include "MorvexWorker.h"
#include "OutputFormat.h"
#include "TakeName.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iterator>
#include <system_error>

namespace morvexcli {

namespace {

namespace fs = std::filesystem;

constexpr const char* kWavExtension = ".wav";

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// "a/./b" and "a//b" as "a/b": the same file, and the form that is printed. ".." is kept, since
// it need not lead back where a link came from; a trailing "/" is kept too.
std::string WithoutEmptySteps(const std::string& path) {
    fs::path clean;
    for (const fs::path& step : fs::path(path)) {
        if (step != ".") {
            clean /= step;
        }
    }
    return clean.empty() ? path : clean.string();
}

std::string Absolute(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return WithoutEmptySteps(error ? path : absolute.string());
}

void CutExtension(std::string& base, const std::string& extension) {
    if (base.size() > extension.size() &&
        Lower(base.substr(base.size() - extension.size())) == extension) {
        base.resize(base.size() - extension.size());
    }
}

std::string ResolveBase(const std::string& startFile, const std::string& outputBase, int format) {
    std::string base = Absolute(outputBase);
    std::error_code error;
    const bool folder = outputBase.back() == '/' || fs::is_directory(base, error);
    if (folder) {
        base = (fs::path(base) / fs::path(startFile).stem()).string();
    }
    // A take's own ".wav" goes, and the output format's extension where it is another.
    CutExtension(base, kWavExtension);
    morvex::OutputFormat known;
    if (morvex::ToOutputFormat(format, known) &&
        std::string(".") + morvex::Describe(known).Extension != kWavExtension) {
        CutExtension(base, std::string(".") + morvex::Describe(known).Extension);
    }
    return base;
}

// The folder a base ending in "/" names: the text before that "/", made absolute.
std::string FolderToMake(const std::string& outputBase) {
    if (outputBase.back() != '/') {
        return "";
    }
    std::string folder = Absolute(outputBase);
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

} // namespace

bool ListTakeFiles(const std::string& folder, std::vector<std::string>& files,
                   std::string& reason) {
    files.clear();
    std::error_code error;
    fs::directory_iterator it(folder, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        // An entry whose kind cannot be told is listed all the same: adding it names the fault.
        std::error_code kindError;
        morvex::TakeName takeName;
        if (morvex::ParseTakeName(name.c_str(), takeName) && !it->is_directory(kindError)) {
            files.push_back(Absolute(it->path().string()));
        }
    }
    if (error) {
        reason = error.message();
        return false;
    }
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        const std::string keyA = NameKey(a), keyB = NameKey(b);
        return keyA != keyB ? keyA < keyB : a < b;
    });
    return true;
}

PlannedTask PlanNamedTask(const std::string& startFile, const std::string& outputBase, int format) {
    PlannedTask task;
    task.Start = Absolute(startFile);
    task.Base = ResolveBase(startFile, outputBase, format);
    task.MakeFolder = FolderToMake(outputBase);
    return task;
}

PlannedTask PlanJoinedTask(const std::vector<std::string>& files, const std::string& outputBase,
                           int format) {
    PlannedTask task = PlanNamedTask(files.front(), outputBase, format);
    std::transform(files.begin(), files.end(), std::back_inserter(task.Files), Absolute);
    return task;
}

PlannedTask PlanFolderTask(const std::string& startFile, const std::string& outputFolder,
                           int format) {
    const std::string takeFolder =
        (fs::path(Absolute(outputFolder)) / fs::path(startFile).stem()).string() + "/";
    PlannedTask task = PlanNamedTask(startFile, takeFolder, format);
    task.FoundInFolder = true;
    return task;
}

std::string NameKey(const std::string& path) {
    return Lower(fs::path(path).filename().string());
}

} // namespace morvexcli
