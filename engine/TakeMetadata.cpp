#include "TakeMetadata.h"

#include "ByteOrder.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace morvex {

namespace {

constexpr uint32_t kOriginatorAt = 256;
constexpr uint32_t kOriginatorFieldBytes = 32;
constexpr uint32_t kTimeReferenceAt = 338;
constexpr uint32_t kTimeReferenceBytes = 8;
constexpr int kChannelMaskAt = 4; // behind the extension's size and valid bits

// Where the history's text ends: at its first NUL, or at the body's end.
uint32_t HistoryTextBytes(const uint8_t* body, uint32_t bytes) {
    if (bytes <= kBextFixedBytes) {
        return 0;
    }
    const uint8_t* history = body + kBextFixedBytes;
    const uint8_t* end = body + bytes;
    return static_cast<uint32_t>(std::find(history, end, uint8_t{0}) - history);
}

bool EndsWithLineBreak(const uint8_t* text, uint32_t bytes) {
    return bytes >= 2 && text[bytes - 2] == '\r' && text[bytes - 1] == '\n';
}

// A name cut to what an output's name can carry, never inside a UTF-8 sequence.
void CopyTrackName(const char* name, char* out) {
    size_t length = std::min(std::strlen(name), static_cast<size_t>(kTrackNameBytes - 1));
    constexpr unsigned char kContinuationMask = 0xC0;
    constexpr unsigned char kContinuation = 0x80;
    while (length > 0 && length < std::strlen(name) &&
           (static_cast<unsigned char>(name[length]) & kContinuationMask) == kContinuation) {
        --length;
    }
    std::memcpy(out, name, length);
    out[length] = '\0';
}

} // namespace

void ReadBextFields(const uint8_t* body, uint32_t bytes, TakeMetadata& metadata) {
    if (bytes >= kOriginatorAt + kOriginatorFieldBytes) {
        std::memcpy(metadata.Originator, body + kOriginatorAt, kOriginatorFieldBytes);
        metadata.Originator[kOriginatorFieldBytes] = '\0'; // NUL-cut where the field is shorter
    }
    if (bytes >= kTimeReferenceAt + kTimeReferenceBytes) {
        metadata.TimeReference = GetLE64(body + kTimeReferenceAt);
    }
    const uint32_t text = HistoryTextBytes(body, bytes);
    const bool addBreak = text > 0 && !EndsWithLineBreak(body + kBextFixedBytes, text);
    metadata.CodingHistoryBytes = text + (addBreak ? 2 : 0);
}

void CopyCodingHistory(const uint8_t* body, uint32_t bytes, uint8_t* out) {
    const uint32_t text = HistoryTextBytes(body, bytes);
    std::memcpy(out, body + kBextFixedBytes, text);
    if (text > 0 && !EndsWithLineBreak(body + kBextFixedBytes, text)) {
        out[text] = '\r';
        out[text + 1] = '\n';
    }
}

bool ReadIxmlTrackNames(const char* text, size_t bytes, TakeMetadata& metadata) {
    pugi::xml_document document;
    if (!document.load_buffer(text, bytes)) {
        return false;
    }
    const pugi::xml_node list = document.child("BWFXML").child("TRACK_LIST");
    for (const pugi::xml_node track : list.children("TRACK")) {
        // The track's place in the interleaved audio; recorders that leave it out mean the
        // channel index.
        const pugi::xml_node interleave = track.child("INTERLEAVE_INDEX");
        const pugi::xml_node index = interleave ? interleave : track.child("CHANNEL_INDEX");
        const long channel = std::strtol(index.child_value(), nullptr, 10);
        if (channel >= 1 && channel <= kMaxChannels) {
            CopyTrackName(track.child_value("NAME"), metadata.TrackNames[channel - 1]);
        }
    }
    return true;
}

uint32_t ChannelMaskOf(const uint8_t* fmtExtension) {
    return GetLE32(fmtExtension + kChannelMaskAt);
}

} // namespace morvex
