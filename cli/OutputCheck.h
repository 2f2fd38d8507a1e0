#pragma once

#include <string>

namespace morvexcli {

// Creates `folder` and its missing parents. Answers "" or the problem, worded as
// OutputPlaceProblems words a folder that cannot be created.
std::string MakeFolders(const std::string& folder);

} // namespace morvexcli
