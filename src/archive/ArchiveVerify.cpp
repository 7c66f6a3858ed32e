#include "archive/ArchiveVerify.h"

#include "archive/EntryReader.h"
#include "archive/WorkerPool.h"
#include "archive/ZipHandles.h"

#include <zip.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <limits>
#include <mutex>
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
    // stop: the flag of the pool the entries are checked on.
    TVerifier(zip_t* za, std::string password, std::vector<TEntry> entries,
              const std::atomic<bool>& stop)
        : za_(za), password_(std::move(password)), entries_(std::move(entries)), stop_(stop)
    {
    }

    // One entry. The workers share one handle (one libzip call at a time): a handle
    // per worker would hold the whole directory once more, a third of a kilobyte per
    // entry.
    void Work(std::size_t slot, std::vector<char>& buffer)
    {
        // Past the first failure nothing changes the answer.
        const zip_uint64_t index = entries_[slot].Index;
        if (index > firstFailed_)
            return;
        try {
            Check(index, buffer);
        } catch (const std::exception& e) {
            Fail(index, EntryName(index), e.what());
        }
    }

    std::size_t Count() const { return entries_.size(); }
    std::uint64_t Done() const { return done_.load(); }
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
            Fail(index, EntryName(index), failure, outcome == TReadOutcome::DecryptionFailed);
    }

    // Keeps the failure of the lowest entry index.
    void Fail(zip_uint64_t index, std::string entry, std::string reason,
              bool decryptionFailed = false)
    {
        std::lock_guard lock(mutex_);
        if (result_ && index >= firstFailed_)
            return;
        firstFailed_ = index;
        result_ = TVerifyFailure{std::move(entry), std::move(reason), decryptionFailed};
    }

    zip_t* const za_;
    std::mutex zipLock_;
    const std::string password_;
    const std::vector<TEntry> entries_;
    const std::atomic<bool>& stop_;
    std::atomic<std::uint64_t> done_{0};
    std::atomic<zip_uint64_t> firstFailed_{NoFailure};
    std::mutex mutex_;
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

    TWorkerPool pool;
    TVerifier verifier(archive.get(), password, std::move(entries), pool.StopFlag());
    // Pumps at least once, however quick the check: a close the person asked for is
    // seen here and not only by the next step.
    pool.Run(
        verifier.Count(), options.Threads,
        [&verifier](std::size_t slot, std::vector<char>& buffer) { verifier.Work(slot, buffer); },
        [&] {
            if (options.Pump)
                options.Pump(verifier.Done(), total);
        },
        PumpInterval);
    return verifier.Result();
}

} // namespace tessarin
