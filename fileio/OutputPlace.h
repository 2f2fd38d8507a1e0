#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvex {

// What would keep the outputs of one task (all in one folder) from being written now: the folder
// missing, not a folder or not writable, an output name taken already, or less room on the
// folder's file system than `bytesNeeded`. Each problem names the folder or file and gives the
// system's reason ("/out/G_01.wav: File exists"). Empty when nothing is in the way. Writes
// nothing.
std::vector<std::string> OutputPlaceProblems(const std::vector<std::string>& outputs,
                                             uint64_t bytesNeeded);

} // namespace morvex
