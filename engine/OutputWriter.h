#pragma once

#include "MorvexLimits.h"
#include "TzFileHandler.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <pthread.h>

namespace morvex {

// A block for a large buffer, freed with std::free. Placed and marked so that the system can back
// it with huge pages: faulting in 4 KiB pages one by one costs as much as copying megabytes.
uint8_t* AllocateBlock(size_t bytes);

// Writes full output buffers on a thread of its own, so that de-interleaving goes on into a
// second set of buffers meanwhile. Holds that second set and one batch at most: handing over a
// batch waits for the one before (WaitFor tells, without holding the caller long, when it is
// done). Both sets are made here, each one block (see AllocateBlock). Everything is fixed-size;
// when no thread can be started, a batch is written at once by the caller.
class COutputWriter {
public:
    static constexpr int kMaxSlots = kMaxChannels;
    static constexpr int kFolderSlot = -1; // the Outcome of a failing folder sync
    // A buffer is written in pieces of this size, so that an abandoned batch stops soon: a
    // tenth of a second's work on a stick that writes 5 MB/s.
    static constexpr uint32_t kWritePieceBytes = 512 * 1024;

    // How the last batch ended. Slot and Errno tell the first output whose write fell short.
    struct Outcome {
        bool Failed = false;
        int Slot = 0;
        int Errno = 0;
    };

    COutputWriter() = default;
    ~COutputWriter();
    COutputWriter(const COutputWriter&) = delete;
    COutputWriter& operator=(const COutputWriter&) = delete;

    // Makes both sets: one buffer of `bufferBytes` for each of slots 0, stride, 2 * stride, ...
    // below `slots`; the first set goes to `buffers`, which stay valid until Release. False when
    // memory cannot be had (what was made is freed by Release).
    bool Prepare(int slots, int stride, int bufferBytes, uint8_t** buffers);
    // Waits for the batch in hand (Wait first to learn how it ended), then takes the first
    // `bytes` of each prepared slot's buffer to write to `refs[slot]`, giving back an empty
    // buffer of the second set in its place.
    void Hand(const uint32_t* refs, uint8_t** buffers, uint32_t bytes);
    // Waits for the batch in hand, then makes the prepared slots' files durable on the thread:
    // fdatasync each, then fsync the folder that holds `inFolder`. A device that takes its time
    // over it then holds only this thread.
    void HandSync(const uint32_t* refs, const char* inFolder);
    // Waits until the batch in hand is written; answers how it ended and forgets it.
    Outcome Wait();
    // Waits at most `milliseconds` for the batch in hand: true, with how it ended (forgotten
    // then), when it is done.
    bool WaitFor(int milliseconds, Outcome& outcome);
    // Waits, then frees both sets, wherever Hand has put their buffers.
    void Release();
    // For outputs about to be deleted: the batch in hand stops at its next piece (a sync at its
    // next file) and nothing of it is reported. Never waits: `refs` (kMaxSlots of them) are
    // closed by the thread once it lets go of its batch, and zeroed here. The sets are freed
    // now, or by the next Prepare or Release.
    void Abandon(uint32_t* refs);

private:
    static void* ThreadMain(void* self);
    bool EnsureThread();
    void Serve();
    void WriteBatch();
    void SyncBatch();
    void StartBatch(std::unique_lock<std::mutex>& lock);
    void WaitIdle(std::unique_lock<std::mutex>& lock);
    void CloseLeftRefs(std::unique_lock<std::mutex>& lock);
    void FreeSets();

    CTzFileHandler m_FileHandler;
    uint8_t* m_Sets[2] = {};
    uint8_t* m_Buffers[kMaxSlots] = {};
    uint32_t m_Refs[kMaxSlots] = {};
    int m_Slots = 0;
    int m_Stride = 1;
    uint32_t m_Bytes = 0;
    bool m_SyncBatch = false;                // the batch in hand syncs rather than writes
    char m_SyncFolderOf[kMaxPathBytes] = {}; // a path in the folder to sync
    Outcome m_Outcome;
    uint32_t m_CloseRefs[kMaxSlots] = {}; // abandoned: closed by the thread after its batch
    std::atomic<bool> m_Abandoned{false};

    std::mutex m_Lock;
    std::condition_variable m_Changed;
    bool m_Pending = false; // a batch is in hand and not yet written
    bool m_Quit = false;
    bool m_HasThread = false;
    pthread_t m_Thread{};
};

} // namespace morvex
