#pragma once

#include "TakeMetadata.h"

#include <cstddef>
#include <cstdint>

// The bext and iXML bodies of an output, made from its take's start file's. Pure functions: they
// write into the caller's memory.
namespace morvex {

struct OutputPlan;

// Room every output's iXML has beyond its source's: each output's reduced list, saved again,
// is padded with spaces to it, so that every output of a task has one header size.
inline constexpr uint32_t kIxmlSlackBytes = 512;

// The line this conversion adds to the CodingHistory, CR LF included ("A=PCM,F=48000,W=24,
// M=mono,T=Morvex 1.2.0"); answers its length.
int CodingHistoryLine(uint32_t sampleRate, int bitsPerSample, int channels, char* out,
                      size_t bytes);

// The size of an output's bext body: the fixed fields, the source's history, this line.
uint32_t OutputBextBytes(const TakeMetadata& metadata, uint32_t sampleRate, int bitsPerSample,
                         int channels);

// An output's bext body (OutputBextBytes) from its source's of `bytes`: the source's fields, the
// time moved on by one frame when `frameSkipped` (the start file's first bytes end a frame begun
// before it), and the history with this conversion's line.
void BuildOutputBext(const uint8_t* source, uint32_t bytes, const TakeMetadata& metadata,
                     bool frameSkipped, uint32_t sampleRate, int bitsPerSample, int channels,
                     uint8_t* out);

// Output n's iXML: the source's with its TRACK_LIST reduced to the output's channels, padded
// with spaces to `budget` bytes. False when it does not parse or does not fit.
bool BuildOutputIxml(const char* source, size_t bytes, const OutputPlan& plan, int n, uint8_t* out,
                     uint32_t budget);

} // namespace morvex
