#include "Deinterleave.h"

#include <algorithm>
#include <cstring>

namespace morvex {

namespace {

// Source bytes per tile of the bulk copy: small enough that a tile stays in the first-level
// cache while it is read once per output.
constexpr uint32_t kTileSourceBytes = 16384;

template <typename Word> Word Load(const uint8_t* at) {
    Word w;
    std::memcpy(&w, at, sizeof w);
    return w;
}

template <typename Word> void Store(uint8_t* at, Word w) {
    std::memcpy(at, &w, sizeof w);
}

// Gathers 1- and 2-byte samples into 8-byte words: the copy of narrow samples is bound by its
// stores, and this makes one store of every 8 / G samples. Answers the frames copied; the rest
// is left to the loop that follows. (Gathering 3-byte samples measured no better.) Kept out of
// line: inlined, it changed the code the compiler made for the 3-byte copy and cost a third of
// its speed.
template <int G>
__attribute__((noinline)) uint32_t CopyPacked(uint8_t* dest, const uint8_t* src, uint32_t frames,
                                              uint32_t stride) {
    static_assert(G == 1 || G == 2);
    using Word = std::conditional_t<G == 1, uint8_t, uint16_t>;
    constexpr uint32_t kSamplesPerWord = 8 / G;
    uint32_t f = 0;
    for (; f + kSamplesPerWord <= frames; f += kSamplesPerWord) {
        const uint8_t* s = src + static_cast<size_t>(f) * stride;
        uint64_t word = 0;
        for (uint32_t i = 0; i < kSamplesPerWord; ++i) {
            word |= static_cast<uint64_t>(Load<Word>(s + static_cast<size_t>(i) * stride))
                    << (8 * G * i);
        }
        Store<uint64_t>(dest + static_cast<size_t>(f) * G, word);
    }
    return f;
}

// Copies one group of G bytes from each of `frames` source frames (stride `stride`) to
// consecutive places of an output. Groups of 3 and 6 bytes move as 4 and 8 bytes whose spare
// bytes the next group overwrites; the last group moves exactly, so nothing past it is touched.
template <int G>
void CopyColumn(uint8_t* dest, const uint8_t* src, uint32_t frames, uint32_t stride) {
    if constexpr (G == 1 || G == 2) {
        const uint32_t packed = CopyPacked<G>(dest, src, frames, stride);
        dest += static_cast<size_t>(packed) * G;
        src += static_cast<size_t>(packed) * stride;
        frames -= packed;
    }
    if constexpr (G == 1 || G == 2 || G == 4 || G == 8) {
        using Word = std::conditional_t<
            G == 1, uint8_t,
            std::conditional_t<G == 2, uint16_t, std::conditional_t<G == 4, uint32_t, uint64_t>>>;
        for (uint32_t f = 0; f < frames; ++f) {
            Store<Word>(dest + f * G, Load<Word>(src + static_cast<size_t>(f) * stride));
        }
    } else {
        using Wide = std::conditional_t<(G <= 4), uint32_t, uint64_t>;
        uint32_t f = 0;
        for (; f + 1 < frames; ++f) {
            Store<Wide>(dest + f * G, Load<Wide>(src + static_cast<size_t>(f) * stride));
        }
        std::memcpy(dest + f * G, src + static_cast<size_t>(f) * stride, G);
    }
}

void CopyColumnAnySize(uint8_t* dest, const uint8_t* src, uint32_t frames, uint32_t stride,
                       int groupBytes) {
    for (uint32_t f = 0; f < frames; ++f) {
        std::memcpy(dest + static_cast<size_t>(f) * groupBytes,
                    src + static_cast<size_t>(f) * stride, static_cast<size_t>(groupBytes));
    }
}

void CopyColumnOfGroup(uint8_t* dest, const uint8_t* src, uint32_t frames, uint32_t stride,
                       int groupBytes) {
    switch (groupBytes) {
    case 1:
        return CopyColumn<1>(dest, src, frames, stride);
    case 2:
        return CopyColumn<2>(dest, src, frames, stride);
    case 3:
        return CopyColumn<3>(dest, src, frames, stride);
    case 4:
        return CopyColumn<4>(dest, src, frames, stride);
    case 6:
        return CopyColumn<6>(dest, src, frames, stride);
    case 8:
        return CopyColumn<8>(dest, src, frames, stride);
    default:
        return CopyColumnAnySize(dest, src, frames, stride, groupBytes);
    }
}

// Copies `frames` whole frames that begin at `src` to every output at the fill level.
void CopyWholeFrames(const DeinterleaveLayout& layout, const uint8_t* src, uint32_t frames,
                     int destPoint) {
    const int groupBytes = layout.ChannelsPerDestFile * layout.BytesPerSample;
    const uint32_t frameBytes =
        static_cast<uint32_t>(layout.SourceChannels * layout.BytesPerSample);
    const int outputs = layout.SourceChannels / layout.ChannelsPerDestFile;
    if (outputs == 1) {
        std::memcpy(layout.DestBuffers[0] + destPoint, src,
                    static_cast<size_t>(frames) * frameBytes);
        return;
    }
    const uint32_t tileFrames = std::max<uint32_t>(1, kTileSourceBytes / frameBytes);
    for (uint32_t first = 0; first < frames; first += tileFrames) {
        const uint32_t count = std::min(tileFrames, frames - first);
        const uint8_t* tile = src + static_cast<size_t>(first) * frameBytes;
        const size_t destOffset =
            static_cast<size_t>(destPoint) + static_cast<size_t>(first) * groupBytes;
        for (int o = 0; o < outputs; ++o) {
            CopyColumnOfGroup(layout.DestBuffers[o * layout.ChannelsPerDestFile] + destOffset,
                              tile + static_cast<size_t>(o) * groupBytes, count, frameBytes,
                              groupBytes);
        }
    }
}

// The reference rule, one byte at a time, until the current frame is complete or the block
// ends. Answers whether a frame was completed.
bool CopyBytesToFrameEnd(const DeinterleaveLayout& layout, DeinterleaveCursor& c,
                         const uint8_t* source, uint32_t count) {
    const int groupBytes = layout.ChannelsPerDestFile * layout.BytesPerSample;
    while (c.SourceDataPoint < count) {
        layout.DestBuffers[c.ChannelPoint][c.DestDataPoint + c.SampleOffset] =
            source[c.SourceDataPoint];
        ++c.SourceDataPoint;
        if (++c.SampleOffset < groupBytes) {
            continue;
        }
        c.SampleOffset = 0;
        c.ChannelPoint += layout.ChannelsPerDestFile;
        if (c.ChannelPoint < layout.SourceChannels) {
            continue;
        }
        c.ChannelPoint = 0;
        c.DestDataPoint += groupBytes;
        c.DestTotalBytes += static_cast<uint64_t>(layout.SourceChannels) * layout.BytesPerSample;
        return true;
    }
    return false;
}

} // namespace

bool DeinterleaveBlock(const DeinterleaveLayout& layout, DeinterleaveCursor& cursor,
                       const uint8_t* source, uint32_t count, FlushOutputsFn flush, void* context) {
    const int groupBytes = layout.ChannelsPerDestFile * layout.BytesPerSample;
    const uint32_t frameBytes =
        static_cast<uint32_t>(layout.SourceChannels * layout.BytesPerSample);
    if (groupBytes <= 0 || frameBytes == 0) {
        return false;
    }
    // Groups that do not tile the frame exactly have no bulk form; the reference rule copes.
    const bool bulk = layout.SourceChannels % layout.ChannelsPerDestFile == 0;
    const int flushLevel = layout.DestBuffSize - groupBytes;

    for (;;) {
        const bool atFrameStart = cursor.ChannelPoint == 0 && cursor.SampleOffset == 0;
        // After a complete frame; also a flush declined by the call before, tried again first.
        if (atFrameStart && cursor.DestDataPoint >= flushLevel) {
            if (!flush(context, cursor.DestDataPoint)) {
                return false;
            }
            cursor.DestDataPoint = 0;
        }
        if (cursor.SourceDataPoint >= count) {
            break;
        }
        if (bulk && atFrameStart && count - cursor.SourceDataPoint >= frameBytes) {
            const uint32_t available = (count - cursor.SourceDataPoint) / frameBytes;
            const int room = flushLevel - cursor.DestDataPoint;
            const uint32_t untilFlush =
                room <= 0 ? 1U : static_cast<uint32_t>((room + groupBytes - 1) / groupBytes);
            const uint32_t frames = std::min(available, untilFlush);
            CopyWholeFrames(layout, source + cursor.SourceDataPoint, frames, cursor.DestDataPoint);
            cursor.SourceDataPoint += frames * frameBytes;
            cursor.DestDataPoint += static_cast<int>(frames) * groupBytes;
            cursor.DestTotalBytes += static_cast<uint64_t>(frames) * frameBytes;
        } else if (!CopyBytesToFrameEnd(layout, cursor, source, count)) {
            break; // the block ended inside a frame; the next block completes it
        }
    }
    return true;
}

} // namespace morvex
