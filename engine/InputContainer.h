#pragma once

#include <cstdint>

// The containers a take's files may come in, and how each one's chunks are laid out. A new
// container is a new enumerator and a new descriptor; the switch over them has no default, so
// the compiler names every place that must learn of it.
namespace morvex {

enum class InputContainer : uint8_t { Wav, Rf64, Bw64, Wave64 };

inline constexpr int kWave64GuidBytes = 16;

struct InputContainerInfo {
    const char* Name; // for texts
    // The four bytes the file starts with (RIFF-style containers), or the 16-byte GUID that
    // starts a Wave64 file and the one that names its form.
    const char* FormId;
    const uint8_t* FormGuid;
    const uint8_t* WaveGuid;
    uint32_t FormHeaderBytes;  // before the first chunk
    uint32_t ChunkHeaderBytes; // id and size
    uint32_t ChunkAlign;       // chunks start at a multiple of this from the form
    bool SizeIncludesHeader;   // a chunk's size counts its own header too (Wave64)
    bool Ds64;                 // 64-bit sizes stand in a "ds64" chunk (RF64, BW64)
};

const InputContainerInfo& DescribeContainer(InputContainer container);

inline constexpr InputContainer kInputContainers[] = {InputContainer::Wav, InputContainer::Rf64,
                                                      InputContainer::Bw64, InputContainer::Wave64};

// The GUID of a Wave64 chunk whose four-character name is `tag` ("fmt ", "data", ...): the tag's
// bytes followed by the twelve bytes every such GUID shares.
bool IsWave64Guid(const uint8_t* guid, const char (&tag)[5]);

} // namespace morvex
