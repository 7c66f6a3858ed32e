#include "archive/DeflatePipeline.h"

#include "archive/SafeExtract.h"
#include "archive/WinZipAes.h"
#include "platform/AsciiCase.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tessarin {

namespace {

constexpr std::size_t BlockSize = 1u << 20;
// In flight per worker: enough to keep it busy while the writer is a few blocks behind.
constexpr std::uint64_t BytesPerWorker = 4u * BlockSize;
constexpr std::size_t BlocksPerWorker = 64; // many small files are cheap blocks

} // namespace

struct TDeflatePipeline::TFileState {
    TMode Mode = TMode::Decide;      // guarded by mutex_
    std::unique_ptr<TWinZipAes> Aes; // set with the first block, when encrypting
};

struct TDeflatePipeline::TBlock {
    std::shared_ptr<TFileState> File;
    std::size_t FileIndex = 0;
    std::uint32_t Number = 0; // within its file
    bool Last = false;
    int OpenError = 0;
    int ReadError = 0;
    std::vector<unsigned char> Raw;
    std::vector<unsigned char> Out;
    std::uint64_t RawLength = 0;
    std::uint32_t Crc = 0;
    bool Done = false; // guarded by mutex_
};

bool TDeflatePipeline::IsCompressedName(const std::string& name)
{
    static constexpr std::array<std::string_view, 21> Tails = {
        ".xpi",   ".jar",   ".zip", ".jpg", ".jpeg", ".png", ".gif",
        ".webp",  ".gz",    ".bz2", ".xz",  ".zst",  ".lz4", "jsonlz4",
        "mozlz4", "baklz4", ".7z",  ".mp3", ".mp4",  ".ogg", ".woff2"};
    return std::any_of(Tails.begin(), Tails.end(),
                       [&](std::string_view tail) { return EndsWithNoCase(name, tail); });
}

TDeflatePipeline::TDeflatePipeline(std::size_t fileCount, int level, unsigned workers,
                                   std::string password)
    : fileCount_(fileCount), password_(std::move(password)), byteBudget_(BytesPerWorker * std::max(workers, 1u)),
      blockBudget_(BlocksPerWorker * std::max(workers, 1u))
{
    try {
        threads_.reserve(workers + 1);
        threads_.emplace_back([this, stop = stop_.get_token()] { ReadFiles(stop); });
        for (unsigned i = 0; i < std::max(workers, 1u); ++i)
            threads_.emplace_back([this, level, stop = stop_.get_token()] { Work(stop, level); });
    } catch (...) {
        stop_.request_stop(); // the threads started must end before they are joined
        threads_.clear();
        throw;
    }
}

TDeflatePipeline::~TDeflatePipeline()
{
    stop_.request_stop();
    threads_.clear();
}

void TDeflatePipeline::Give(TFile file)
{
    std::lock_guard lock(mutex_);
    files_.push_back(std::move(file));
    ++given_;
    fileGiven_.notify_all();
}

bool TDeflatePipeline::Emit(const std::shared_ptr<TBlock>& block, std::stop_token stop)
{
    block->RawLength = block->Raw.size();
    std::unique_lock lock(mutex_);
    spaceFree_.wait(lock, stop, [&] {
        return blocksInFlight_ == 0 ||
               (blocksInFlight_ < blockBudget_ && bytesInFlight_ + block->RawLength <= byteBudget_);
    });
    if (stop.stop_requested())
        return false;
    ++blocksInFlight_;
    bytesInFlight_ += block->RawLength;
    order_.push_back(block);
    if (block->Done) {
        blockDone_.notify_all();
    } else {
        todo_.push_back(block);
        workReady_.notify_one();
    }
    return true;
}

void TDeflatePipeline::ReadFiles(std::stop_token stop)
{
    try {
        ReadAll(stop);
    } catch (...) {
        // Out of memory: the consumer sees the files end early and fails the write.
    }
    std::lock_guard lock(mutex_);
    readerDone_ = true;
    blockDone_.notify_all();
}

