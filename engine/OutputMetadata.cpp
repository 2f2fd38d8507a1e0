#include "OutputMetadata.h"

#include "ByteOrder.h"
#include "OutputPlan.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace morvex {

namespace {

constexpr uint32_t kTimeReferenceAt = 338;
constexpr int kHistoryLineBytes = 96;
constexpr int kStereoChannels = 2;

// Everything as it stands but for whitespace in attributes and line ends, so that what the
// reduction leaves alone is saved as it was; entities are read so that they are written once.
constexpr unsigned kKeepAsItIs = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_pi |
                                 pugi::parse_comments | pugi::parse_declaration |
                                 pugi::parse_doctype | pugi::parse_ws_pcdata;

const char* ModeName(int channels) {
    if (channels == 1) {
        return "mono";
    }
    return channels == kStereoChannels ? "stereo" : "multitrack";
}

// The source channel (from 1) a TRACK describes: its place in the interleaved audio, or where it
// has none, its channel index.
long TrackChannel(const pugi::xml_node& track) {
    const pugi::xml_node interleave = track.child("INTERLEAVE_INDEX");
    const pugi::xml_node index = interleave ? interleave : track.child("CHANNEL_INDEX");
    return std::strtol(index.child_value(), nullptr, 10);
}

// Among the source's tracks only: the copies behind them are renumbered already.
pugi::xml_node FindTrack(const pugi::xml_node& list, int sourceTracks, long channel) {
    pugi::xml_node track = list.child("TRACK");
    for (int t = 0; t < sourceTracks; ++t, track = track.next_sibling("TRACK")) {
        if (TrackChannel(track) == channel) {
            return track;
        }
    }
    return {};
}

// A child's value, the child made where there is none: after the child named `after` when there
// is one (null: none), else first.
void SetChild(pugi::xml_node parent, const char* name, int value, const char* after) {
    pugi::xml_node child = parent.child(name);
    if (!child) {
        const pugi::xml_node before = after != nullptr ? parent.child(after) : pugi::xml_node{};
        child = before ? parent.insert_child_after(name, before) : parent.prepend_child(name);
    }
    child.text().set(value);
}

// The whitespace before a node: the source's indentation, repeated for the tracks kept.
pugi::xml_node Indentation(const pugi::xml_node& node) {
    const pugi::xml_node before = node.previous_sibling();
    return before.type() == pugi::node_pcdata ? before : pugi::xml_node{};
}

// The output's tracks in its channel order, after the source's; then the source's go.
void ReduceTrackList(pugi::xml_node list, const OutputPlan& plan, int n) {
    pugi::xml_node last;
    int sourceTracks = 0;
    for (const pugi::xml_node track : list.children("TRACK")) {
        last = track;
        ++sourceTracks;
    }
    if (sourceTracks == 0) {
        return;
    }
    const pugi::xml_node indentation = Indentation(list.child("TRACK"));
    int kept = 0;
    for (int k = 0; k < plan.ChannelsPerOutput; ++k) {
        const pugi::xml_node source = FindTrack(list, sourceTracks, plan.SourceChannel(n, k) + 1);
        if (!source) {
            continue; // a channel the source does not describe gets no track
        }
        if (indentation) {
            last = list.insert_copy_after(indentation, last);
        }
        last = list.insert_copy_after(source, last);
        SetChild(last, "INTERLEAVE_INDEX", ++kept, "CHANNEL_INDEX");
    }
    for (int t = 0; t < sourceTracks; ++t) {
        const pugi::xml_node track = list.child("TRACK");
        list.remove_child(Indentation(track));
        list.remove_child(track);
    }
    SetChild(list, "TRACK_COUNT", kept, nullptr);
}

struct BoundedWriter : pugi::xml_writer {
    uint8_t* Out;
    size_t Room;
    size_t Used = 0;
    bool Overflow = false;
    BoundedWriter(uint8_t* out, size_t room) : Out(out), Room(room) {}
    void write(const void* data, size_t size) override {
        if (size > Room - Used) {
            Overflow = true;
            return;
        }
        std::memcpy(Out + Used, data, size);
        Used += size;
    }
};

} // namespace

int CodingHistoryLine(uint32_t sampleRate, int bitsPerSample, int channels, char* out,
                      size_t bytes) {
    return std::snprintf(out, bytes, "A=PCM,F=%u,W=%d,M=%s,T=Morvex %s\r\n", sampleRate,
                         bitsPerSample, ModeName(channels), MORVEX_VERSION);
}

// Of even size, a NUL ending the history where it must: libsndfile's RF64 reader loses its way
// after a chunk of odd size, whose pad byte it does not skip.
uint32_t OutputBextBytes(const TakeMetadata& metadata, uint32_t sampleRate, int bitsPerSample,
                         int channels) {
    char line[kHistoryLineBytes];
    const int length = CodingHistoryLine(sampleRate, bitsPerSample, channels, line, sizeof line);
    const uint32_t bytes =
        kBextFixedBytes + metadata.CodingHistoryBytes + static_cast<uint32_t>(length);
    return bytes + (bytes & 1U);
}

void BuildOutputBext(const uint8_t* source, uint32_t bytes, const TakeMetadata& metadata,
                     bool frameSkipped, uint32_t sampleRate, int bitsPerSample, int channels,
                     uint8_t* out) {
    std::memset(out, 0, OutputBextBytes(metadata, sampleRate, bitsPerSample, channels));
    std::memcpy(out, source, std::min(bytes, kBextFixedBytes));
    PutLE64(out + kTimeReferenceAt, metadata.TimeReference + (frameSkipped ? 1 : 0));
    CopyCodingHistory(source, bytes, out + kBextFixedBytes);
    char line[kHistoryLineBytes];
    const int length = CodingHistoryLine(sampleRate, bitsPerSample, channels, line, sizeof line);
    std::memcpy(out + kBextFixedBytes + metadata.CodingHistoryBytes, line,
                static_cast<size_t>(length));
}

bool BuildOutputIxml(const char* source, size_t bytes, const OutputPlan& plan, int n, uint8_t* out,
                     uint32_t budget) {
    pugi::xml_document document;
    if (!document.load_buffer(source, bytes, kKeepAsItIs, pugi::encoding_utf8)) {
        return false;
    }
    const pugi::xml_node list = document.child("BWFXML").child("TRACK_LIST");
    if (list) {
        ReduceTrackList(list, plan, n);
    }
    BoundedWriter writer(out, budget);
    document.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    if (writer.Overflow) {
        return false;
    }
    std::memset(out + writer.Used, ' ', budget - writer.Used);
    return true;
}

} // namespace morvex
