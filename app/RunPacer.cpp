#include "RunPacer.h"

RunPacer::RunPacer() {
    m_Timer.setTimerType(Qt::CoarseTimer);
    m_Timer.setInterval(kIdleTickMs);
}

void RunPacer::start() {
    setRunning(false);
    m_Timer.start();
}

void RunPacer::setRunning(bool running) {
    m_Timer.setInterval(running ? kRunTickMs : kIdleTickMs);
}

bool RunPacer::viewRefreshDue() {
    if (m_ViewRefreshClock.isValid() && m_ViewRefreshClock.elapsed() < kViewRefreshMs)
        return false;
    m_ViewRefreshClock.start();
    return true;
}

void RunPacer::advanceIconFrame() {
    if (m_IconFrameClock.isValid() && m_IconFrameClock.elapsed() < kIconFrameMs)
        return;
    m_IconFrameClock.start();
    m_ShownFrame = m_NextFrame;
    m_NextFrame = (m_NextFrame + 1) % kIconFrameCount;
}
