#include "OutputWriter.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace morvex {

COutputWriter::~COutputWriter() {
    Release();
    if (!m_HasThread) {
        return;
    }
    {
        const std::lock_guard<std::mutex> guard(m_Lock);
        m_Quit = true;
    }
    m_Changed.notify_all();
    pthread_join(m_Thread, nullptr);
}

bool COutputWriter::Prepare(int slots, int stride, int bufferBytes) {
    Release();
    m_Slots = slots < kMaxSlots ? slots : kMaxSlots;
    m_Stride = stride > 0 ? stride : 1;
    bool allMade = true;
    for (int i = 0; i < m_Slots; i += m_Stride) {
        m_Buffers[i] = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(bufferBytes)));
        allMade = allMade && m_Buffers[i] != nullptr;
    }
    return allMade;
}

void COutputWriter::Hand(const uint32_t* refs, uint8_t** buffers, uint32_t bytes) {
    std::unique_lock<std::mutex> lock(m_Lock);
    WaitIdle(lock);
    for (int i = 0; i < m_Slots; i += m_Stride) {
        m_Refs[i] = refs[i];
        std::swap(m_Buffers[i], buffers[i]);
    }
    m_Bytes = bytes;
    m_Outcome = Outcome{};
    if (!EnsureThread()) {
        WriteBatch(); // no thread to hand it to: written now, its outcome kept as a thread's
        return;
    }
    m_Pending = true;
    lock.unlock();
    m_Changed.notify_all();
}

COutputWriter::Outcome COutputWriter::Wait() {
    std::unique_lock<std::mutex> lock(m_Lock);
    WaitIdle(lock);
    return std::exchange(m_Outcome, Outcome{});
}

void COutputWriter::Release() {
    std::unique_lock<std::mutex> lock(m_Lock);
    WaitIdle(lock);
    m_Outcome = Outcome{};
    for (uint8_t*& buffer : m_Buffers) {
        std::free(buffer);
        buffer = nullptr;
    }
    m_Slots = 0;
}

void COutputWriter::WaitIdle(std::unique_lock<std::mutex>& lock) {
    m_Changed.wait(lock, [this] { return !m_Pending; });
}

// Started with the first batch rather than with the worker: a worker that only analyses takes
// never needs it.
bool COutputWriter::EnsureThread() {
    if (!m_HasThread) {
        m_HasThread = pthread_create(&m_Thread, nullptr, &COutputWriter::ThreadMain, this) == 0;
    }
    return m_HasThread;
}

void* COutputWriter::ThreadMain(void* self) {
    static_cast<COutputWriter*>(self)->Serve();
    return nullptr;
}

void COutputWriter::Serve() {
    std::unique_lock<std::mutex> lock(m_Lock);
    for (;;) {
        m_Changed.wait(lock, [this] { return m_Pending || m_Quit; });
        if (!m_Pending) {
            return; // asked to quit with nothing in hand
        }
        // The batch's fields are not touched by the caller until it is marked written.
        lock.unlock();
        WriteBatch();
        lock.lock();
        m_Pending = false;
        m_Changed.notify_all();
    }
}

// Stops at the first output whose write falls short, as a failing task writes nothing more;
// the system's reason is kept here, where errno belongs to this thread.
void COutputWriter::WriteBatch() {
    for (int i = 0; i < m_Slots; i += m_Stride) {
        if (m_FileHandler.Write(m_Refs[i], m_Buffers[i], m_Bytes) != m_Bytes) {
            m_Outcome = Outcome{true, i, errno};
            return;
        }
    }
}

} // namespace morvex
