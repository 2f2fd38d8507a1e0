#pragma once

#include "TestTake.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Writes takes for the command-line tests and checks output files against their source.
namespace outputcheck {

struct Take {
    testtake::WavFormat Format;
    testtake::Bytes Stream; // the sample data of all files as one stream
    std::vector<std::string> Paths;
};

// A take of `frames` frames plus `tailBytes` bytes of an incomplete last frame, cut at the given
// stream positions into files MKZnn_01.WAV, MKZnn_02.WAV, ...
Take WriteTake(const std::string& directory, int takeNumber, uint16_t channels, uint16_t bits,
               uint32_t frames, const std::vector<size_t>& cuts, uint32_t tailBytes = 0,
               uint32_t seed = 1);

// The sample bytes an output carrying channels [first, first + count) must hold: the complete
// frames of the first `streamBytes` bytes of the stream, 8-bit samples made signed for CAF.
testtake::Bytes ExpectedData(const Take& take, size_t streamBytes, int first, int count, bool caf);

// Compares an output byte by byte (header fields and data) and as libsndfile reads it.
::testing::AssertionResult OutputMatches(const std::string& path, const Take& take,
                                         size_t streamBytes, int first, int count, bool caf);

// Files directly in `directory` whose names start with `prefix`, sorted.
std::vector<std::string> FilesStartingWith(const std::string& directory, const std::string& prefix);

} // namespace outputcheck
