#pragma once

#include <cstddef>
#include <cstdint>

// Channel selections as people write them: "1-8,11,13-14", channels counted from 1. A selection
// is a bit per source channel, bit c for channel c + 1; 0 selects every channel.
namespace morvex {

// False for text that is no such list: empty, a channel 0 or past 64, a range that runs
// backwards, or anything but digits, '-', ',' and spaces.
bool ParseChannelList(const char* text, uint64_t& channels);

// The shortest list naming the channels (ranges of three or more as "a-b"); "" for 0.
void FormatChannelList(uint64_t channels, char* text, size_t bytes);

// The selection as a take of `channelCount` channels converts it: every channel for 0.
uint64_t EffectiveChannels(uint64_t channels, int channelCount);

// A track name made safe as a part of a file name on any file system: / \ : * ? " < > | and
// control characters become '_', spaces and dots at its ends go, and it is cut to fit `bytes`
// (terminator included) without splitting a UTF-8 character. "" when nothing is left.
void SafeFileNamePart(const char* name, char* out, size_t bytes);

} // namespace morvex
