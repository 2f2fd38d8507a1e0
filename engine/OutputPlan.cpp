#include "OutputPlan.h"

#include "ChannelList.h"
#include "MorvexWorker.h"
#include "OutputMetadata.h"
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

// Source channel k has the k-th set bit of the source's mask; a channel beyond its bits has none.
void MaskOutputs(uint32_t sourceMask, OutputPlan& plan) {
    uint32_t speakerOf[kMaxChannels] = {};
    for (int k = 0, bit = 0; k < kMaxChannels && bit < 32; ++bit) {
        if ((sourceMask & (1U << bit)) != 0) {
            speakerOf[k++] = 1U << bit;
        }
    }
    for (int n = 0; n < plan.OutputCount; ++n) {
        for (int k = 0; k < plan.ChannelsPerOutput; ++k) {
            plan.ChannelMasks[n] |= speakerOf[plan.SourceChannel(n, k)];
        }
        // Every output of a task has one header size: one whose channels have no speaker bits
        // takes the extensible "fmt " too, saying none.
        plan.Header.Extensible = plan.Header.Extensible || plan.ChannelMasks[n] != 0;
    }
}

// What the outputs carry beside their samples, as far as their format has room for it. Mono
// outputs keep no speaker position: one channel has no layout.
void PlanMetadata(const SplitEntryInfo& entry, OutputPlan& plan) {
    const unsigned room = Describe(plan.Format).Metadata;
    const TakeMetadata& metadata = entry.Metadata;
    HeaderValues& header = plan.Header;
    if ((room & kMetadataBext) != 0 && metadata.BextBytes > 0) {
        header.BextBytes = OutputBextBytes(metadata, header.SampleRate,
                                           kBitsPerByte * plan.BytesPerSample, header.Channels);
    }
    if ((room & kMetadataIxml) != 0 && metadata.IxmlBytes > 0 && metadata.IxmlParsed) {
        // Even, as the bext is, for libsndfile's RF64 reader.
        header.IxmlBytes = (metadata.IxmlBytes + kIxmlSlackBytes + 1) & ~1U;
    }
    if ((room & kMetadataChannelMask) != 0 && metadata.ChannelMask != 0 &&
        plan.ChannelsPerOutput > 1 && !plan.CannotPair) {
        MaskOutputs(metadata.ChannelMask, plan);
    }
    header.Fact = (room & kMetadataFact) != 0 && header.Float &&
                  (header.BextBytes > 0 || header.IxmlBytes > 0 || header.Extensible);
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
    PlanMetadata(entry, plan);
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

HeaderValues OutputPlan::OutputHeader(int n, uint64_t dataBytes) const {
    HeaderValues values = Header;
    values.DataBytes = dataBytes;
    values.ChannelMask = n >= 0 && n < OutputCount ? ChannelMasks[n] : 0;
    return values;
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