namespace {

// Fills raw from fd with up to one block, sized for the bytes expected (one more
// notices a file that grew); 0 or the errno of a failed read.
int ReadBlock(int fd, std::vector<unsigned char>& raw, std::uint64_t expected)
{
    raw.resize(static_cast<std::size_t>(std::min<std::uint64_t>(BlockSize, expected + 1)));
    std::size_t got = 0;
    int error = 0;
    for (;;) {
        const ssize_t n = ::read(fd, raw.data() + got, raw.size() - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            break;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
        if (got == raw.size()) {
            if (got >= BlockSize)
                break;
            raw.resize(std::min(BlockSize, got * 2));
        }
    }
    raw.resize(got);
    return error;
}

} // namespace

void TDeflatePipeline::ReadAll(std::stop_token stop)
{
    for (std::size_t index = 0; index < fileCount_ && !stop.stop_requested(); ++index) {
        TFile file;
        {
            std::unique_lock lock(mutex_);
            if (!fileGiven_.wait(lock, stop, [&] { return !files_.empty(); }))
                return;
            file = std::move(files_.front());
            files_.pop_front();
        }
        if (!ReadFile(index, file, stop))
            return;
    }
}

bool TDeflatePipeline::ReadFile(std::size_t index, const TFile& file, std::stop_token stop)
{
    auto state = std::make_shared<TFileState>();
    state->Mode = file.Mode;
    auto newBlock = [&] {
        auto block = std::make_shared<TBlock>();
        block->File = state;
        block->FileIndex = index;
        return block;
    };

    // What is there now may no longer be a regular file: a pipe would block the
    // read for ever, a device would not end.
    const TFd fd(::open(file.Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    int openError = fd.Valid() ? 0 : (errno != 0 ? errno : EIO);
    if (fd.Valid() && (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)))
        openError = EINVAL;
    if (openError != 0) {
        auto failed = newBlock();
        failed->OpenError = openError;
        failed->Last = failed->Done = true;
        return Emit(failed, stop);
    }
    ::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    std::uint64_t offset = 0;
    std::uint32_t number = 0;
    std::shared_ptr<TBlock> held; // a full block: whether it is the last is not known yet
    for (;;) {
        auto block = newBlock();
        const int error =
            ReadBlock(fd.Get(), block->Raw, file.Size > offset ? file.Size - offset : 0);
        const std::size_t got = block->Raw.size();
        offset += got;
        if (error != 0) {
            const bool ok = !held || Emit(held, stop);
            block->ReadError = error;
            block->Last = block->Done = true;
            return ok && Emit(block, stop);
        }
        if (got == 0 && held) {
            held->Last = true;
            return Emit(held, stop);
        }
        if (held && !Emit(std::exchange(held, nullptr), stop))
            return false;
        block->Number = number++;
        if (got < BlockSize) {
            block->Last = true;
            return Emit(block, stop);
        }
        held = std::move(block);
    }
}

namespace {

// One worker's compressor, and the inflater that finds where its output's blocks start.
class TDeflater {
public:
    explicit TDeflater(int level) : compressor_(libdeflate_alloc_compressor(level))
    {
        ready_ = compressor_ != nullptr && inflateInit2(&inflater_, -15) == Z_OK;
    }
    ~TDeflater()
    {
        if (compressor_ != nullptr)
            libdeflate_free_compressor(compressor_);
        inflateEnd(&inflater_);
    }
    TDeflater(const TDeflater&) = delete;
    TDeflater& operator=(const TDeflater&) = delete;

    // Deflates `in` as one piece of a raw deflate stream: the end of the stream when
    // `last`, else byte-aligned and not final, so the next piece can follow it.
    bool Piece(const std::vector<unsigned char>& in, bool last, std::vector<unsigned char>& out)
    {
        if (!ready_)
            return false;
        // Into a buffer of this worker's, so each block's own holds only what it needs.
        const std::size_t bound = libdeflate_deflate_compress_bound(compressor_, in.size());
        if (buffer_.size() < bound)
            buffer_.resize(bound);
        const std::size_t n =
            libdeflate_deflate_compress(compressor_, in.data(), in.size(), buffer_.data(), bound);
        if (n == 0)
            return false;
        out.reserve(n + 6);
        out.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(n));
        return last || Joinable(out);
    }

private:
    // libdeflate always ends its output with a final block. Finds that block's header
    // by walking the blocks (zlib stops at each boundary), clears its final bit, and
    // appends an empty stored block, which ends on a byte boundary.
    bool Joinable(std::vector<unsigned char>& piece)
    {
        if (inflateReset(&inflater_) != Z_OK)
            return false;
        inflater_.next_in = piece.data();
        inflater_.avail_in = static_cast<uInt>(piece.size());
        std::size_t headerByte = 0;
        unsigned headerBit = 1;
        unsigned endUnused = 0;
        for (;;) {
            inflater_.next_out = scratch_.data();
            inflater_.avail_out = static_cast<uInt>(scratch_.size());
            const int rc = inflate(&inflater_, Z_BLOCK);
            if (rc == Z_STREAM_END)
                break;
            if (rc != Z_OK)
                return false;
            // After a block that is not the final one: the next block's first bit is its
            // final bit.
            if ((inflater_.data_type & 128) != 0 && (inflater_.data_type & 64) != 0)
                endUnused = static_cast<unsigned>(inflater_.data_type) & 7; // after the final block
            if ((inflater_.data_type & 128) != 0 && (inflater_.data_type & 64) == 0) {
                const unsigned unused = static_cast<unsigned>(inflater_.data_type) & 7;
                const std::size_t used = piece.size() - inflater_.avail_in;
                headerByte = unused != 0 ? used - 1 : used;
                headerBit = unused != 0 ? 0x100u >> unused : 1u;
            }
        }
        if (inflater_.avail_in != 0 || headerByte >= piece.size())
            return false;
        piece[headerByte] = static_cast<unsigned char>(piece[headerByte] & ~headerBit);
        const unsigned unused = endUnused;
        piece.back() = static_cast<unsigned char>(piece.back() & ((0x100u >> unused) - 1));
        // The stored block's three header bits are zero: they fit in the unused bits, or
        // take one more byte; its length 0 and the complement follow, byte-aligned.
        if (unused < 3)
            piece.push_back(0);
        constexpr unsigned char EmptyStored[] = {0x00, 0x00, 0xFF, 0xFF};
        piece.insert(piece.end(), std::begin(EmptyStored), std::end(EmptyStored));
        return true;
    }

    libdeflate_compressor* compressor_;
    z_stream inflater_{};
    bool ready_ = false;
    std::array<unsigned char, 256 * 1024> scratch_{};
    std::vector<unsigned char> buffer_;
};

// in as deflate's stored blocks, so that it joins the pieces around it.
void StoredPiece(const std::vector<unsigned char>& in, bool last, std::vector<unsigned char>& out)
{
    constexpr std::size_t MaxStored = 65535;
    out.clear();
    out.reserve(in.size() + 5 * (in.size() / MaxStored + 1));
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min(MaxStored, in.size() - pos);
        const bool final = last && pos + n == in.size();
        out.push_back(final ? 1 : 0); // BFINAL, BTYPE 00, then padding to the byte
        out.push_back(static_cast<unsigned char>(n & 0xFF));
        out.push_back(static_cast<unsigned char>(n >> 8));
        out.push_back(static_cast<unsigned char>(~n & 0xFF));
        out.push_back(static_cast<unsigned char>((~n >> 8) & 0xFF));
        out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(pos),
                   in.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < in.size());
}

} // namespace

