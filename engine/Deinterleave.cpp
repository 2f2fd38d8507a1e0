#include "Deinterleave.h"

#include <algorithm>
#include <cstring>
#include <iterator>

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

namespace {

constexpr int kWordBytes = 8;
// Silence is checked this many bytes at a time between looks at the result: a buffer with sound
// is left after its first few samples, and the loop between looks stays free of branches.
constexpr size_t kSilenceStepBytes = 256;
constexpr uint8_t kUnsignedZero = 0x80;
constexpr uint8_t kFloatMagnitudeTop = 0x7F; // the top byte of a float without its sign

bool KeepsByte(const ChannelRuns& runs, int framePhase) {
    return ((runs.Selected >> (framePhase / runs.BytesPerSample)) & 1U) != 0;
}

} // namespace

ChannelRuns RunsOfChannels(const uint8_t* channels, int count, int sourceChannels,
                           int bytesPerSample) {
    ChannelRuns runs;
    runs.FrameBytes = sourceChannels * bytesPerSample;
    runs.BytesPerSample = bytesPerSample;
    for (int k = 0; k < count; ++k) {
        const int channel = channels[k];
        runs.Selected |= uint64_t{1} << channel;
        const bool extends = k > 0 && channels[k - 1] + 1 == channel;
        if (!extends) {
            runs.Offset[runs.Count++] = static_cast<uint16_t>(channel * bytesPerSample);
        }
        runs.Bytes[runs.Count - 1] =
            static_cast<uint16_t>(runs.Bytes[runs.Count - 1] + bytesPerSample);
    }
    return runs;
}

uint32_t KeepSelectedChannels(const ChannelRuns& runs, uint8_t* source, uint32_t begin,
                              uint32_t end, int& framePhase) {
    if (runs.FrameBytes <= 0 || runs.BytesPerSample <= 0) {
        return end;
    }
    const auto frameBytes = static_cast<uint32_t>(runs.FrameBytes);
    uint32_t read = begin;
    uint32_t write = begin;
    // Byte by byte only at the ends: the rest of a frame begun before `begin`, and the start of
    // one cut at `end`.
    const auto keepBytesUntil = [&](uint32_t until) {
        for (; read < until; ++read) {
            if (KeepsByte(runs, framePhase)) {
                source[write++] = source[read];
            }
            framePhase = framePhase + 1 == runs.FrameBytes ? 0 : framePhase + 1;
        }
    };
    if (framePhase != 0) {
        keepBytesUntil(std::min(end, read + (frameBytes - static_cast<uint32_t>(framePhase))));
    }
    // In place: a run never moves up, and the first one may not move at all (memmove).
    for (; end - read >= frameBytes; read += frameBytes) {
        for (int r = 0; r < runs.Count; ++r) {
            std::memmove(source + write, source + read + runs.Offset[r], runs.Bytes[r]);
            write += runs.Bytes[r];
        }
    }
    keepBytesUntil(end);
    return write;
}

SilenceWords SilenceOf(int bytesPerSample, bool isFloat, bool unsignedBytes) {
    uint8_t pattern[kWordBytes] = {};
    uint8_t mask[kWordBytes];
    std::fill(std::begin(mask), std::end(mask), uint8_t{0xFF});
    for (int b = 0; b < kWordBytes; ++b) {
        if (unsignedBytes && bytesPerSample == 1) {
            pattern[b] = kUnsignedZero;
        }
        if (isFloat && bytesPerSample > 0 && b % bytesPerSample == bytesPerSample - 1) {
            mask[b] = kFloatMagnitudeTop; // little-endian: the sign is in the last byte
        }
    }
    SilenceWords silence;
    std::memcpy(&silence.Pattern, pattern, sizeof pattern);
    std::memcpy(&silence.Mask, mask, sizeof mask);
    return silence;
}

bool HoldsOnlySilence(const SilenceWords& silence, const uint8_t* data, size_t bytes) {
    size_t at = 0;
    for (; at + kSilenceStepBytes <= bytes; at += kSilenceStepBytes) {
        uint64_t sound = 0;
        for (size_t w = 0; w < kSilenceStepBytes; w += kWordBytes) {
            sound |= (Load<uint64_t>(data + at + w) ^ silence.Pattern) & silence.Mask;
        }
        if (sound != 0) {
            return false;
        }
    }
    uint64_t sound = 0;
    for (; at < bytes; at += kWordBytes) {
        uint64_t word = silence.Pattern; // the bytes past the end read as silence
        std::memcpy(&word, data + at, std::min<size_t>(kWordBytes, bytes - at));
        sound |= (word ^ silence.Pattern) & silence.Mask;
    }
    return sound == 0;
}

} // namespace morvex
