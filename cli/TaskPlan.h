#pragma once

#include <string>
#include <vector>

namespace morvexcli {

// Where a task reads and writes, as the run resolves its arguments.
struct PlannedTask {
    std::string Start;          // the start file, absolute
    std::string Base;           // the output base, absolute, without the format's extension
    std::string MakeFolder;     // a folder to create (with its parents) before converting, or ""
    bool FoundInFolder = false; // found by a folder scan rather than named on the command line
    std::vector<std::string> Files; // a --join take's files, absolute, Start first; else empty
};

// The files of `folder` named as the engine names a take's files (morvex::ParseTakeName), as
// absolute paths in name order (letter case aside). Answers false, with the system's reason in
// `reason`, when the folder cannot be read.
bool ListTakeFiles(const std::string& folder, std::vector<std::string>& files, std::string& reason);

// A named START.WAV OUTPUT_BASE pair: the base made absolute; a directory, or any text ending
// in "/", takes the start file's name; ".wav" and the format's extension are dropped in any
// letter case, as the engine does with ".wav".
PlannedTask PlanNamedTask(const std::string& startFile, const std::string& outputBase, int format);

// A --join take: its files made absolute, the first being its start file, and its base as a
// named task's.
PlannedTask PlanJoinedTask(const std::vector<std::string>& files, const std::string& outputBase,
                           int format);

// A take found in a folder given as START: its outputs go to a folder of their own named after
// the start file, OUTPUT_FOLDER/MKZ03_01/MKZ03_01_NN.wav, so takes never share a name.
PlannedTask PlanFolderTask(const std::string& startFile, const std::string& outputFolder,
                           int format);

// The file name part of a path, in lower case: takes are matched by name in any letter case.
std::string NameKey(const std::string& path);

} // namespace morvexcli
