#include "archive/ArchiveVerify.h"

#include "archive/EntryReader.h"
#include "archive/ZipHandles.h"

#include <zip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace tessarin {

namespace {

constexpr auto PumpInterval = std::chrono::milliseconds(40);
constexpr std::uint64_t NoFailure = std::numeric_limits<std::uint64_t>::max();

// ZIP_CHECKCONS compares every local header with the central directory, so damage in
// either shows up here and not only at a later restore.
TZipArchivePtr OpenForCheck(const std::string& path, std::string& failure)
{
    int error = 0;
    TZipArchivePtr archive(zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error));
    if (!archive)
        failure = ZipErrorText(error);
    return archive;
}

struct TEntry {
    zip_uint64_t Index;
    std::uint64_t CompressedSize;
};

class TVerifier {
public:
    TVerifier(zip_t* za, std::string password, std::vector<TEntry> entries)
        : za_(za), password_(std::move(password)), entries_(std::move(entries))
    {
    }

    // One worker: entries taken from the shared list until none is left. The workers
    // share one handle (one libzip call at a time): a handle per worker would hold
    // the whole directory once more, a third of a kilobyte per entry.
    void Work()
    {
        {
            std::vector<char> buffer;
            for (;;) {
                const std::size_t slot = next_.fetch_add(1);
                if (slot >= entries_.size() || stop_)
                    break;
                // Past the first failure nothing changes the answer.
                const zip_uint64_t index = entries_[slot].Index;
                if (index > firstFailed_)
                    continue;
                try {
                    Check(index, buffer);
                } catch (const std::exception& e) {
                    Fail(index, EntryName(index), e.what());
                }
            }
        }
        std::lock_guard lock(mutex_);
        --running_;
        finished_.notify_all();
    }

    // Waits for workers, pumping the caller's events meanwhile.
    void WaitFor(std::vector<std::jthread>& workers, const TVerifyOptions& options,
                 std::uint64_t total)
    {
        try {
            // Pumps at least once, however quick the check: a close the person asked
            // for is seen here and not only by the next step.
            std::unique_lock lock(mutex_);
            do {
                if (options.Pump) {
                    lock.unlock();
                    options.Pump(done_.load(), total);
                    lock.lock();
                }
                finished_.wait_for(lock, PumpInterval, [this] { return running_ == 0; });
            } while (running_ > 0);
        } catch (...) {
            stop_ = true;
            workers.clear(); // joins
            throw;
        }
        workers.clear();
    }

    void SetRunning(unsigned count) { running_ = count; }

    std::optional<TVerifyFailure> Result()
    {
        std::lock_guard lock(mutex_);
        return result_;
    }

private:
    std::string EntryName(zip_uint64_t index)
    {
        const std::lock_guard hold(zipLock_);
        const char* name = zip_get_name(za_, index, ZIP_FL_ENC_RAW);
        return name != nullptr ? name : "#" + std::to_string(index);
    }

    void Check(zip_uint64_t index, std::vector<char>& buffer)
    {
        zip_stat_t stat;
        zip_stat_init(&stat);
        std::string statError;
        {
            const std::lock_guard hold(zipLock_);
            if (zip_stat_index(za_, index, 0, &stat) != 0)
                statError = zip_strerror(za_);
        }
        if (!statError.empty()) {
            Fail(index, EntryName(index), statError);
            return;
        }
        const TEntryOutput output{[this, index](const char*, std::size_t size, std::string& why) {
                                      if (stop_ || index > firstFailed_) {
                                          why = "cancelled";
                                          return false;
                                      }
                                      done_ += size;
                                      return true;
                                  },
                                  {}};
        std::string failure;
        const TReadOutcome outcome =
            ReadEntry(za_, index, stat, password_, buffer, output, failure, &zipLock_);
        if (outcome != TReadOutcome::Done && !stop_ && index < firstFailed_)
            Fail(index, EntryName(index), failure);
    }

    // Keeps the failure of the lowest entry index.
    void Fail(zip_uint64_t index, std::string entry, std::string reason)
    {
        std::lock_guard lock(mutex_);
        if (result_ && index >= firstFailed_)
            return;
        firstFailed_ = index;
        result_ = TVerifyFailure{std::move(entry), std::move(reason)};
    }

    zip_t* const za_;
    std::mutex zipLock_;
    const std::string password_;
    const std::vector<TEntry> entries_;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::uint64_t> done_{0};
    std::atomic<zip_uint64_t> firstFailed_{NoFailure};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable finished_;
    unsigned running_ = 0;
    std::optional<TVerifyFailure> result_;
};

} // namespace

std::optional<TVerifyFailure> VerifyArchive(const std::string& path, const std::string& password,
                                            const TVerifyOptions& options)
{
    std::string failure;
    std::vector<TEntry> entries;
    std::uint64_t total = 0;
    TZipArchivePtr archive = OpenForCheck(path, failure);
    if (!archive)
        return TVerifyFailure{std::string(), failure};
    {
        const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
        entries.reserve(static_cast<std::size_t>(std::max<zip_int64_t>(count, 0)));
        for (zip_int64_t i = 0; i < count; ++i) {
            zip_stat_t stat;
            zip_stat_init(&stat);
            const auto index = static_cast<zip_uint64_t>(i);
            std::uint64_t compressed = 0;
            if (zip_stat_index(archive.get(), index, 0, &stat) == 0) {
                compressed = (stat.valid & ZIP_STAT_COMP_SIZE) ? stat.comp_size : 0;
                total += (stat.valid & ZIP_STAT_SIZE) ? stat.size : 0;
            }
            entries.push_back({index, compressed});
        }
    }
    if (entries.empty())
        return std::nullopt;
    // Largest first, so one big file does not leave a single thread reading at the end.
    std::stable_sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) {
        return a.CompressedSize > b.CompressedSize;
    });

    unsigned threads = options.Threads != 0 ? options.Threads : std::thread::hardware_concurrency();
    threads = static_cast<unsigned>(std::clamp<std::size_t>(threads, 1, entries.size()));
    TVerifier verifier(archive.get(), password, std::move(entries));
    verifier.SetRunning(threads);
    std::vector<std::jthread> workers;
    workers.reserve(threads);
    for (unsigned t = 0; t < threads; ++t)
        workers.emplace_back([&verifier] { verifier.Work(); });
    verifier.WaitFor(workers, options, total);
    return verifier.Result();
}

} // namespace tessarin
