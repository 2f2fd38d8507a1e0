#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace morvexcli {

// One look at a running task, as the progress line shows it.
struct ProgressSample {
    std::string Label;  // the start file's name
    int TaskNumber = 1; // one-based
    int TaskCount = 1;
    double Fraction = 0;  // may pass 1.0 when chunks follow the audio data
    double BytesDone = 0; // source bytes de-interleaved so far
    double BytesTotal = 0;
    double Seconds = 0; // since the task started
};

// "[1/3] MKZ03_01.WAV [#####-----]  50%  412.3 MB/s  00:00:04 left", cut to `width` columns.
std::string FormatProgressLine(const ProgressSample& sample, int width);

// "00:00:04"; "--:--:--" when the time is unknown (no rate yet, or not finite).
std::string FormatDuration(double seconds);

// MB of 2^20 bytes per second, "-" when no time has passed.
std::string FormatRate(double bytes, double seconds);

// Shows the progress of a run on stderr: on a terminal a line per task redrawn in place,
// otherwise nothing until a task ends. Redraws at most ten times a second, so that drawing
// never slows the conversion.
class ProgressDisplay {
public:
    ProgressDisplay(std::FILE* stream, bool terminal, bool quiet);

    void TaskStarted(const std::string& label, int taskNumber, int taskCount, double bytesTotal);
    void Update(double fraction);
    // Ends the task's line; `outcome` is the engine's state text.
    void TaskEnded(const std::string& outcome, bool ok);
    // Removes a half-drawn line before other messages are printed.
    void Interrupt();

private:
    double Elapsed() const;
    void Draw();

    std::FILE* m_Stream;
    bool m_Terminal;
    bool m_Quiet;
    bool m_LineOpen = false;
    ProgressSample m_Sample;
    std::chrono::steady_clock::time_point m_Start;
    std::chrono::steady_clock::time_point m_LastDraw;
};

} // namespace morvexcli
