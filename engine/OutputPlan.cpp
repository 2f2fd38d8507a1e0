#include "OutputPlan.h"

#include "MorvexWorker.h"
#include "SampleFormat.h"

#include <cstdio>
#include <cstring>

namespace morvex {

namespace {

constexpr int kChannelsPerPair = 2;
constexpr int kBitsPerByte = 8;
// "_NN.": two digits cover every channel number up to kMaxChannels.
constexpr size_t kNumberSuffixBytes = 4;
static_assert(kMaxChannels < 100);

// A type no front end sets is taken as mono, as the conversion always took it.
int ChannelsPerOutput(const SplitEntryInfo& entry) {
    switch (entry.Type) {
    case kTypePairs:
        return kChannelsPerPair;
    case kTypeAll:
        return entry.ChannelNumb;
    default:
        return 1;
    }
}

double SizeDivisor(const SplitEntryInfo& entry) {
    switch (entry.Type) {
    case kTypePairs:
        return entry.ChannelNumb * 0.5;
    case kTypeAll:
        return 1.0;
    default:
        return entry.ChannelNumb;
    }
}

} // namespace

OutputPlan PlanOutputs(const SplitEntryInfo& entry) {
    OutputPlan plan;
    plan.KnownFormat = ToOutputFormat(entry.Format, plan.Format);
    if (!plan.KnownFormat) {
        plan.Format = OutputFormat::Wav;
    }
    plan.ChannelsPerOutput = ChannelsPerOutput(entry);
    plan.OutputCount =
        plan.ChannelsPerOutput > 0
            ? (entry.ChannelNumb + plan.ChannelsPerOutput - 1) / plan.ChannelsPerOutput
            : 0;
    plan.CannotPair = entry.Type == kTypePairs && entry.ChannelNumb % kChannelsPerPair != 0;
    plan.BytesPerSample = (entry.WordLength + kBitsPerByte - 1) / kBitsPerByte;
    plan.FrameBytes = uint64_t{entry.ChannelNumb} * static_cast<uint64_t>(plan.BytesPerSample);
    const uint64_t frames = plan.FrameBytes == 0 || entry.BytesTotal <= 0
                                ? 0
                                : static_cast<uint64_t>(entry.BytesTotal) / plan.FrameBytes;
    plan.Header = {frames * static_cast<uint64_t>(plan.BytesPerSample) *
                       static_cast<uint64_t>(plan.ChannelsPerOutput),
                   plan.ChannelsPerOutput, plan.BytesPerSample, entry.SampleRate};
    plan.Header.Float = DescribeStoredFormat(&entry.FmtSubchunk, entry.FmtExtension).Float;
    const OutputFormatInfo& format = Describe(plan.Format);
    plan.HeaderBytes = format.HeaderBytes(plan.Header);
    plan.Rf64 = plan.KnownFormat && frames > 0 && format.IsLarge(plan.Header);
    plan.SizeDivisor = SizeDivisor(entry);
    return plan;
}

bool OutputPlan::NamesFit(const char* base) const {
    return std::strlen(base) + kNumberSuffixBytes + std::strlen(Describe(Format).Extension) <
           static_cast<size_t>(kMaxPathBytes);
}

bool OutputPlan::OutputSuffix(int n, char (&suffix)[kOutputSuffixBytes]) const {
    if (n < 0 || n >= OutputCount) {
        return false;
    }
    const int length =
        std::snprintf(suffix, sizeof suffix, "_%02i.%s", Number(n), Describe(Format).Extension);
    return length > 0 && length < kOutputSuffixBytes;
}

bool OutputPlan::OutputName(const char* base, int n, char* path) const {
    char suffix[kOutputSuffixBytes];
    if (!OutputSuffix(n, suffix)) {
        return false;
    }
    const int length = std::snprintf(path, kMaxPathBytes, "%s%s", base, suffix);
    return length > 0 && length < kMaxPathBytes;
}

} // namespace morvex