void TDeflatePipeline::Work(std::stop_token stop, int level)
{
    auto deflater = std::make_unique<TDeflater>(level);
    while (!stop.stop_requested()) {
        std::shared_ptr<TBlock> block;
        TMode mode = TMode::Deflate;
        {
            std::unique_lock lock(mutex_);
            if (!workReady_.wait(lock, stop, [&] { return !todo_.empty(); }))
                break;
            block = todo_.front();
            todo_.pop_front();
            mode = block->File->Mode;
        }
        if (Encrypting()) {
            std::unique_ptr<TWinZipAes> aes;
            int error = 0;
            bool deflated = false;
            try {
                if (block->Number == 0 && block->OpenError == 0) {
                    aes = std::make_unique<TWinZipAes>();
                    if (!aes->StartNew(password_))
                        error = EIO;
                }
                // Each block on its own: deflated when that makes it smaller, else stored.
                deflated = mode != TMode::Store &&
                           deflater->Piece(block->Raw, block->Last, block->Out) &&
                           block->Out.size() < block->Raw.size();
                if (!deflated)
                    StoredPiece(block->Raw, block->Last, block->Out);
                block->Crc = libdeflate_crc32(0, block->Raw.data(), block->Raw.size());
                block->Raw = {};
            } catch (...) {
                error = ENOMEM;
            }
            std::lock_guard lock(mutex_);
            if (error != 0 && block->ReadError == 0)
                block->ReadError = error;
            if (aes)
                block->File->Aes = std::move(aes);
            // A first block that did not shrink spares the rest of its file the attempt.
            if (block->Number == 0 && block->File->Mode == TMode::Decide)
                block->File->Mode = deflated ? TMode::Deflate : TMode::Store;
            block->Done = true;
            blockDone_.notify_all();
            continue;
        }
        // A later block whose file is still undecided is deflated anyway and keeps its
        // data until the decision: waiting for it would idle this worker.
        bool shrunk = false;
        bool deflated = false;
        try {
            deflated = mode != TMode::Store && deflater->Piece(block->Raw, block->Last, block->Out);
        } catch (...) {
            deflated = false; // out of memory
        }
        if (mode != TMode::Store) {
            if (deflated) {
                shrunk = block->Out.size() < block->Raw.size();
                block->Crc = libdeflate_crc32(0, block->Raw.data(), block->Raw.size());
            } else {
                block->Out = {};
                if (mode == TMode::Deflate || block->Number > 0)
                    block->ReadError = ENOMEM; // a deflated file cannot switch to stored
            }
        }
        std::lock_guard lock(mutex_);
        if (block->Number == 0 && block->File->Mode == TMode::Decide) {
            block->File->Mode = shrunk ? TMode::Deflate : TMode::Store;
        }
        // Only what will be written is kept; libzip sums stored data itself.
        if (block->File->Mode == TMode::Deflate)
            block->Raw = {};
        else if (block->File->Mode == TMode::Store)
            block->Out = {};
        block->Done = true;
        blockDone_.notify_all();
    }
}

