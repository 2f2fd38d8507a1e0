#pragma once

#include "MorvexLimits.h"

#include <cstdint>

namespace morvex {

// Plain data, zeroed with its task record. What a take's start file knows about the recording
// beside its samples. Found when the task is added; carried into the outputs' headers when it is
// converted.
struct TakeMetadata {
    // The bext chunk (EBU Tech 3285): where its body lies, the recording's time as samples since
    // midnight, and who made it.
    uint64_t BextOffset;
    uint32_t BextBytes; // 0: none
    uint64_t TimeReference;
    char Originator[kOriginatorBytes];
    // The iXML chunk, and whether its text parsed: one that does not is left out of the outputs.
    uint64_t IxmlOffset;
    uint32_t IxmlBytes; // 0: none
    bool IxmlParsed;
    // The speaker positions of the source's channels (extensible "fmt "); 0: none given.
    uint32_t ChannelMask;
    // The iXML TRACK_LIST's names by source channel (counted from 0); "" for a channel unnamed.
    char TrackNames[kMaxChannels][kTrackNameBytes];
};

} // namespace morvex
