#include "OutputWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <utility>

namespace morvex {

namespace {

constexpr size_t kHugePageBytes = size_t{2} << 20;

} // namespace

uint8_t* AllocateBlock(size_t bytes) {
    void* block = nullptr;
    if (posix_memalign(&block, kHugePageBytes, bytes) != 0) {
        return nullptr;
    }
    // Only a hint: without huge pages the block works the same.
    ::madvise(block, bytes, MADV_HUGEPAGE);
    return static_cast<uint8_t*>(block);
}

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

bool COutputWriter::Prepare(int slots, int stride, int bufferBytes, uint8_t** buffers) {
    Release();
    m_Slots = slots < kMaxSlots ? slots : kMaxSlots;
    m_Stride = stride > 0 ? stride : 1;
    const auto outputs = static_cast<size_t>((m_Slots + m_Stride - 1) / m_Stride);
    const auto bytes = static_cast<size_t>(bufferBytes);
    for (uint8_t*& set : m_Sets) {
        set = AllocateBlock(outputs * bytes);
        if (set == nullptr) {
            return false;
        }
    }
    for (int i = 0; i < m_Slots; i += m_Stride) {
        const size_t offset = static_cast<size_t>(i / m_Stride) * bytes;
        buffers[i] = m_Sets[0] + offset;
        m_Buffers[i] = m_Sets[1] + offset;
    }
    return true;
}

void COutputWriter::Hand(const uint32_t* refs, uint8_t** buffers, uint32_t bytes) {
    std::unique_lock<std::mutex> lock(m_Lock);
    WaitIdle(lock);
    for (int i = 0; i < m_Slots; i += m_Stride) {
        m_Refs[i] = refs[i];
        std::swap(m_Buffers[i], buffers[i]);
    }
    m_Bytes = bytes;
    m_SyncBatch = false;
    StartBatch(lock);
}

void COutputWriter::HandSync(const uint32_t* refs, const char* inFolder) {
    std::unique_lock<std::mutex> lock(m_Lock);
    WaitIdle(lock);
    for (int i = 0; i < m_Slots; i += m_Stride) {
        m_Refs[i] = refs[i];
    }
    std::strncpy(m_SyncFolderOf, inFolder, sizeof m_SyncFolderOf - 1);
    m_SyncBatch = true;
    StartBatch(lock);
}

void COutputWriter::StartBatch(std::unique_lock<std::mutex>& lock) {
    m_Outcome = Outcome{};
    m_Abandoned = false;
    if (!EnsureThread()) {
        // No thread to hand it to: done now, its outcome kept as a thread's.
        m_SyncBatch ? SyncBatch() : WriteBatch();
        return;
    }
    m_Pending = true;
    lock.unlock();
    m_Changed.notify_all();
}

bool COutputWriter::WaitFor(int milliseconds, Outcome& outcome) {
    std::unique_lock<std::mutex> lock(m_Lock);
    if (!m_Changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                            [this] { return !m_Pending; })) {
        return false;
    }
    outcome = std::exchange(m_Outcome, Outcome{});
    return true;
}

COutputWriter::Outcome COutputWriter::Wait() {
    std::unique_lock<std::mutex> lock(m_Lock);
    WaitIdle(lock);
    return std::exchange(m_Outcome, Outcome{});
}

void COutputWriter::Release() {
    std::unique_lock<std::mutex> lock(m_Lock);
    WaitIdle(lock);
    FreeSets();
}

void COutputWriter::FreeSets() {
    m_Outcome = Outcome{};
    for (uint8_t*& set : m_Sets) {
        std::free(set);
        set = nullptr;
    }
    for (uint8_t*& buffer : m_Buffers) {
        buffer = nullptr;
    }
    m_Slots = 0;
}

// The refs are closed on the thread: the thread may be in a call on one (closing it here could
// let a new file take its number under the thread), and the last close of a deleted file waits
// for the writeback already started on it, which a slow device takes its time over.
void COutputWriter::Abandon(uint32_t* refs) {
    std::unique_lock<std::mutex> lock(m_Lock);
    bool anyToClose = false;
    for (int i = 0; i < kMaxSlots; ++i) {
        if (refs[i] != 0 && m_CloseRefs[i] == 0) {
            m_CloseRefs[i] = refs[i];
            anyToClose = true;
        } else if (refs[i] != 0) {
            m_FileHandler.Close(refs[i]); // a second task's, while the first's wait to be closed
        }
        refs[i] = 0;
    }
    if (m_Pending) {
        m_Abandoned = true;
        return; // the thread closes them once it lets go of its batch
    }
    FreeSets();
    if (!anyToClose) {
        return;
    }
    if (!EnsureThread()) {
        CloseLeftRefs(lock);
        return;
    }
    // A batch of nothing but the closing.
    m_Abandoned = true;
    m_SyncBatch = false;
    m_Pending = true;
    lock.unlock();
    m_Changed.notify_all();
}

// Closes outside the lock, so that a close that waits for the device holds no caller; refs
// abandoned meanwhile are closed too.
void COutputWriter::CloseLeftRefs(std::unique_lock<std::mutex>& lock) {
    for (;;) {
        uint32_t closing[kMaxSlots] = {};
        bool any = false;
        for (int i = 0; i < kMaxSlots; ++i) {
            closing[i] = std::exchange(m_CloseRefs[i], 0U);
            any = any || closing[i] != 0;
        }
        if (!any) {
            return;
        }
        lock.unlock();
        for (const uint32_t ref : closing) {
            if (ref != 0) {
                m_FileHandler.Close(ref);
            }
        }
        lock.lock();
    }
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
        m_SyncBatch ? SyncBatch() : WriteBatch();
        lock.lock();
        CloseLeftRefs(lock);
        if (m_Abandoned) {
            m_Outcome = Outcome{}; // its outputs are gone: how it ended tells nothing
        }
        m_Pending = false;
        m_Changed.notify_all();
    }
}

// Stops at the first output whose write falls short, as a failing task writes nothing more;
// the system's reason is kept here, where errno belongs to this thread.
void COutputWriter::WriteBatch() {
    for (int i = 0; i < m_Slots; i += m_Stride) {
        for (uint32_t done = 0; done < m_Bytes;) {
            if (m_Abandoned) {
                return;
            }
            const uint32_t piece = std::min(m_Bytes - done, kWritePieceBytes);
            if (m_FileHandler.Write(m_Refs[i], m_Buffers[i] + done, piece) != piece) {
                m_Outcome = Outcome{true, i, errno};
                return;
            }
            done += piece;
        }
    }
}

// Every output's data and header on the device, then the folder's entries; the first failure
// is kept with this thread's errno. Slot -1 stands for the folder.
void COutputWriter::SyncBatch() {
    for (int i = 0; i < m_Slots; i += m_Stride) {
        if (m_Abandoned) {
            return; // nothing is synced that is about to be deleted
        }
        if (m_Refs[i] != 0 && m_FileHandler.Sync(m_Refs[i]) == 0) { // 0: an output deleted
            m_Outcome = Outcome{true, i, errno};
            return;
        }
    }
    if (!m_Abandoned && m_FileHandler.SyncFolder(m_SyncFolderOf) == 0) {
        m_Outcome = Outcome{true, kFolderSlot, errno};
    }
}

} // namespace morvex
