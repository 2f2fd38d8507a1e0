#pragma once

#include "OutputHeaders.h"

#include <cstdint>

// The output formats and what each one is: its name, its extension, its headers and what its
// samples need. A new format is a new enumerator and a new descriptor; the switches over the
// formats have no default, so the compiler names every place that must learn of it.
namespace morvex {

enum class OutputFormat { Wav, Caf };

inline constexpr OutputFormat kOutputFormats[] = {OutputFormat::Wav, OutputFormat::Caf};

// Kinds of metadata an output can carry beside its samples; a bit each.
enum OutputMetadata : unsigned {
    kMetadataNone = 0,
    kMetadataBext = 1U << 0,
    kMetadataIxml = 1U << 1,
    kMetadataChannelMask = 1U << 2,
    kMetadataFact = 1U << 3,
};

struct OutputFormatInfo {
    const char* Extension; // of the output names, without the dot
    const char* Name;      // on the command line
    // The header's size for outputs of these values, and the header itself: final, or with sizes
    // that say "unknown" while the samples are written.
    int (*HeaderBytes)(const HeaderValues& values);
    void (*BuildHeader)(const HeaderValues& values, uint8_t* out);
    void (*BuildProvisionalHeader)(const HeaderValues& values, uint8_t* out);
    // Whether outputs of these values take the layout for large files (RF64).
    bool (*IsLarge)(const HeaderValues& values);
    // 8-bit samples are signed in the output: the WAV source's unsigned ones are flipped.
    bool SignedBytes;
    unsigned Metadata; // OutputMetadata bits
};

const OutputFormatInfo& Describe(OutputFormat format);

// The task record and the front ends keep the format as an int (the window's combo item data, the
// command line's option): the one place it becomes a format. False for a value that names none.
bool ToOutputFormat(int value, OutputFormat& format);
int FormatValue(OutputFormat format);

} // namespace morvex
