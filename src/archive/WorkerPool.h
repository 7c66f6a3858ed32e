#pragma once
// Work spread over worker threads while the calling thread keeps the person's window
// alive. Extracting an archive, checking a written one and comparing files with an
// earlier backup all run this way: the workers touch no user interface, the caller's
// pump runs on its own thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

namespace tessarin {

class TWorkerPool {
public:
    // One call per slot: a worker's own buffer comes along, reused for its next slot.
    using TWork = std::function<void(std::size_t slot, std::vector<char>& buffer)>;

    // Runs work for the slots 0..count-1 on up to `threads` workers (0: one per core;
    // never more than 16 or than there are slots), each taking the next free slot. pump
    // runs on this thread at least once, then every interval and soon after a Tick. An
    // exception from pump or work stops the other workers (Stopped()), waits for them
    // and comes out of Run.
    void Run(std::size_t count, unsigned threads, const TWork& work,
             const std::function<void()>& pump, std::chrono::milliseconds interval);

    // From a worker: something worth showing was done. Wakes the pump, though not more
    // often than a window can use.
    void Tick();
    // From a worker: no further slot is handed out.
    void Stop() { stop_ = true; }
    bool Stopped() const { return stop_; }
    const std::atomic<bool>& StopFlag() const { return stop_; }

private:
    void Work(const TWork& work);

    std::atomic<std::size_t> next_{0};
    std::size_t count_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<unsigned> ticks_{0};
    std::atomic<std::int64_t> lastWake_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    unsigned running_ = 0;
    std::exception_ptr failure_;
};

} // namespace tessarin
