#pragma once
// The one way the program writes and reads ZIP archives. A TZipFactory stands for
// one archive file and is configured the same way for every use: folder names stored
// and restored, folders recursed, files overwritten on extraction, AES-256 encryption
// when a password is given. The compression level, the texts it shows and the files
// that go with others or are private come from its TZipSetup. It pumps events, reports progress and
// asks for a missing password through the user interface.

#include "archive/ArchiveProblem.h"
#include "archive/SafeExtract.h"
#include "platform/UserInterface.h"

#include <sys/types.h>
#include <zip.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin {

class TAddSession;

// A file outside the base folder: stored under RelativeName, read from
// Root + RelativeName.
struct TArchiveExternalFile {
    std::string Root;         // ends in the separator
    std::string RelativeName; // e.g. "Work/Inbox" for a mail folder Work below Root
    std::string EntryName = {}; // the name it is stored under; empty: RelativeName
};

// What AddTask writes: names relative to the facade's base folder, the outside files,
// and the byte count that drives the progress bar.
struct TArchiveTask {
    std::vector<std::string> Files;
    std::vector<TArchiveExternalFile> Externals;
    std::int64_t TotalBytes = 0;
};

// Files that belong to another entry (the caller says which): an extraction writes
// the owners and then their companions after everything else, as one step that a
// close waits for, and removes an owner's old companion files as soon as it is written.
struct TCompanionFiles {
    // The endings that, added to fileName (a last name component), name the files that
    // go with it; none for a file that owns none.
    std::function<std::vector<std::string>(std::string_view fileName)> SuffixesOf;
    // The entry the entry entryName goes with; nothing for an entry that is no companion.
    std::function<std::optional<std::string>(std::string_view entryName)> OwnerOf;
};

// What a facade is made with besides its archive.
struct TZipSetup {
    int CompressionLevel = 9; // values outside 0..9 are clamped
    // The password the run knows (may be null): tried when reading, and replaced by one
    // the person gives when asked.
    std::string* SharedPassword = nullptr;
    // With a text, a write shows "text: name" for each file it starts and moves the
    // progress bar by bytes; without, it moves neither.
    std::optional<std::string> FileText;
    // Called when a write failed, before the facade pumps events again.
    std::function<void()> WriteFailed;
    TCompanionFiles Companions;
    // Files written for their owner only, whatever mode the archive stored.
    TIsPrivateFile PrivateFiles;
};

class TZipFactory {
public:
    // Pumps pending events.
    TZipFactory(std::string archivePath, std::string password, std::string baseFolder,
                TZipSetup setup, IUserInterface& ui);
    TZipFactory(std::string archivePath, std::string password, TZipSetup setup, IUserInterface& ui);
    ~TZipFactory();
    TZipFactory(const TZipFactory&) = delete;
    TZipFactory& operator=(const TZipFactory&) = delete;

    // Writing. Each returns false when the archive could not be written; the setup's
    // WriteFailed was called then and any earlier archive at the path is untouched.
    // Files that cannot be read are left out and listed in Problems(). A TProgramExit
    // thrown while the archive is written (close query answered Yes) abandons the
    // write cleanly and comes out of the call.
    bool AddTask(const std::vector<std::string>& files,
                 const std::vector<TArchiveExternalFile>& externals, std::int64_t totalBytes);
    bool AddTask(const TArchiveTask& task)
    {
        return AddTask(task.Files, task.Externals, task.TotalBytes);
    }
    // The same, taking the list of files: each name is freed as soon as the archive's
    // entry holds its copy, so a profile of a hundred thousand files does not keep two
    // lists of names at once.
    bool AddTask(std::vector<std::string>&& files,
                 const std::vector<TArchiveExternalFile>& externals, std::int64_t totalBytes);
    // The next write copies unchanged files from this earlier backup as it stores them
    // (see TAddSession::ReuseFrom) instead of deflating them again.
    void ReuseEntriesOf(std::string earlierBackup) { reuseFrom_ = std::move(earlierBackup); }
    // How many entries the last write copied from the earlier backup.
    std::size_t ReusedEntries() const { return reused_; }
    bool AddFiles(const std::vector<std::string>& specs);
    bool AddFilesFrom(const std::string& spec, const std::string& rootFolder);

    // Reading. Each returns the number of files extracted. Entries whose names would
    // reach outside the target folder are skipped (and listed in Problems()).
    int ExtractFile(const std::string& spec);
    int ExtractFileTo(const std::string& spec, const std::string& targetFolder);
    int ExtractFiles(const std::vector<std::string>& specs);
    int ExtractFolder(const std::string& folder, const std::string& mask);
    int ExtractFolderTo(const std::string& folder, const std::string& mask,
                        const std::string& targetFolder);
    // Everything below the archive folder folder, written into targetFolder itself:
    // "Work~2/Inbox" into "/b/Work/" gives "/b/Work/Inbox". The target lies outside
    // the profile: nothing written there may be run, so no file gets an execute bit.
    int ExtractFolderInto(const std::string& folder, const std::string& targetFolder);

