#pragma once

#include "MorvexLimits.h"
#include "OutputFormat.h"
#include "OutputHeaders.h"

#include <cstdint>

struct SplitEntryInfo;

namespace morvex {

// "_NN", "_" and a track name, "." and an extension, terminator included.
inline constexpr int kOutputSuffixBytes = 4 + kTrackNameBytes + 16;

// What a task writes, worked out from its record alone: the conversion, the texts, the output
// names and the front ends all read it here, so they cannot drift apart.
struct OutputPlan {
    // The format as the record names it; a value no front end sets (KnownFormat false) names its
    // outputs as WAV does, and its task is refused at its start.
    bool KnownFormat = false;
    OutputFormat Format = OutputFormat::Wav;
    // The channels converted, in order: Channels[k] is the source channel (from 0) of the k-th.
    // Every channel of the take unless the task selects some.
    int SelectedCount = 0;
    uint8_t Channels[kMaxChannels] = {};
    bool Selective = false;    // fewer channels than the take has
    int ChannelsPerOutput = 0; // 1, 2, or every channel converted
    int OutputCount = 0;       // output n holds converted channels n * ChannelsPerOutput on
    bool CannotPair = false;   // pairs asked of an odd number of channels
    int BytesPerSample = 0;    // the sample container: 12 bits take 2 bytes
    uint64_t FrameBytes = 0;   // of the take: every channel's sample
    // Every output's header, its DataBytes the sample bytes of the whole frames of the take. What
    // the outputs carry beside their samples, where the format has room for it, is in it too:
    // bext and iXML sizes (every output's the same), fact, the extensible "fmt ".
    HeaderValues Header;
    // Output n's speaker positions: its channels' bits of the source's mask.
    uint32_t ChannelMasks[kMaxChannels] = {};
    int HeaderBytes = 0;
    bool Rf64 = false; // the outputs take the layout for large files
    // The bytes of the take that are converted: all of them, or the selected channels' samples of
    // its whole frames.
    uint64_t ConvertedBytes = 0;
    // How many outputs' worth of the converted bytes each output holds, for the per-file size
    // (1.5 for pairs of three channels, whose task cannot start); 1 for one output of them all.
    double SizeDivisor = 0.0;
    // What each output's name adds after its number: the track name(s) of its channels, made safe
    // for file names; "" when the task does not ask for them or the recording names none.
    char Labels[kMaxChannels][kTrackNameBytes] = {};

    // Output n's first converted channel (its slot in the conversion), and the number in its
    // name: the source channel's, counted from 1.
    int FirstChannel(int n) const { return n * ChannelsPerOutput; }
    int Number(int n) const { return Channels[FirstChannel(n)] + 1; }
    // The source channel (from 0) of output n's k-th channel.
    int SourceChannel(int n, int k) const { return Channels[FirstChannel(n) + k]; }
    // Output n's header values for `dataBytes` of samples; its chunk bodies are the caller's.
    HeaderValues OutputHeader(int n, uint64_t dataBytes) const;
    // Whether outputs named after `base` fit a path of kMaxPathBytes.
    bool NamesFit(const char* base) const;
    // "_NN." + the format's extension, or "_NN_<label>." + it: what output n's name adds to the
    // base. False past the last output.
    bool OutputSuffix(int n, char (&suffix)[kOutputSuffixBytes]) const;
    // base + that suffix into `path` (kMaxPathBytes); false past the last output or when the name
    // does not fit.
    bool OutputName(const char* base, int n, char* path) const;
};

OutputPlan PlanOutputs(const SplitEntryInfo& entry);

} // namespace morvex
