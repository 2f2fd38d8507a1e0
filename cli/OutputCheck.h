#pragma once

#include <string>
#include <vector>

namespace morvexcli {

// What would keep a task's outputs (all in one folder) from being created: each problem names
// the folder or file and gives the system's reason ("/out/G_01.wav: File exists"). With
// `folderToMake` the folder may be missing as long as it can be created. Writes nothing.
std::vector<std::string> OutputProblems(const std::vector<std::string>& outputs,
                                        const std::string& folderToMake);

// Creates `folder` and its missing parents. Answers "" or the problem, as OutputProblems words
// it.
std::string MakeFolders(const std::string& folder);

} // namespace morvexcli