    // The bytes an extraction of spec would write, as the archive's directory states
    // them (read before anything is extracted); nothing when the archive cannot be opened.
    std::optional<std::uint64_t> ExtractedSize(const std::string& spec);

    // The stored names, in archive order; none when the archive cannot be opened
    // (Problems() then says why).
    std::vector<std::string> EntryNames();
    // Entries (by their checked path components) that extractions leave out.
    std::function<bool(const std::vector<std::string>& components)> SkipEntry;

    const std::string& ArchivePath() const { return archivePath_; }
    const std::string& BaseFolder() const { return baseFolder_; }
    int CompressionLevel() const { return level_; }
    std::int64_t DoneBytes() const { return doneBytes_; }
    std::int64_t TotalBytes() const { return totalBytes_; }
    // Whether the last extraction met an entry it could not open because the person
    // cancelled the password question.
    bool PasswordRefused() const { return passwordRefused_; }
    // Every file the last operation left out, and why.
    const std::vector<TArchiveProblem>& Problems() const { return problems_; }

    // One entry an extraction writes, and how that went (used by its workers).
    struct TChosenEntry;
    struct TChosenOwner;
    struct TEntryResult {
        bool Written = false;
        bool Refused = false; // no password known opens it
        std::optional<TArchiveProblem> Problem;  // named by the extraction when it reports
        std::vector<TArchiveProblem> Companions; // old companion files that stayed
    };

private:
    bool AddTaskWith(const std::function<void(TAddSession&)>& addFiles,
                     const std::vector<TArchiveExternalFile>& externals, std::int64_t totalBytes);
    // collect adds the specs to the session straight from the caller's lists: a task
    // may list a hundred thousand files.
    bool Add(const std::function<void(TAddSession&)>& collect);
    // dropComponents: leading folders of each entry's name not written.
    int Extract(const std::vector<std::string>& specs, const std::string& targetFolder,
                bool takeSharedPassword, std::size_t dropComponents = 0,
                mode_t allowedModes = 0777);
    // The archive, the entries chosen and how each went, for one extraction.
    struct TExtraction;
    // Takes the entries of the archive that the names or masks match (a problem for each
    // unsafe name).
    void Choose(TExtraction& run, const std::vector<std::string>& patterns);
    bool OpenTarget(TExtraction& run, const std::string& targetFolder, mode_t allowedModes);
    // Writes the chosen entries, the owners of companions and then their companions last.
    int WriteChosen(TExtraction& run);
    // The companions to write: one whose owner was chosen but not written stays out,
    // with the owner's problem.
    std::vector<std::size_t> CompanionsToWrite(TExtraction& run,
                                               const std::vector<std::size_t>& companions);
    void TakeResults(const TExtraction& run);

    // Inflates, decrypts and writes the entries todo names on one worker per core,
    // sharing the archive (one libzip call at a time), while this thread pumps the
    // person's events. A TProgramExit from the pump stops the workers and comes out of
    // the call.
    void ExtractInParallel(TExtraction& run, const std::vector<std::size_t>& todo,
                           const std::vector<std::string>& passwords);
    // ExtractInParallel with the known passwords, then as long as the person gives new
    // ones for entries they do not open; the number written.
    int ExtractChosen(TExtraction& run, std::vector<std::size_t> todo);
    std::vector<std::string> KnownPasswords() const;
    const std::string& SharedPassword() const;

    // Pumps events and, while a write shows progress, shows the file that starts and
    // moves the bar.
    void ReportProgress(const std::string& itemName, std::uint64_t itemSize, std::uint64_t itemDone,
                        int weight);
    void SetProgressBytes(std::int64_t done, std::int64_t total);
    // The enter-password dialog; a confirmed password becomes the facade's and the
    // shared one.
    bool AskArchivePassword();

    std::string archivePath_;
    std::string baseFolder_;
    std::string password_;       // given at construction: encrypts what is added
    std::string enginePassword_; // tried first when reading
    TZipSetup setup_;
    int level_ = 9;
    std::int64_t doneBytes_ = 0;
    std::int64_t totalBytes_ = 0;
    bool adding_ = false;
    bool passwordRefused_ = false;
    bool askCancelled_ = false; // no more password questions in this extraction
    bool closeWaits_ = false;   // owners and their companions are written: a close waits
    std::string reuseFrom_;
    std::size_t reused_ = 0;
    std::vector<TArchiveProblem> problems_;
    IUserInterface& ui_;
};

} // namespace tessarin
