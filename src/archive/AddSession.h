#pragma once
// One write of an archive: files are collected first, then written in one zip_close.
// Each file reaches libzip through a source of our own that reads it in pieces and
// reports how far it got, so progress is exact per file and memory stays bounded
// whatever the file sizes. Above level 0 the files are deflated ahead on worker
// threads (TDeflatePipeline), encrypted there too when there is a password, and libzip
// copies the result as it is; formats compressed already, and files whose first block
// does not shrink, are stored. libzip writes a temporary file beside the archive and
// renames it into place only after the last byte; a failed or abandoned write
// leaves any earlier archive untouched and no temporary file.

#include "archive/ArchiveProblem.h"
#include "archive/DeflatePipeline.h"
#include "archive/ZipHandles.h"

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tessarin {

class TAddSession;

// A file to store. Kept small: a profile may hold a hundred thousand files. Its name
// and time live in libzip's entry; its path is the session's root joined with that name.
struct TAddItem {
    std::uint64_t Size = 0;
    zip_int64_t Index = -1;
    std::uint32_t Root = 0; // index into the session's roots
    mode_t Mode = 0;
    int Weight = 1;            // how many times the caller listed this file
    bool StoredByName = false; // a format that is compressed already
    bool Replaces = false;     // takes the place of an earlier archive's entry
    zip_int64_t Earlier = -1;  // the earlier backup's entry copied as stored, if any
    bool Counted = false;      // its progress was reported when it was checked
};

class TAddSession {
public:
    // Called when a file starts (done 0), every megabyte or so, and when it ends
    // (done = its size). May throw: the write is then abandoned and the exception
    // comes out of Commit.
    using TProgress =
        std::function<void(const TAddItem& item, const std::string& name, std::uint64_t done)>;

    enum class TResult { Written, NothingToWrite, Failed };

    // level 0 stores, 1..9 deflates; a non-empty password encrypts every entry with
    // AES-256.
    TAddSession(std::string archivePath, int level, std::string password, TProgress progress);
    ~TAddSession();
    TAddSession(const TAddSession&) = delete;
    TAddSession& operator=(const TAddSession&) = delete;

    // Adds what spec names below root: a file, a folder with everything below it, or
    // a mask ("*.mab", "Mail/*.msf") that matches file names at any depth below its
    // folder. Names that cannot be read are skipped and listed in Problems(). Links
    // to folders are followed once each; a link to a folder the same walk stored
    // already (a loop, a link back up the tree) is listed in Problems(). storedAs,
    // when given, is the name the file or folder is stored under instead of spec.
    void AddSpec(const std::string& spec, const std::string& root,
                 const std::string& storedAs = {});

    // An earlier backup of the same files. At level 1..9, a file whose size, time and
    // CRC-32 match an entry of it that is encrypted as this session would do it (with
    // the password, or not at all) is copied from there as it is stored, without
    // deflating it again. The earlier archive is only read. One that does not open, or whose
    // entries the password does not open, is not used; a write into an archive that
    // exists already never uses one.
    void ReuseFrom(std::string earlierArchive) { earlierPath_ = std::move(earlierArchive); }
    // How many entries of the last write were copied from the earlier backup.
    std::size_t ReusedEntries() const { return reused_; }

    // Sum of the sizes of the files collected, each counted as often as listed.
    std::uint64_t CollectedBytes() const;

    // Writes the archive. Failed: ErrorText() says why (libzip's words, without the name); the
    // earlier archive (if any) is untouched and no temporary file is left.
    TResult Commit();

    const std::string& ErrorText() const { return errorText_; }
    const std::vector<TArchiveProblem>& Problems() const { return problems_; }

    // Called before each write attempt, so progress can start over when a file that
    // vanished meanwhile had to be dropped and the archive is written again.
    std::function<void()> OnAttempt;

private:
    static zip_int64_t SourceCallback(void* userdata, void* data, zip_uint64_t len,
                                      zip_source_cmd_t cmd);
    // The item libzip works on now; nullptr past the last.
    TAddItem* Serving();
    zip_int64_t HandleSource(TAddItem& item, void* data, zip_uint64_t len, zip_source_cmd_t cmd);
    zip_int64_t HandlePiped(TAddItem& item, void* data, zip_uint64_t len, zip_source_cmd_t cmd);
    zip_int64_t HandleReused(TAddItem& item, void* data, zip_uint64_t len, zip_source_cmd_t cmd);
    // Before the first write: which files the earlier backup holds unchanged.
    void MatchEarlierEntries();
    bool OpenEarlier();
    // Name, size, time and kind of entry agree; the CRC still has to.
    bool MayBeSame(const TAddItem& item, const zip_stat_t& earlier);
    struct TReuseCandidate {
        TAddItem* Item;
        zip_int64_t At; // its entry in the earlier backup
        std::uint32_t Crc;
        bool Stored;
        std::string Path;
    };
    std::vector<TReuseCandidate> ReuseCandidates();
    // Per candidate, whether its file's bytes are those of the earlier entry.
    std::vector<char> CompareWithEarlier(const std::vector<TReuseCandidate>& candidates);
    void ForgetEarlier();
    // Leaves out the file whose read failed the write, and says so; false when no file
    // is left.
    bool DropFailedItem();
    // The file starts: shown, its progress from 0; -1 once the write is abandoned.
    zip_int64_t Opened(TAddItem& item);
    // What a read of n bytes (or -1 with error) means for libzip and for the progress;
    // done: how much of the file that read brought in.
    zip_int64_t AfterRead(TAddItem& item, std::int64_t n, int error, std::uint64_t done);
    bool BeginPiped(TAddItem& item);
    void StartPipeline();
    // Gives the pipeline the files up to slot `slots` (exclusive).
    void FeedPipeline(std::size_t slots);
    void Report(TAddItem& item, std::uint64_t done);
    // True, with libzip's error set, once the progress hook asked to abandon the write.
    bool Cancelled()
    {
        if (!pending_)
            return false;
        zip_error_set(&error_, ZIP_ER_CANCELLED, 0);
        return true;
    }

    bool OpenArchive();
    // How the item's entry is written when it is not copied: stored or deflated.
    bool SetCompression(const TAddItem& item);
    void AddFile(const std::string& path, const std::string& entryName);
    std::string EntryName(const TAddItem& item) const;
    std::string PathOf(const TAddItem& item, const std::string& entryName) const;
    // One walk of a tree: the folders walked (by device and inode) and the folder links
    // met, which are followed after every real folder so each folder keeps its own name.
    struct TWalk {
        std::set<std::pair<dev_t, ino_t>> Walked;
        std::vector<std::pair<std::string, std::string>> Links; // path, entry name
        std::vector<std::string> Tops; // where the tree and each followed link lead
    };
    void WalkTree(const std::string& folder, const std::string& entryPrefix,
                  const std::string& mask);
    void AddTree(const std::string& folder, const std::string& entryPrefix,
                 const std::string& mask, TWalk& walk);
    void Problem(const std::string& name, TArchiveProblemKind kind, std::string detail = {});
    void Problem(const std::string& name, int systemError);
    void UseRoot(const std::string& root, const std::string& prefix);

    std::string archivePath_;
    int level_;
    std::string password_;
    TProgress progress_;

    // Items outlive the archive handle that refers to them (destroyed in reverse order).
    std::deque<TAddItem> items_;
    std::vector<TAddItem*> byIndex_; // libzip entry index -> item added by this session
    // One source serves every entry: a source of libzip's own per entry costs more than
    // the item. libzip writes the entries in index order and asks each one's source for
    // its stat, opens, reads and closes it, then asks for its stat once more; after
    // that the source serves the next item of byIndex_. A slip would show as a CRC
    // error when the new archive is checked, never as a wrong entry taken for good.
    zip_source_t* source_ = nullptr;
    std::size_t serveAt_ = 0;   // position in byIndex_
    std::size_t serveSlot_ = 0; // how many items were served before it
    bool serveOpened_ = false;  // its data was asked for: the next stat is its last
    std::size_t feedAt_ = 0;    // position in byIndex_ of the next file for the pipeline
    std::vector<std::string> roots_;
    // Per root: the leading part of the stored names that stands for the root itself
    // (a folder stored under another name); empty: names are relative to the root.
    std::vector<std::string> rootPrefixes_;
    std::unordered_map<std::string, std::uint32_t> rootIndex_;
    std::uint32_t currentRoot_ = 0;
    // The one file libzip reads at a time.
    std::string currentName_;
    int currentFd_ = -1;
    std::uint64_t currentDone_ = 0;
    std::uint64_t currentReported_ = 0;
    bool currentFinished_ = false;
    // Deflating on worker threads (every level but 0).
    bool piped_ = false;
    std::unique_ptr<TDeflatePipeline> pipeline_;
    TAddItem* pipedItem_ = nullptr; // the file the pipeline hands out now
    bool pipedStored_ = false;
    zip_error_t error_{};
    // The earlier backup outlives the archive whose reused entries read from it.
    std::string earlierPath_;
    TZipArchivePtr earlier_;
    TUniqueCPtr<zip_source_t, zip_source_free> reusedSource_; // the entry served now
    std::size_t reused_ = 0;
    bool reuseFailed_ = false; // reading the earlier backup failed: write without it
    std::uint64_t reusedCompSize_ = 0;
    std::uint64_t reusedCopied_ = 0;
    TZipArchivePtr archive_;
    bool openTried_ = false;
    dev_t archiveDevice_ = 0;
    ino_t archiveInode_ = 0;
    bool archiveExists_ = false;

    std::exception_ptr pending_;
    TAddItem* failedItem_ = nullptr;
    std::string errorText_;
    std::vector<TArchiveProblem> problems_;
};

} // namespace tessarin
