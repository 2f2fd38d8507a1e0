#pragma once

#include "MorvexLimits.h"

#include <cstddef>
#include <cstdint>

namespace morvex {

// Where the copy stands. Carried across source blocks and files, so that a frame begun at the
// end of one block is completed with the first bytes of the next.
struct DeinterleaveCursor {
    uint32_t SourceDataPoint = 0; // next byte of the source block to copy
    int ChannelPoint = 0;         // first channel of the group being copied in the current frame
    int SampleOffset = 0;         // byte within that group
    int DestDataPoint = 0;        // fill level of every output buffer
    uint64_t DestTotalBytes = 0;  // source bytes of complete frames copied so far
};

// What the copy writes into. Output buffers are indexed by the first source channel they carry
// (0, ChannelsPerDestFile, 2 * ChannelsPerDestFile, ...).
struct DeinterleaveLayout {
    int SourceChannels = 0;
    int BytesPerSample = 0;
    int ChannelsPerDestFile = 0;
    int DestBuffSize = 0;
    uint8_t* const* DestBuffers = nullptr;
};

// Writes `fillBytes` bytes from the start of every output buffer; false if any write fell short
// or the buffers cannot be taken yet.
using FlushOutputsFn = bool (*)(void* context, int fillBytes);

// Copies source bytes [cursor.SourceDataPoint, count) into the output buffers. The result and
// the cursor are exactly those of copying one byte at a time: after each complete frame, the
// buffers are flushed once the room left in them is one output frame or less. Whole frames are
// copied in bulk; only a frame that spans the block's end is copied byte by byte.
// Answers false as soon as a flush fails; the copy stops there with the buffers full, and a
// later call on the same cursor flushes them before it copies on.
// No byte outside the source block or beyond an output frame being filled is touched.
bool DeinterleaveBlock(const DeinterleaveLayout& layout, DeinterleaveCursor& cursor,
                       const uint8_t* source, uint32_t count, FlushOutputsFn flush, void* context);

// The bytes of every source frame that a task converting some of the channels keeps: the runs of
// adjacent selected channels, each moved as one piece.
struct ChannelRuns {
    int FrameBytes = 0; // of the source frame: every channel's sample
    int BytesPerSample = 0;
    uint64_t Selected = 0; // bit c for source channel c
    int Count = 0;
    uint16_t Offset[kMaxChannels] = {}; // within the frame
    uint16_t Bytes[kMaxChannels] = {};
};

// The runs of the `count` source channels `channels` (from 0, ascending) of frames of
// `sourceChannels` samples.
ChannelRuns RunsOfChannels(const uint8_t* channels, int count, int sourceChannels,
                           int bytesPerSample);

// Moves the selected channels' bytes of source[begin, end) down to `begin`, in order, and answers
// where they end: the kernel then sees a take of the selected channels alone. `framePhase` is the
// byte within its frame of source[begin], and is moved on to that of source[end], so that a frame
// cut at the end of a block or a file is completed by the next call.
uint32_t KeepSelectedChannels(const ChannelRuns& runs, uint8_t* source, uint32_t begin,
                              uint32_t end, int& framePhase);

// What digital silence is in an output's samples, 8 bytes at a time: a word is silent when
// (word ^ Pattern) & Mask is 0. The mask leaves out the sign of float samples (-0.0 is silence
// too); the pattern is 0x80 for unsigned 8-bit samples.
struct SilenceWords {
    uint64_t Pattern = 0;
    uint64_t Mask = ~uint64_t{0};
};
SilenceWords SilenceOf(int bytesPerSample, bool isFloat, bool unsignedBytes);

// Whether `bytes` bytes of samples, from a sample's first byte on, are all silence.
bool HoldsOnlySilence(const SilenceWords& silence, const uint8_t* data, size_t bytes);

} // namespace morvex
