#pragma once
// Reads the files of one archive write in order and deflates them on worker threads,
// one raw deflate stream per file, for a consumer that takes the results file by file.
//
// Why pulled, not pushed: libzip writes an archive only inside zip_close, on the
// calling thread, by pulling each entry's bytes through its source's READ. So the
// workers never touch libzip or the user interface: they fill an ordered, bounded
// queue, and the source callback (on the calling thread, which also reports progress)
// waits for the next piece of the entry libzip is writing. The reader runs ahead into
// the next files while the current one is written, up to a fixed budget of blocks, so
// memory does not depend on file sizes. The consumer hands the files in only a little
// ahead of what it takes (Give): a list of every path of a profile with a hundred
// thousand files would cost more than the rest of the write.
//
// Each file is cut into 1 MiB blocks deflated independently with libdeflate (2-3 times
// zlib's speed at level 9, and smaller output even without the previous block as a
// dictionary). Every piece but the last is made non-final and byte-aligned, so the
// pieces joined in order are one valid deflate stream per file.
//
// With a password every entry is WinZip AES encrypted here, and libzip copies it as it
// is. The costly part, deriving each entry's keys (PBKDF2), runs on the workers; the
// consumer only runs AES in counter mode and the HMAC over what it hands out, which
// must go in order. Data that does not shrink goes out as deflate's stored blocks:
// libzip would sum a stored entry's CRC over the encrypted bytes.

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace tessarin {

class TWinZipAes;

class TDeflatePipeline {
public:
    enum class TMode : std::uint8_t {
        Store,   // copied as it is (already compressed by its format)
        Deflate, // always deflated
        Decide,  // stored when its first block does not shrink
    };
    struct TFile {
        std::string Path;
        std::uint64_t Size = 0; // as collected; only a hint for buffer sizes
        TMode Mode = TMode::Decide;
    };
    // What the consumer learns when a file starts.
    struct TStart {
        int Error = 0;       // errno of a failed open, 0 when it opened
        bool Stored = false; // the bytes that follow are the file's own
    };

    // fileCount files follow through Give. A non-empty password encrypts every file
    // (AES-256).
    TDeflatePipeline(std::size_t fileCount, int level, unsigned workers,
                     std::string password = {});
    ~TDeflatePipeline(); // stops the threads; the files not taken are dropped
    TDeflatePipeline(const TDeflatePipeline&) = delete;
    TDeflatePipeline& operator=(const TDeflatePipeline&) = delete;

    // The next file, in order. The consumer gives file `index` before it starts it,
    // and keeps Lookahead() files given beyond the one it takes, so that the reader
    // does not wait.
    void Give(TFile file);
    std::size_t Given() const { return given_; }
    std::size_t Lookahead() const { return 2 * blockBudget_; }

    // The consumer, on one thread, takes the files strictly in order. Start waits for
    // the first block of file `index` (skipping what is left of earlier files).
    TStart Start(std::size_t index);
    // Up to len bytes of the current file's data (deflated or stored); 0 at its end,
    // -1 with errno in `error` when reading the file failed. `rawDone` is how much of
    // the file the bytes handed out so far stand for.
    std::int64_t Read(void* data, std::size_t len, std::uint64_t& rawDone, int& error);
    bool Encrypting() const { return !password_.empty(); }
    // Valid once Read returned 0.
    std::uint32_t Crc() const { return crc_; }
    std::uint64_t RawSize() const { return rawSize_; }

    static bool IsCompressedName(const std::string& name);

private:
    struct TFileState;
    struct TBlock;

    void ReadFiles(std::stop_token stop);
    void ReadAll(std::stop_token stop);
    // Reads one file into blocks; false once the pipeline stops.
    bool ReadFile(std::size_t index, const TFile& file, std::stop_token stop);
    void Work(std::stop_token stop, int level);
    bool Emit(const std::shared_ptr<TBlock>& block, std::stop_token stop);
    std::shared_ptr<TBlock> NextBlock(); // consumer: waits for the next one in order
    void EndBlock();                     // consumer: the current block is handed out
    std::int64_t ReadData(void* data, std::size_t len, std::uint64_t& rawDone, int& error);

    std::size_t fileCount_;
    std::size_t given_ = 0; // consumer side
    std::string password_;

    std::mutex mutex_;
    std::condition_variable_any workReady_;     // a block to deflate
    std::condition_variable_any blockDone_;     // for the consumer
    std::condition_variable_any spaceFree_;     // for the reader
    std::deque<std::shared_ptr<TBlock>> order_; // every block, in file order
    std::deque<std::shared_ptr<TBlock>> todo_;  // blocks not yet taken by a worker
    std::deque<TFile> files_;                   // given, not yet read
    std::condition_variable_any fileGiven_;     // for the reader
    std::uint64_t bytesInFlight_ = 0;
    std::size_t blocksInFlight_ = 0;
    std::uint64_t byteBudget_;
    std::size_t blockBudget_;
    bool readerDone_ = false;

    // Consumer state.
    std::size_t current_ = static_cast<std::size_t>(-1);
    std::shared_ptr<TBlock> block_;
    std::size_t blockOffset_ = 0;
    bool currentEnded_ = true;
    bool stored_ = false;
    int lostError_ = 0;
    std::uint32_t crc_ = 0;
    std::uint64_t rawSize_ = 0;
    std::uint64_t rawDone_ = 0;
    std::unique_ptr<TWinZipAes> aes_; // the current file's, when encrypting
    std::size_t headerOffset_ = 0;
    std::vector<unsigned char> trailer_;
    std::size_t trailerOffset_ = 0;

    std::stop_source stop_;
    std::vector<std::jthread> threads_; // last: joined before the rest is destroyed
};

} // namespace tessarin
