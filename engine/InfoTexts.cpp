// The four one-line texts that describe a task: audio format, playing time, sizes and state.
#include "MorvexWorker.h"
#include "OutputPlan.h"
#include "SampleFormat.h"

#include <climits>
#include <cmath>
#include <cstdio>

using namespace morvex;

namespace {

constexpr double kBytesPerGB = 1073741824.0; // sizes are shown in GB of 2^30 bytes
constexpr int kSecondsPerHour = 3600;
constexpr int kSecondsPerMinute = 60;
constexpr uint64_t kBitsPerByte = 8;

double ToGB(double bytes) {
    return bytes / kBytesPerGB;
}

// Integer PCM, the common case, is not named; any other sample format is, and so is any
// container but WAV.
void FormatText(const SplitEntryInfo& entry, char* out) {
    const SampleFormat samples = DescribeStoredFormat(&entry.FmtSubchunk, entry.FmtExtension);
    int length = std::snprintf(out, kInfoTextBytes, "%i channels, %u Hz",
                               static_cast<int>(entry.ChannelNumb), entry.SampleRate);
    if (samples.Float && length > 0) {
        length += std::snprintf(out + length, kInfoTextBytes - static_cast<size_t>(length),
                                ", %d-bit float", samples.ValidBits);
    }
    // WAV, the common container, is not named either.
    if (entry.Container != InputContainer::Wav && length > 0) {
        std::snprintf(out + length, kInfoTextBytes - static_cast<size_t>(length), ", %s",
                      DescribeContainer(entry.Container).Name);
    }
}

void TimeText(const SplitEntryInfo& entry, char* out) {
    // The byte rate of the sample containers (12 bits take 2 bytes), in 64 bits so no rate wraps.
    const auto bytesPerSample = static_cast<uint64_t>(PlanOutputs(entry).BytesPerSample);
    const uint64_t rate =
        entry.ChannelNumb * (kBitsPerByte * bytesPerSample) * entry.SampleRate / kBitsPerByte;
    const double seconds =
        rate == 0 ? NAN : static_cast<double>(entry.BytesTotal) / static_cast<double>(rate);
    if (!(seconds >= 0.0 && seconds < static_cast<double>(INT_MAX) + 1.0)) {
        std::snprintf(out, kInfoTextBytes, "--:--:--");
        return;
    }
    const int n = static_cast<int>(seconds); // truncated, never rounded
    std::snprintf(out, kInfoTextBytes, "%02i:%02i:%02i", n / kSecondsPerHour,
                  (n / kSecondsPerMinute) % kSecondsPerMinute, n % kSecondsPerMinute);
}

void SizesText(const SplitEntryInfo& entry, char* out) {
    const OutputPlan plan = PlanOutputs(entry);
    const double total = ToGB(static_cast<double>(plan.ConvertedBytes));
    const double perFile = plan.SizeDivisor > 0.0 ? total / plan.SizeDivisor : 0.0;
    std::snprintf(out, kInfoTextBytes,
                  plan.Rf64 ? "%2.2f GB per file (RF64), %2.2f GB total"
                            : "%2.2f GB per file, %2.2f GB total",
                  perFile, total);
}

} // namespace

void CMorvexWorker::GetInfoStrings(int entry, int kind, char* out) const {
    if (out == nullptr) {
        return;
    }
    out[0] = '\0';
    if (!IsEntryIndex(entry)) {
        return;
    }
    const SplitEntryInfo& task = m_Entries[entry];
    switch (kind) {
    case kInfoFormat:
        FormatText(task, out);
        break;
    case kInfoTime:
        TimeText(task, out);
        break;
    case kInfoSizes:
        SizesText(task, out);
        break;
    case kInfoState:
        StateText(entry, out);
        break;
    default:
        break;
    }
}

void CMorvexWorker::StateText(int entry, char* out) const {
    switch (GetEntryState(entry)) {
    case kStateReady:
        std::snprintf(out, kInfoTextBytes, "File(s) prepared for conversion.");
        break;
    case kStateNoDestination:
        std::snprintf(out, kInfoTextBytes, "No output directory and file name selected.");
        break;
    case kStateCannotPair:
        std::snprintf(out, kInfoTextBytes, "Mismatch: 2 channel format / odd channel count.");
        break;
    case kStateConverting:
        std::snprintf(out, kInfoTextBytes, "Conversion running, %2.2f GB done.",
                      ToGB(static_cast<double>(m_DestTotalBytes)));
        break;
    case kStateDone:
        std::snprintf(out, kInfoTextBytes, "Conversion done.");
        break;
    case kStateFailed:
        GetErrorString(m_Entries[entry].ErrorState, out);
        break;
    default:
        break;
    }
}