std::shared_ptr<TDeflatePipeline::TBlock> TDeflatePipeline::NextBlock()
{
    std::unique_lock lock(mutex_);
    blockDone_.wait(lock, [&] {
        return (!order_.empty() && order_.front()->Done) || (order_.empty() && readerDone_);
    });
    if (order_.empty())
        return nullptr;
    auto block = std::move(order_.front());
    order_.pop_front();
    --blocksInFlight_;
    bytesInFlight_ -= block->RawLength;
    spaceFree_.notify_all();
    return block;
}

TDeflatePipeline::TStart TDeflatePipeline::Start(std::size_t index)
{
    // Whatever is left of the file before, and of files libzip does not ask for.
    if (!currentEnded_) {
        while (block_ && !block_->Last)
            block_ = NextBlock();
    }
    block_.reset();
    currentEnded_ = true;
    if (current_ != static_cast<std::size_t>(-1) && index <= current_)
        return {EINVAL, false};
    std::shared_ptr<TBlock> block = NextBlock();
    while (block && block->FileIndex < index) {
        while (block && !block->Last)
            block = NextBlock();
        block = NextBlock();
    }
    if (!block || block->FileIndex != index)
        return {EINVAL, false};

    current_ = index;
    crc_ = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    rawSize_ = 0;
    rawDone_ = 0;
    blockOffset_ = 0;
    if (block->OpenError != 0)
        return {block->OpenError, false};
    currentEnded_ = false;
    block_ = std::move(block);
    // The first block is done, so its file is decided.
    std::lock_guard lock(mutex_);
    stored_ = !Encrypting() && block_->File->Mode == TMode::Store;
    if (Encrypting()) {
        aes_ = std::move(block_->File->Aes);
        headerOffset_ = 0;
        trailer_.clear();
        trailerOffset_ = 0;
        if (!aes_ && block_->ReadError == 0)
            return {EIO, false};
    }
    return {0, stored_};
}

