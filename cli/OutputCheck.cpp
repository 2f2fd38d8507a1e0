#include "OutputCheck.h"

#include <filesystem>

namespace morvexcli {

namespace fs = std::filesystem;

std::string MakeFolders(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        return folder + ": cannot be created: " + error.message();
    }
    return "";
}

} // namespace morvexcli
