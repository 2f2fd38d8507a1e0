#include "OutputPlan.h"

#include "ChannelList.h"
#include "MorvexWorker.h"
#include "SampleFormat.h"

#include <algorithm>
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
int ChannelsPerOutput(const SplitEntryInfo& entry, int selected) {
    switch (entry.Type) {
    case kTypePairs:
        return kChannelsPerPair;
    case kTypeAll:
        return selected;
    default:
        return 1;
    }
}

double SizeDivisor(const SplitEntryInfo& entry, int selected) {
    switch (entry.Type) {
    case kTypePairs:
        return selected * 0.5;
    case kTypeAll:
        return 1.0;
    default:
        return selected;
    }
}

void SelectChannels(const SplitEntryInfo& entry, OutputPlan& plan) {
    const uint64_t channels = EffectiveChannels(entry.ChannelSelection, entry.ChannelNumb);
    for (int c = 0; c < entry.ChannelNumb && c < kMaxChannels; ++c) {
        if ((channels & (uint64_t{1} << c)) != 0) {
            plan.Channels[plan.SelectedCount++] = static_cast<uint8_t>(c);
        }
    }
    plan.Selective = plan.SelectedCount != entry.ChannelNumb;
}

// Mono outputs carry their channel's name, pairs both names ("Kick In+Kick Out") or the one they
// have; one output of every channel carries none.
void LabelOutputs(const SplitEntryInfo& entry, OutputPlan& plan) {
    if (!entry.fTrackNames || entry.Type == kTypeAll || plan.CannotPair) {
        return;
    }
    for (int n = 0; n < plan.OutputCount; ++n) {
        const char* first = entry.Metadata.TrackNames[plan.SourceChannel(n, 0)];
        const char* second =
            plan.ChannelsPerOutput > 1 ? entry.Metadata.TrackNames[plan.SourceChannel(n, 1)] : "";
        char joined[2 * kTrackNameBytes];
        if (first[0] != '\0' && second[0] != '\0' && std::strcmp(first, second) != 0) {
            std::snprintf(joined, sizeof joined, "%s+%s", first, second);
        } else {
            std::snprintf(joined, sizeof joined, "%s", first[0] != '\0' ? first : second);
        }
        SafeFileNamePart(joined, plan.Labels[n], kTrackNameBytes);
    }
}

} // namespace

OutputPlan PlanOutputs(const SplitEntryInfo& entry) {
    OutputPlan plan;
    plan.KnownFormat = ToOutputFormat(entry.Format, plan.Format);
    if (!plan.KnownFormat) {
        plan.Format = OutputFormat::Wav;
    }
    SelectChannels(entry, plan);
    plan.ChannelsPerOutput = ChannelsPerOutput(entry, plan.SelectedCount);
    plan.OutputCount =
        plan.ChannelsPerOutput > 0
            ? (plan.SelectedCount + plan.ChannelsPerOutput - 1) / plan.ChannelsPerOutput
            : 0;
    plan.CannotPair = entry.Type == kTypePairs && plan.SelectedCount % kChannelsPerPair != 0;
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
    plan.ConvertedBytes =
        plan.Selective ? frames * static_cast<uint64_t>(plan.BytesPerSample) * plan.SelectedCount
                       : static_cast<uint64_t>(std::max<int64_t>(entry.BytesTotal, 0));
    plan.SizeDivisor = SizeDivisor(entry, plan.SelectedCount);
    LabelOutputs(entry, plan);
    return plan;
}

bool OutputPlan::NamesFit(const char* base) const {
    size_t longestLabel = 0;
    for (int n = 0; n < OutputCount; ++n) {
        const size_t label = std::strlen(Labels[n]);
        longestLabel = std::max(longestLabel, label == 0 ? 0 : label + 1);
    }
    return std::strlen(base) + kNumberSuffixBytes + longestLabel +
               std::strlen(Describe(Format).Extension) <
           static_cast<size_t>(kMaxPathBytes);
}

bool OutputPlan::OutputSuffix(int n, char (&suffix)[kOutputSuffixBytes]) const {
    if (n < 0 || n >= OutputCount) {
        return false;
    }
    const char* extension = Describe(Format).Extension;
    const int length =
        Labels[n][0] == '\0'
            ? std::snprintf(suffix, sizeof suffix, "_%02i.%s", Number(n), extension)
            : std::snprintf(suffix, sizeof suffix, "_%02i_%s.%s", Number(n), Labels[n], extension);
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
