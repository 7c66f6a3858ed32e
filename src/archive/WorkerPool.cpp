#include "archive/WorkerPool.h"

#include <algorithm>
#include <exception>
#include <thread>

namespace tessarin {

void TWorkerPool::Tick()
{
    ++ticks_;
    // Waking the pump for each small file would cost more than the file.
    const std::int64_t now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::int64_t last = lastWake_.load();
    if (now - last >= std::chrono::nanoseconds(std::chrono::milliseconds(10)).count() &&
        lastWake_.compare_exchange_strong(last, now))
        wake_.notify_all();
}

void TWorkerPool::Work(const TWork& work)
{
    std::vector<char> buffer;
    try {
        for (std::size_t slot = next_++; slot < count_ && !stop_; slot = next_++)
            work(slot, buffer);
    } catch (...) {
        stop_ = true;
        std::lock_guard lock(mutex_);
        if (!failure_)
            failure_ = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    --running_;
    wake_.notify_all();
}

void TWorkerPool::Run(std::size_t count, unsigned threads, const TWork& work,
                      const std::function<void()>& pump, std::chrono::milliseconds interval)
{
    count_ = count;
    const unsigned wanted = threads != 0 ? threads : std::thread::hardware_concurrency();
    const auto workers =
        static_cast<unsigned>(std::clamp<std::size_t>(std::min<std::size_t>(wanted, count), 1, 16));
    std::vector<std::jthread> started;
    try {
        for (unsigned i = 0; i < workers; ++i) {
            {
                std::lock_guard lock(mutex_);
                ++running_;
            }
            try {
                started.emplace_back([this, &work] { Work(work); });
            } catch (...) {
                // Fewer threads than asked for still do the work; none cannot.
                std::lock_guard lock(mutex_);
                --running_;
                if (started.empty())
                    throw;
                break;
            }
        }
        std::unique_lock lock(mutex_);
        unsigned seen = ticks_;
        do {
            lock.unlock();
            if (pump)
                pump();
            lock.lock();
            wake_.wait_for(lock, interval, [&] { return running_ == 0 || ticks_ != seen; });
            seen = ticks_;
        } while (running_ > 0);
    } catch (...) {
        stop_ = true;
        started.clear(); // joins
        throw;
    }
    started.clear();
    if (failure_)
        std::rethrow_exception(failure_);
}

} // namespace tessarin
