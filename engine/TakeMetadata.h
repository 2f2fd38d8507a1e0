#pragma once

#include "MorvexLimits.h"

#include <cstddef>
#include <cstdint>

namespace morvex {

// The bext body up to and with the CodingHistory field's start (EBU Tech 3285).
inline constexpr uint32_t kBextFixedBytes = 602;
// The most of a bext or iXML chunk that is read: a larger one is not carried.
inline constexpr uint32_t kMaxMetadataBytes = 1U << 20;

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
    // The source's CodingHistory as the outputs repeat it: up to its first NUL, with the CR LF it
    // must end with.
    uint32_t CodingHistoryBytes;
    // The iXML chunk, and whether its text parsed: one that does not is left out of the outputs.
    uint64_t IxmlOffset;
    uint32_t IxmlBytes; // 0: none
    bool IxmlParsed;
    // The speaker positions of the source's channels (extensible "fmt "); 0: none given.
    uint32_t ChannelMask;
    // The iXML TRACK_LIST's names by source channel (counted from 0); "" for a channel unnamed.
    char TrackNames[kMaxChannels][kTrackNameBytes];
};

// The bext fields from a body of `bytes` (the start of it, at least what is there): time,
// originator, the CodingHistory's length.
void ReadBextFields(const uint8_t* body, uint32_t bytes, TakeMetadata& metadata);
// The CodingHistory of a bext body as an output repeats it, into `out` (CodingHistoryBytes).
void CopyCodingHistory(const uint8_t* body, uint32_t bytes, uint8_t* out);
// The track names of an iXML text; false when it does not parse.
bool ReadIxmlTrackNames(const char* text, size_t bytes, TakeMetadata& metadata);
// The speaker positions of an extensible "fmt ": the extension behind its 16-byte record.
uint32_t ChannelMaskOf(const uint8_t* fmtExtension);

} // namespace morvex
