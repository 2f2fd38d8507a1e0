#pragma once

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

} // namespace morvex
