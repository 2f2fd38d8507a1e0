#include "WaveHeader.h"

#include "ByteOrder.h"
#include "MorvexLimits.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace morvex {

namespace {

constexpr uint32_t kRiffStride = 12; // "RIFF", size, "WAVE"
constexpr uint32_t kUnknownSize32 = 0xFFFFFFFFU;
constexpr uint64_t kWrapBytes = 1ULL << 32;
// Wrapped sizes are looked for up to this many wraps: 4 TiB of audio in one file.
constexpr uint64_t kMaxWraps = 1024;
constexpr uint32_t kDs64Bytes = 24; // RIFF size, data size, sample count
constexpr uint32_t kWave64SizeAt = 16;
constexpr uint32_t kWave64WaveGuidAt = 24; // behind the "riff" GUID and the file's size
constexpr uint32_t kMaxChunkHeaderBytes = 24;
constexpr uint8_t kFirstPrintable = 0x20;
constexpr uint8_t kLastPrintable = 0x7E;
// libsndfile names a Wave64 bext chunk by a GUID of its own, not the tail the other chunks share.
constexpr uint8_t kSndfileBextGuid[kWave64GuidBytes] = {
    0x62, 0x65, 0x78, 0x74, 0xF3, 0xAC, 0xD3, 0xAA, 0xD1, 0x8C, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};

struct Chunk {
    uint64_t At = 0;
    uint8_t Head[kMaxChunkHeaderBytes] = {};
    uint64_t Body = 0;      // where its body starts
    uint64_t BodyBytes = 0; // as its size says
    uint32_t Size32 = 0;    // the 32-bit size field of a RIFF-style chunk
};

// One walk over one file.
class Walker {
public:
    Walker(const HeaderSource& source, WaveHeader& header)
        : m_Source(source), m_Header(header), m_Info(&DescribeContainer(InputContainer::Wav)) {}

    HeaderFault Run() {
        uint64_t first = 0;
        const HeaderFault form = FindForm(first);
        return form != HeaderFault::None ? form : WalkToData(first);
    }

private:
    bool Fetch(uint64_t at, uint8_t* out, uint32_t count) {
        if (at > m_Source.FileBytes || count > m_Source.FileBytes - at) {
            return false;
        }
        if (at + count <= m_Source.PrefixBytes) {
            std::memcpy(out, m_Source.Prefix + at, count);
            return true;
        }
        if (m_Source.Read == nullptr || !m_Source.Read(m_Source.Context, at, out, count)) {
            m_ReadFailed = m_Source.Read != nullptr;
            return false;
        }
        return true;
    }

    bool IsChunkIdAt(uint64_t at) {
        uint8_t id[4];
        return Fetch(at, id, sizeof id) && std::all_of(id, id + 4, [](uint8_t b) {
                   return b >= kFirstPrintable && b <= kLastPrintable;
               });
    }

    bool Is(const Chunk& chunk, const char (&tag)[5]) const {
        const bool guidIds = m_Info->FormGuid != nullptr;
        return guidIds ? IsWave64Guid(chunk.Head, tag) : HasTag(chunk.Head, tag);
    }

    // Notes a bext or iXML chunk; the first of each counts. Its header is read already: finding
    // them costs no read.
    void NoteMetadata(const Chunk& chunk) {
        const bool wave64 = m_Info->FormGuid != nullptr;
        if (Is(chunk, "bext") ||
            (wave64 && std::memcmp(chunk.Head, kSndfileBextGuid, kWave64GuidBytes) == 0)) {
            NoteFirst(chunk, m_Header.Bext);
        } else if (Is(chunk, "iXML")) {
            NoteFirst(chunk, m_Header.Ixml);
        }
    }

    static void NoteFirst(const Chunk& chunk, MetadataChunk& noted) {
        if (noted.Bytes == 0) {
            noted.Offset = chunk.Body;
            noted.Bytes = chunk.BodyBytes;
        }
    }

    // A listing of the chunks after the audio is made again for each length the audio is tried
    // at: what an earlier listing noted is forgotten.
    void ForgetAfter(uint64_t at, MetadataChunk& noted) const {
        if (noted.Offset >= at) {
            noted = MetadataChunk{};
        }
    }

