#include "OutputFormat.h"

#include "MorvexLimits.h"

namespace morvex {

namespace {

int CafHeaderBytes(const HeaderValues&) {
    return kCafHeaderBytes;
}

bool WavIsLarge(const HeaderValues& values) {
    return NeedsRf64(values.DataBytes, WavHeaderBytes(values));
}

bool CafIsLarge(const HeaderValues&) {
    return false; // its sizes are 64-bit from the start
}

constexpr OutputFormatInfo kWav{
    .Extension = "wav",
    .Name = "wav",
    .HeaderBytes = WavHeaderBytes,
    .BuildHeader = BuildWavHeader,
    .BuildProvisionalHeader = BuildProvisionalWavHeader,
    .IsLarge = WavIsLarge,
    .SignedBytes = false,
    .Metadata = kMetadataBext | kMetadataIxml | kMetadataChannelMask | kMetadataFact,
};

constexpr OutputFormatInfo kCaf{
    .Extension = "caf",
    .Name = "caf",
    .HeaderBytes = CafHeaderBytes,
    .BuildHeader = BuildCafHeader,
    .BuildProvisionalHeader = BuildProvisionalCafHeader,
    .IsLarge = CafIsLarge,
    .SignedBytes = true, // CAF has no unsigned integer samples
    // CAF has no place for bext or iXML, and its channel layout chunk is left out with them.
    .Metadata = kMetadataNone,
};

} // namespace

const OutputFormatInfo& Describe(OutputFormat format) {
    switch (format) {
    case OutputFormat::Wav:
        return kWav;
    case OutputFormat::Caf:
        return kCaf;
    }
    return kWav; // never reached: every enumerator has its case
}

bool ToOutputFormat(int value, OutputFormat& format) {
    for (const OutputFormat known : kOutputFormats) {
        if (FormatValue(known) == value) {
            format = known;
            return true;
        }
    }
    return false;
}

int FormatValue(OutputFormat format) {
    switch (format) {
    case OutputFormat::Wav:
        return kFormatWav;
    case OutputFormat::Caf:
        return kFormatCaf;
    }
    return kFormatWav; // never reached: every enumerator has its case
}

} // namespace morvex