std::int64_t TDeflatePipeline::Read(void* data, std::size_t len, std::uint64_t& rawDone, int& error)
{
    if (!Encrypting())
        return ReadData(data, len, rawDone, error);
    auto* bytes = static_cast<unsigned char*>(data);
    if (aes_ && headerOffset_ < aes_->HeaderLength()) {
        const std::size_t n = std::min(len, aes_->HeaderLength() - headerOffset_);
        std::memcpy(bytes, aes_->Header() + headerOffset_, n);
        headerOffset_ += n;
        rawDone = rawDone_;
        return static_cast<std::int64_t>(n);
    }
    if (trailer_.empty()) {
        const std::int64_t n = ReadData(data, len, rawDone, error);
        if (n < 0)
            return n;
        if (!aes_) { // cannot happen with data: the file failed before its first block
            error = EIO;
            return -1;
        }
        if (n > 0) {
            if (!aes_->Encrypt(bytes, static_cast<std::size_t>(n))) {
                error = EIO;
                return -1;
            }
            return n;
        }
        trailer_.resize(TWinZipAes::AuthCodeLength);
        if (!aes_->AuthCode(trailer_.data())) {
            error = EIO;
            return -1;
        }
    }
    const std::size_t n = std::min(len, trailer_.size() - trailerOffset_);
    std::memcpy(bytes, trailer_.data() + trailerOffset_, n);
    trailerOffset_ += n;
    rawDone = rawDone_;
    return static_cast<std::int64_t>(n);
}

std::int64_t TDeflatePipeline::ReadData(void* data, std::size_t len, std::uint64_t& rawDone,
                                        int& error)
{
    for (;;) {
        if (lostError_ != 0) {
            error = std::exchange(lostError_, 0);
            return -1;
        }
        if (!block_) {
            rawDone = rawDone_;
            return 0;
        }
        if (block_->ReadError != 0) {
            error = block_->ReadError;
            block_.reset();
            currentEnded_ = true;
            return -1;
        }
        const auto& bytes = stored_ ? block_->Raw : block_->Out;
        if (blockOffset_ < bytes.size()) {
            const std::size_t n = std::min(len, bytes.size() - blockOffset_);
            std::memcpy(data, bytes.data() + blockOffset_, n);
            blockOffset_ += n;
            if (stored_)
                rawDone_ += n;
            rawDone = rawDone_;
            if (blockOffset_ == bytes.size())
                EndBlock();
            return static_cast<std::int64_t>(n);
        }
        EndBlock();
    }
}

void TDeflatePipeline::EndBlock()
{
    crc_ = static_cast<std::uint32_t>(
        crc32_combine(crc_, block_->Crc, static_cast<z_off_t>(block_->RawLength)));
    rawSize_ += block_->RawLength;
    if (!stored_)
        rawDone_ += block_->RawLength;
    if (block_->Last) {
        block_.reset();
        currentEnded_ = true;
    } else {
        block_ = NextBlock();
        blockOffset_ = 0;
        if (!block_) {
            // The reader gave up inside the file: fail rather than store it cut short.
            lostError_ = ENOMEM;
            currentEnded_ = true;
        }
    }
}

} // namespace tessarin