    HeaderFault FindForm(uint64_t& first) {
        const InputContainerInfo& wave64 = DescribeContainer(InputContainer::Wave64);
        uint8_t head[kWave64WaveGuidAt + kWave64GuidBytes];
        if (Fetch(0, head, wave64.FormHeaderBytes) &&
            std::memcmp(head, wave64.FormGuid, kWave64GuidBytes) == 0) {
            if (std::memcmp(head + kWave64WaveGuidAt, wave64.WaveGuid, kWave64GuidBytes) != 0) {
                return HeaderFault::BadWave64Guid;
            }
            SetContainer(InputContainer::Wave64);
            first = wave64.FormHeaderBytes;
            return HeaderFault::None;
        }
        // Within the first bytes only, however many of them were read already.
        const uint64_t searched = std::min<uint64_t>(m_Source.FileBytes, kHeaderScanBytes);
        for (uint64_t p = 0; p + kRiffStride <= searched; p += kRiffStride) {
            uint8_t at[kRiffStride];
            if (!Fetch(p, at, kRiffStride)) {
                break;
            }
            for (const InputContainer container : kInputContainers) {
                const char* id = DescribeContainer(container).FormId;
                if (id != nullptr && std::memcmp(at, id, 4) == 0 && HasTag(at + 8, "WAVE")) {
                    SetContainer(container);
                    first = p + kRiffStride;
                    return HeaderFault::None;
                }
            }
        }
        return HeaderFault::NoRiff;
    }

    void SetContainer(InputContainer container) {
        m_Header.Container = container;
        m_Info = &DescribeContainer(container);
    }

    // The chunk header at `at`, and its body's size.
    HeaderFault ReadChunk(uint64_t at, Chunk& chunk) {
        chunk.At = at;
        if (!Fetch(at, chunk.Head, m_Info->ChunkHeaderBytes)) {
            return m_ReadFailed ? Fail(HeaderFault::Unreadable, chunk)
                                : (m_FmtSeen ? HeaderFault::NoData : HeaderFault::NoFmt);
        }
        chunk.Body = at + m_Info->ChunkHeaderBytes;
        if (!m_Info->SizeIncludesHeader) {
            chunk.Size32 = GetLE32(chunk.Head + 4);
            chunk.BodyBytes = chunk.Size32;
            return HeaderFault::None;
        }
        const uint64_t size = GetLE64(chunk.Head + kWave64SizeAt);
        if (size < m_Info->ChunkHeaderBytes) {
            return Fail(HeaderFault::BadWave64Size, chunk);
        }
        chunk.BodyBytes = size - m_Info->ChunkHeaderBytes;
        return HeaderFault::None;
    }

    HeaderFault Fail(HeaderFault fault, const Chunk& chunk) {
        NameChunk(chunk, m_Header.Fault);
        return fault;
    }

    void NameChunk(const Chunk& chunk, ListedChunk& listed) const {
        for (int i = 0; i < 4; ++i) {
            const uint8_t b = chunk.Head[i];
            listed.Id[i] = b >= kFirstPrintable && b <= kLastPrintable ? static_cast<char>(b) : '?';
        }
        listed.Id[4] = '\0';
        listed.Offset = chunk.At;
        listed.Bytes = chunk.BodyBytes;
    }

    // Where the chunk after a body of `bodyBytes` ending at `end` starts. A RIFF chunk of odd size
    // is followed by a pad byte; some writers leave it out, which shows as a chunk id one byte
    // early and none where the pad would put it.
    uint64_t NextChunk(uint64_t end, uint64_t bodyBytes) {
        if (m_Info->ChunkAlign > 2) {
            const uint64_t align = m_Info->ChunkAlign;
            return std::min(m_Source.FileBytes, (end + align - 1) / align * align);
        }
        if ((bodyBytes & 1U) == 0) {
            return end;
        }
        const uint64_t padded = end + 1;
        if ((!IsChunkIdAt(padded) && IsChunkIdAt(end)) || padded > m_Source.FileBytes) {
            return end;
        }
        return padded;
    }

