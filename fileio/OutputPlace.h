#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvex {

// Room counted for each output beyond its audio when the free space is checked: its header, with
// the file system's last block to spare.
inline constexpr uint64_t kOutputAllowanceBytes = 65536;

// What would keep the outputs of one task (all in one folder) from being written now: the folder
// missing, not a folder or not writable, an output name taken already, or less room on the
// folder's file system than `bytesNeeded`. With `folderMayBeMade`, a missing folder is no
// problem when its nearest existing ancestor is a writable folder (whose file system then holds
// the room). Each problem names the folder or file and gives the system's reason
// ("/out/G_01.wav: File exists"). Empty when nothing is in the way. Writes nothing.
std::vector<std::string> OutputPlaceProblems(const std::vector<std::string>& outputs,
                                             uint64_t bytesNeeded, bool folderMayBeMade = false);

} // namespace morvex
