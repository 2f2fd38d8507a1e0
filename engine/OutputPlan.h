#pragma once

#include "MorvexLimits.h"
#include "OutputFormat.h"
#include "OutputHeaders.h"

#include <cstdint>

struct SplitEntryInfo;

namespace morvex {

inline constexpr int kOutputSuffixBytes = 16; // "_NN." and an extension, terminator included

// What a task writes, worked out from its record alone: the conversion, the texts, the output
// names and the front ends all read it here, so they cannot drift apart.
struct OutputPlan {
    // The format as the record names it; a value no front end sets (KnownFormat false) names its
    // outputs as WAV does, and its task is refused at its start.
    bool KnownFormat = false;
    OutputFormat Format = OutputFormat::Wav;
    int ChannelsPerOutput = 0; // 1, 2, or every channel of the take
    int OutputCount = 0;       // output n holds the channels from n * ChannelsPerOutput on
    bool CannotPair = false;   // pairs asked of an odd channel count
    int BytesPerSample = 0;    // the sample container: 12 bits take 2 bytes
    uint64_t FrameBytes = 0;   // of the take: every channel's sample
    // Every output's header, its DataBytes the sample bytes of the whole frames of the take.
    HeaderValues Header;
    int HeaderBytes = 0;
    bool Rf64 = false; // the outputs take the layout for large files
    // How many outputs' worth of the take each output holds, for the per-file size (1.5 for pairs
    // of three channels, whose task cannot start); 1 for one output of every channel.
    double SizeDivisor = 0.0;

    // Output n's first channel, counted from 0, and the number in its name, counted from 1.
    int FirstChannel(int n) const { return n * ChannelsPerOutput; }
    int Number(int n) const { return FirstChannel(n) + 1; }
    // Whether outputs named after `base` fit a path of kMaxPathBytes.
    bool NamesFit(const char* base) const;
    // "_NN." + the format's extension: what output n's name adds to the base. False past the
    // last output.
    bool OutputSuffix(int n, char (&suffix)[kOutputSuffixBytes]) const;
    // base + that suffix into `path` (kMaxPathBytes); false past the last output or when the name
    // does not fit.
    bool OutputName(const char* base, int n, char* path) const;
};

OutputPlan PlanOutputs(const SplitEntryInfo& entry);

} // namespace morvex