    HeaderFault WalkToData(uint64_t at) {
        for (int n = 0;; ++n) {
            Chunk chunk;
            if (const HeaderFault fault = ReadChunk(at, chunk); fault != HeaderFault::None) {
                return fault;
            }
            HeaderFault fault = HeaderFault::None;
            if (Is(chunk, "data")) {
                return m_FmtSeen ? TakeData(chunk) : HeaderFault::NoFmt;
            }
            if (n == kMaxChunksBeforeData) {
                return HeaderFault::TooManyChunks;
            }
            if (Is(chunk, "fmt ")) {
                fault = TakeFmt(chunk);
            } else if (m_Info->Ds64 && Is(chunk, "ds64")) {
                fault = TakeDs64(chunk);
            }
            if (fault == HeaderFault::None && chunk.BodyBytes > m_Source.FileBytes - chunk.Body) {
                fault = HeaderFault::ChunkPastEnd;
            }
            if (fault != HeaderFault::None) {
                return Fail(fault, chunk);
            }
            NoteMetadata(chunk);
            at = NextChunk(chunk.Body + chunk.BodyBytes, chunk.BodyBytes);
        }
    }

    HeaderFault TakeFmt(const Chunk& chunk) {
        if (chunk.BodyBytes < kFmtRecordBytes) {
            return HeaderFault::FmtTooShort;
        }
        const auto kept = static_cast<uint32_t>(std::min<uint64_t>(chunk.BodyBytes, kFmtKeptBytes));
        // A body cut short by the end of the file keeps what there is of it.
        const uint64_t there = m_Source.FileBytes - std::min(m_Source.FileBytes, chunk.Body);
        const auto read = static_cast<uint32_t>(std::min<uint64_t>(kept, there));
        if (read < kFmtRecordBytes || !Fetch(chunk.Body, m_Header.Fmt, read)) {
            return m_ReadFailed ? HeaderFault::Unreadable : HeaderFault::ChunkPastEnd;
        }
        m_Header.FmtBytes = read;
        m_FmtSeen = true;
        return HeaderFault::None;
    }

    HeaderFault TakeDs64(const Chunk& chunk) {
        uint8_t body[kDs64Bytes];
        if (chunk.BodyBytes < kDs64Bytes) {
            return HeaderFault::Ds64TooShort;
        }
        if (!Fetch(chunk.Body, body, kDs64Bytes)) {
            return m_ReadFailed ? HeaderFault::Unreadable : HeaderFault::ChunkPastEnd;
        }
        m_Ds64RiffBytes = GetLE64(body);
        m_Ds64DataBytes = GetLE64(body + 8);
        m_Header.Ds64SampleCount = GetLE64(body + 16);
        m_Ds64Seen = true;
        if (m_Ds64RiffBytes != 0 && m_Ds64DataBytes > m_Ds64RiffBytes) {
            return HeaderFault::Ds64Disagrees;
        }
        return HeaderFault::None;
    }

    HeaderFault TakeData(const Chunk& chunk) {
        // A 32-bit size of "unknown" in RF64/BW64 defers to the ds64 chunk, as it must.
        const bool sizeInDs64 = m_Info->Ds64 && chunk.Size32 == kUnknownSize32;
        if (sizeInDs64 && !m_Ds64Seen) {
            return Fail(HeaderFault::NoDs64, chunk);
        }
        const uint64_t declared = sizeInDs64 ? m_Ds64DataBytes : chunk.BodyBytes;
        const bool unknown = declared == 0 || (!m_Info->SizeIncludesHeader && !sizeInDs64 &&
                                               chunk.Size32 == kUnknownSize32);
        const uint64_t toEnd = m_Source.FileBytes - std::min(m_Source.FileBytes, chunk.Body);
        m_Header.DataOffset = chunk.Body;
        m_Header.DataSize = declared;
        m_Header.Extent = declared;
        m_Header.ExtentKind = DataExtent::Declared;
        if (unknown || declared > toEnd) {
            m_Header.Extent = toEnd;
            m_Header.ExtentKind = DataExtent::ToEnd;
            return HeaderFault::None;
        }
        // Only plain WAV has no other place for a size past 4 GiB.
        const bool mayWrap = m_Header.Container == InputContainer::Wav;
        if (!EndsWell(chunk.Body, declared) && mayWrap) {
            for (uint64_t k = 1; k <= kMaxWraps && declared + k * kWrapBytes <= toEnd; ++k) {
                if (EndsWell(chunk.Body, declared + k * kWrapBytes)) {
                    m_Header.Extent = declared + k * kWrapBytes;
                    m_Header.ExtentKind = DataExtent::Wrapped;
                    return HeaderFault::None;
                }
            }
            EndsWell(chunk.Body, declared); // lists what chunks there are after the declared size
        }
        return HeaderFault::None;
    }

