#pragma once

#include "StateImages.h"

#include <QElapsedTimer>
#include <QTimer>

// The pace of conversion runs in the window: the timer whose ticks step the engine, how long a
// tick may step it, how often the view is redrawn during a task, and which frame of the running
// icon shows. It keeps time only; the controller decides what a tick does.
class RunPacer final {
public:
    // Between runs the timer ticks at an easy pace.
    static constexpr int kIdleTickMs = 50;
    // During a run the timer fires whenever the event loop is free, and each tick steps the
    // engine for up to kStepBudgetMs: the run goes at the engine's speed while input and painting
    // still come between ticks. A step takes a few milliseconds more at most, so the event loop
    // is never held much past this.
    static constexpr int kRunTickMs = 0;
    static constexpr int kStepBudgetMs = 20;
    // The running icon shows each of its frames this long, however often the timer ticks.
    static constexpr int kIconFrameMs = 200;
    static constexpr int kIconFrameCount = morvex::StateImageSet::kRunningFrameCount;
    // The bar, the running task's row and its icon are brought up to date this often at most
    // while a task converts; at once when a task starts or ends.
    static constexpr int kViewRefreshMs = 100;

    RunPacer();

    QTimer& timer() { return m_Timer; }
    // Starts ticking at the idle pace.
    void start();
    void stop() { m_Timer.stop(); }
    // Ticks come as fast as the event loop allows during a run, and at an easy pace otherwise.
    void setRunning(bool running);

    // Milliseconds of engine steps per tick; 0 makes a tick one step.
    void setStepBudgetMs(int budget) { m_StepBudgetMs = budget; }
    void startTick() { m_TickClock.start(); }
    bool tickBudgetSpent() const { return m_TickClock.elapsed() >= m_StepBudgetMs; }

    // True at most once per kViewRefreshMs, and the first time it is asked.
    bool viewRefreshDue();

    // Moves the running icon on to its next frame once the shown one has been up for
    // kIconFrameMs.
    void advanceIconFrame();
    // The frame shown now, 0 to kIconFrameCount - 1.
    int iconFrame() const { return m_ShownFrame; }

private:
    QTimer m_Timer;
    QElapsedTimer m_TickClock;
    QElapsedTimer m_ViewRefreshClock;
    QElapsedTimer m_IconFrameClock;
    int m_StepBudgetMs = kStepBudgetMs;
    // The second frame shows until a run first turns the icon, which then starts at the first.
    int m_ShownFrame = 1;
    int m_NextFrame = 0;
};
