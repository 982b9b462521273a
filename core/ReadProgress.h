// ReadProgress: how far a read has come, and a way to stop it, shared between the thread
// that reads and the one that shows progress. All members are safe on any thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace zarvel {

struct ReadProgress {
    // Bytes of UTF-8 text indexed so far, out of bytesTotal (zero until the text is known).
    std::atomic<uint64_t> bytesDone{0};
    std::atomic<uint64_t> bytesTotal{0};
    std::atomic<int64_t> rowsDone{0};
    std::atomic<bool> cancelRequested{false};

    void cancel() { cancelRequested.store(true, std::memory_order_relaxed); }
    bool isCancelled() const { return cancelRequested.load(std::memory_order_relaxed); }
};

} // namespace zarvel
