#include "Progress.h"

#include <algorithm>
#include <cmath>
#include <sys/ioctl.h>
#include <unistd.h>

namespace morvexcli {

namespace {

constexpr double kBytesPerMB = 1048576.0; // 2^20, as the window's GB are 2^30 bytes
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

int TerminalWidth(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) {
        return size.ws_col;
    }
    return 80;
}

} // namespace

std::string FormatDuration(double seconds) {
    // Anything beyond 99999 hours is no estimate worth showing.
    if (!std::isfinite(seconds) || seconds < 0 || seconds >= 99999.0 * 3600) {
        return "--:--:--";
    }
    const long total = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                  total % 60);
    return text;
}

std::string FormatRate(double bytes, double seconds) {
    if (!(seconds > 0) || !std::isfinite(bytes)) {
        return "- MB/s";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB/s", bytes / kBytesPerMB / seconds);
    return text;
}

std::string FormatProgressLine(const ProgressSample& sample, int width) {
    const double fraction =
        std::isfinite(sample.Fraction) ? std::clamp(sample.Fraction, 0.0, 1.0) : 0.0;
    const double rate = sample.Seconds > 0 ? sample.BytesDone / sample.Seconds : 0;
    const double left =
        rate > 0 ? std::max(0.0, sample.BytesTotal - sample.BytesDone) / rate : std::nan("");

    char head[32];
    std::snprintf(head, sizeof head, "[%d/%d] ", sample.TaskNumber, sample.TaskCount);
    char tail[96];
    std::snprintf(
        tail, sizeof tail, " %3d%%  %s  %s left", static_cast<int>(std::floor(fraction * 100)),
        FormatRate(sample.BytesDone, sample.Seconds).c_str(), FormatDuration(left).c_str());

    // The label (up to 40 columns, enough for the file name) comes before the bar, which is
    // left out when fewer than 10 columns remain for it.
    const int fixed = static_cast<int>(std::string(head).size() + std::string(tail).size());
    const int room = std::max(0, width - 1 - fixed);
    const int labelWant = std::min(static_cast<int>(sample.Label.size()), 40);
    int barWidth = std::min(30, room - labelWant - 3);
    if (barWidth < 10) {
        barWidth = 0;
    }
    const int labelWidth = std::max(0, room - (barWidth > 0 ? barWidth + 3 : 0));

    std::string label = sample.Label;
    if (static_cast<int>(label.size()) > labelWidth) {
        label = labelWidth > 3 ? "..." + label.substr(label.size() - (labelWidth - 3))
                               : label.substr(0, static_cast<size_t>(labelWidth));
    }
    std::string line = head + label;
    if (barWidth > 0) {
        const int filled = static_cast<int>(fraction * barWidth);
        line += " [" + std::string(static_cast<size_t>(filled), '#') +
                std::string(static_cast<size_t>(barWidth - filled), '-') + "]";
    }
    line += tail;
    if (static_cast<int>(line.size()) > width - 1 && width > 1) {
        line.resize(static_cast<size_t>(width - 1));
    }
    return line;
}

ProgressDisplay::ProgressDisplay(std::FILE* stream, bool terminal, bool quiet)
    : m_Stream(stream), m_Terminal(terminal), m_Quiet(quiet) {}

double ProgressDisplay::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_Start).count();
}

void ProgressDisplay::TaskStarted(const std::string& label, int taskNumber, int taskCount,
                                  double bytesTotal) {
    m_Sample = ProgressSample{label, taskNumber, taskCount, 0, 0, bytesTotal, 0};
    m_Start = std::chrono::steady_clock::now();
    if (m_Terminal && !m_Quiet) {
        Draw();
    }
}

void ProgressDisplay::Update(double fraction) {
    if (!m_Terminal || m_Quiet) {
        return;
    }
    m_Sample.Fraction = fraction;
    if (std::chrono::steady_clock::now() - m_LastDraw >= kRedrawInterval) {
        Draw();
    }
}

void ProgressDisplay::Draw() {
    m_Sample.Seconds = Elapsed();
    m_Sample.BytesDone = std::max(0.0, m_Sample.Fraction) * m_Sample.BytesTotal;
    const std::string line = FormatProgressLine(m_Sample, TerminalWidth(m_Stream));
    std::fprintf(m_Stream, "\r%s\033[K", line.c_str());
    std::fflush(m_Stream);
    m_LineOpen = true;
    m_LastDraw = std::chrono::steady_clock::now();
}

void ProgressDisplay::TaskEnded(const std::string& outcome, bool ok) {
    Interrupt();
    if (m_Quiet && ok) {
        return;
    }
    const double seconds = Elapsed();
    if (ok) {
        std::fprintf(m_Stream, "[%d/%d] %s: %s %.1f MB in %.2f s, %s\n", m_Sample.TaskNumber,
                     m_Sample.TaskCount, m_Sample.Label.c_str(), outcome.c_str(),
                     m_Sample.BytesTotal / kBytesPerMB, seconds,
                     FormatRate(m_Sample.BytesTotal, seconds).c_str());
    } else {
        std::fprintf(m_Stream, "morvex-split: [%d/%d] %s: %s\n", m_Sample.TaskNumber,
                     m_Sample.TaskCount, m_Sample.Label.c_str(), outcome.c_str());
    }
    std::fflush(m_Stream);
}

void ProgressDisplay::Interrupt() {
    if (m_LineOpen) {
        std::fputs("\r\033[K", m_Stream);
        std::fflush(m_Stream);
        m_LineOpen = false;
    }
}

} // namespace morvexcli