    // Whether audio of `bytes` from `body` on ends where the file ends, or where chunks begin that
    // run to the end of the file; lists those chunks.
    bool EndsWell(uint64_t body, uint64_t bytes) {
        m_Header.ChunksAfterData = 0;
        ForgetAfter(body, m_Header.Bext);
        ForgetAfter(body, m_Header.Ixml);
        uint64_t at = NextChunk(body + bytes, bytes);
        for (int n = 0; n <= kMaxListedChunks; ++n) {
            if (at == m_Source.FileBytes) {
                return true;
            }
            Chunk chunk;
            if (n == kMaxListedChunks || ReadChunk(at, chunk) != HeaderFault::None ||
                (m_Info->FormGuid == nullptr && !IsChunkIdAt(at)) ||
                chunk.BodyBytes > m_Source.FileBytes - chunk.Body) {
                return false;
            }
            NameChunk(chunk, m_Header.AfterData[m_Header.ChunksAfterData++]);
            NoteMetadata(chunk);
            at = NextChunk(chunk.Body + chunk.BodyBytes, chunk.BodyBytes);
        }
        return false;
    }

    const HeaderSource& m_Source;
    WaveHeader& m_Header;
    const InputContainerInfo* m_Info;
    bool m_ReadFailed = false;
    bool m_FmtSeen = false;
    bool m_Ds64Seen = false;
    uint64_t m_Ds64RiffBytes = 0;
    uint64_t m_Ds64DataBytes = 0;
};

} // namespace

HeaderFault ParseWaveHeader(const HeaderSource& source, WaveHeader& header) {
    header = WaveHeader{};
    if (source.Prefix == nullptr) {
        return HeaderFault::NoRiff;
    }
    return Walker(source, header).Run();
}

HeaderFault ParseWaveHeader(const uint8_t* buffer, uint32_t size, WaveHeader& header) {
    return ParseWaveHeader(HeaderSource{buffer, size, size, nullptr, nullptr}, header);
}

// The texts spell the limits out; a changed limit must change them too.
static_assert(kMaxChunksBeforeData == 1000 && kFmtRecordBytes == 16);

void HeaderFaultText(HeaderFault fault, const WaveHeader& header, char* text, size_t bytes) {
    const char* const id = header.Fault.Id;
    const uint64_t at = header.Fault.Offset;
    const char* const name = DescribeContainer(header.Container).Name;
    switch (fault) {
    case HeaderFault::None:
        std::snprintf(text, bytes, "%s", "");
        break;
    case HeaderFault::NoRiff:
        std::snprintf(text, bytes, "no RIFF/WAVE header");
        break;
    case HeaderFault::NoFmt:
        std::snprintf(text, bytes, "no \"fmt \" chunk before its audio");
        break;
    case HeaderFault::FmtTooShort:
        std::snprintf(text, bytes, "its \"fmt \" chunk is shorter than 16 bytes");
        break;
    case HeaderFault::NoData:
        std::snprintf(text, bytes, "no \"data\" chunk: its chunks end before one");
        break;
    case HeaderFault::ChunkPastEnd:
        std::snprintf(text, bytes,
                      "its chunk \"%s\" at byte %" PRIu64 " (%" PRIu64
                      " bytes) runs past the end of the file",
                      id, at, header.Fault.Bytes);
        break;
    case HeaderFault::TooManyChunks:
        std::snprintf(text, bytes, "more than 1000 chunks before its audio");
        break;
    case HeaderFault::NoDs64:
        std::snprintf(text, bytes, "its %s data size is in a ds64 chunk, and it has none", name);
        break;
    case HeaderFault::Ds64TooShort:
        std::snprintf(text, bytes, "its ds64 chunk is shorter than 24 bytes");
        break;
    case HeaderFault::Ds64Disagrees:
        std::snprintf(text, bytes, "its ds64 chunk gives more bytes of audio than of file");
        break;
    case HeaderFault::BadWave64Guid:
        std::snprintf(text, bytes, "its Wave64 header lacks the \"wave\" GUID");
        break;
    case HeaderFault::BadWave64Size:
        std::snprintf(text, bytes,
                      "its Wave64 chunk at byte %" PRIu64 " is smaller than its own header", at);
        break;
    case HeaderFault::Unreadable:
        std::snprintf(text, bytes, "it could not be read beyond its first bytes");
        break;
    }
}

} // namespace morvex
