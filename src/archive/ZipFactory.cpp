#include "archive/ZipFactory.h"

#include "archive/AddSession.h"
#include "archive/ArchiveNames.h"
#include "archive/EntryReader.h"
#include "archive/SafeExtract.h"
#include "archive/WorkerPool.h"
#include "archive/ZipHandles.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>

namespace tessarin {

namespace {

__extension__ using TUint128 = unsigned __int128;

// Values outside 0..9 are clamped rather than passed on: libzip would refuse every
// entry, and a typo in the settings must not cost the person a backup.
int ClampLevel(int level)
{
    return std::clamp(level, 0, 9);
}

// Restores the flag on every way out, exceptions included.
class TFlagScope {
public:
    explicit TFlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~TFlagScope() { flag_ = false; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& flag_;
};

// A name stored on a Unix system is the bytes its file system had (ours are written
// that way); libzip would read one that is not UTF-8 as CP437.
const char* EntryName(zip_t* za, zip_uint64_t index, zip_uint8_t opsys)
{
    return zip_get_name(za, index, opsys == ZIP_OPSYS_UNIX ? ZIP_FL_ENC_RAW : 0);
}

std::string NameOf(zip_t* za, zip_uint64_t index)
{
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    zip_file_get_external_attributes(za, index, 0, &opsys, &attributes);
    const char* name = EntryName(za, index, opsys);
    return name != nullptr ? name : std::string();
}

std::vector<std::string> SuffixesOf(const TCompanionFiles& rule, std::string_view fileName)
{
    return rule.SuffixesOf ? rule.SuffixesOf(fileName) : std::vector<std::string>{};
}

std::optional<std::string> OwnerOf(const TCompanionFiles& rule, std::string_view entryName)
{
    return rule.OwnerOf ? rule.OwnerOf(entryName) : std::nullopt;
}

} // namespace

// Only the index: a profile may hold a hundred thousand entries, and the workers look
// the rest up when they come to it.
struct TZipFactory::TChosenEntry {
    zip_uint64_t Index;
    bool Companion; // goes with another entry
    bool Owner;     // has companion files
};

struct TZipFactory::TChosenOwner {
    std::string Name;
    std::size_t Chosen; // its place among the chosen entries
};

struct TZipFactory::TExtraction {
    zip_t* Za = nullptr;
    std::size_t DropComponents = 0;
    std::vector<TChosenEntry> Chosen;
    std::vector<TChosenOwner> Owners;
    std::optional<TExtractTarget> Target;
    std::vector<TEntryResult> Results;
};

namespace {

struct TStopped {};

// What the workers of one extraction share; each worker touches nothing else but the
// file system.
struct TEntryJob {
    zip_t* Za;
    std::mutex& ZipLock;
    std::size_t DropComponents;
    TExtractTarget* Target; // none when nothing was chosen
    const std::vector<std::string>& Passwords;
    const TCompanionFiles& Companions;
    const std::atomic<bool>& Stop;
    const std::function<void()>& Tick;
};

// One entry's directory record, read under the archive's lock.
struct TEntryRecord {
    std::string Name;
    std::vector<std::string> Components; // below the target, leading ones dropped
    zip_stat_t Stat;
    mode_t UnixMode = 0; // 0: none stored
    bool Encrypted = false;
};

TArchiveProblem Reason(TArchiveProblemKind kind, std::string detail = {})
{
    return {std::string(), kind, 0, std::move(detail)};
}

TArchiveProblem Reason(const std::error_code& ec)
{
    return SystemProblem(std::string(), ec);
}

// False (with the problem in result) when the record cannot be read; an empty
// Components when nothing of the entry is written.
bool ReadRecord(const TEntryJob& job, zip_uint64_t index, TEntryRecord& record,
                TZipFactory::TEntryResult& result)
{
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    zip_stat_init(&record.Stat);
    {
        const std::lock_guard hold(job.ZipLock);
        zip_file_get_external_attributes(job.Za, index, 0, &opsys, &attributes);
        if (const char* rawName = EntryName(job.Za, index, opsys))
            record.Name = rawName;
        if (zip_stat_index(job.Za, index, 0, &record.Stat) != 0) {
            result.Problem = Reason(TArchiveProblemKind::Failed, zip_strerror(job.Za));
            return false;
        }
    }
    // Checked when it was chosen.
    record.Components = SafeEntryComponents(record.Name).value_or(std::vector<std::string>{});
    if (record.Components.size() <= job.DropComponents)
        record.Components.clear();
    else
        record.Components.erase(record.Components.begin(),
                                record.Components.begin() +
                                    static_cast<std::ptrdiff_t>(job.DropComponents));
    if (opsys == ZIP_OPSYS_UNIX)
        record.UnixMode = static_cast<mode_t>(attributes >> 16);
    const zip_stat_t& st = record.Stat;
    record.Encrypted =
        (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
    return true;
}

// The content, tried with each password until one opens it.
TReadOutcome ReadContent(const TEntryJob& job, zip_uint64_t index, const TEntryRecord& record,
                         TPendingFile& pending, std::vector<char>& buffer, std::string& failure)
{
    const TEntryOutput output{[&](const char* data, std::size_t n, std::string& why) {
                                  std::error_code writeEc;
                                  if (pending.Write(data, n, writeEc))
                                      return true;
                                  why = writeEc.message();
                                  return false;
                              },
                              [&](std::uint64_t) {
                                  if (job.Stop)
                                      throw TStopped{};
                                  job.Tick();
                              }};
    auto readWith = [&](const std::string& password) {
        std::error_code ec;
        if (!pending.Rewind(ec)) {
            failure = ec.message();
            return TReadOutcome::Failed;
        }
        return ReadEntry(job.Za, index, record.Stat, password, buffer, output, failure,
                         &job.ZipLock);
    };
    if (!record.Encrypted)
        return readWith(std::string());
    TReadOutcome outcome = TReadOutcome::PasswordRefused;
    for (const std::string& password : job.Passwords) {
        outcome = readWith(password);
        if (outcome != TReadOutcome::PasswordRefused)
            break;
    }
    return outcome;
}

// The old companions would be replayed over the new file: they go at once, so that no
// close can come between the two.
void RemoveCompanions(const TEntryJob& job, const TEntryRecord& record,
                      TZipFactory::TEntryResult& result)
{
    for (const std::string& suffix : SuffixesOf(job.Companions, record.Components.back())) {
        std::vector<std::string> components = record.Components;
        components.back() += suffix;
        std::error_code ec;
        if (!job.Target->RemoveFile(components, ec))
            result.Companions.push_back(SystemProblem(record.Name + suffix, ec));
    }
}

// A file entry: written beside its target and renamed into place when complete.
void WriteFile(const TEntryJob& job, zip_uint64_t index, const TEntryRecord& record,
               std::vector<char>& buffer, TZipFactory::TEntryResult& result)
{
    const mode_t unixMode = record.UnixMode;
    // Saved passwords and keys live in profiles: without a stored mode, owner only.
    const mode_t newMode = (unixMode & 0777) != 0 ? (unixMode & 0777) : 0600;
    std::error_code ec;
    std::optional<TPendingFile> pending = job.Target->BeginFile(record.Components, newMode, ec);
    if (!pending) {
        result.Problem = Reason(ec);
        return;
    }
    std::string failure;
    const TReadOutcome outcome = ReadContent(job, index, record, *pending, buffer, failure);
    if (outcome == TReadOutcome::PasswordRefused && record.Encrypted) {
        result.Refused = true;
        return;
    }
    if (outcome == TReadOutcome::DecryptionFailed) {
        result.Problem = Reason(TArchiveProblemKind::DecryptionFailed);
        return;
    }
    if (outcome != TReadOutcome::Done) {
        result.Problem = Reason(TArchiveProblemKind::Failed, failure);
        return;
    }
    std::optional<std::time_t> mtime;
    if (record.Stat.valid & ZIP_STAT_MTIME)
        mtime = record.Stat.mtime;
    if (!pending->Commit(mtime, ec)) {
        result.Problem = Reason(ec);
        return;
    }
    result.Written = true;
    RemoveCompanions(job, record, result);
}

// Writes one entry below the target, on a worker thread. Refused: no password of the
// list opens it (the caller may ask).
void ExtractEntry(const TEntryJob& job, zip_uint64_t index, std::vector<char>& buffer,
                  TZipFactory::TEntryResult& result)
{
    TEntryRecord record;
    if (!ReadRecord(job, index, record, result) || record.Components.empty())
        return;
    const mode_t unixMode = record.UnixMode;
    std::error_code ec;
    if (record.Name.back() == '/' || S_ISDIR(unixMode)) {
        if (!job.Target->MakeFolders(record.Components, ec))
            result.Problem = Reason(ec);
        return;
    }
    if (S_ISLNK(unixMode)) {
        result.Problem = Reason(TArchiveProblemKind::SymlinkSkipped);
        return;
    }
    WriteFile(job, index, record, buffer, result);
}

} // namespace

TZipFactory::TZipFactory(std::string archivePath, std::string password, std::string baseFolder,
                         TZipSetup setup, IUserInterface& ui)
    : archivePath_(std::move(archivePath)), baseFolder_(std::move(baseFolder)),
      password_(std::move(password)), setup_(std::move(setup)), ui_(ui)
{
    enginePassword_ = password_;
    level_ = ClampLevel(setup_.CompressionLevel);
    ui_.ProcessEvents();
}

TZipFactory::TZipFactory(std::string archivePath, std::string password, TZipSetup setup,
                         IUserInterface& ui)
    : TZipFactory(std::move(archivePath), std::move(password), std::string(), std::move(setup), ui)
{
}

TZipFactory::~TZipFactory() = default;

// ---- writing -------------------------------------------------------------------

namespace {

void AddPart(TAddSession& session, const std::string& spec, const std::string& root,
             const std::string& storedAs = {})
{
    // Without a root, absolute specs are stored relative to the file system's root.
    if (root.empty() && !spec.empty() && spec.front() == '/')
        session.AddSpec(spec, "/");
    else
        session.AddSpec(spec, root, storedAs);
}

} // namespace

bool TZipFactory::AddTask(const std::vector<std::string>& files,
                          const std::vector<TArchiveExternalFile>& externals,
                          std::int64_t totalBytes)
{
    return AddTaskWith(
        [&](TAddSession& session) {
            for (const auto& file : files)
                AddPart(session, file, baseFolder_);
        },
        externals, totalBytes);
}

bool TZipFactory::AddTask(std::vector<std::string>&& files,
                          const std::vector<TArchiveExternalFile>& externals,
                          std::int64_t totalBytes)
{
    return AddTaskWith(
        [&](TAddSession& session) {
            for (std::string& file : files) {
                AddPart(session, file, baseFolder_);
                std::string().swap(file); // libzip's copy of the name is made just now
            }
            std::vector<std::string>().swap(files);
        },
        externals, totalBytes);
}

bool TZipFactory::AddTaskWith(const std::function<void(TAddSession&)>& addFiles,
                              const std::vector<TArchiveExternalFile>& externals,
                              std::int64_t totalBytes)
{
    doneBytes_ = 0;
    totalBytes_ = totalBytes;
    // One write for the whole task: every extra write would copy the archive again.
    return Add([&](TAddSession& session) {
        addFiles(session);
        for (const auto& external : externals)
            AddPart(session, external.RelativeName, external.Root, external.EntryName);
    });
}

bool TZipFactory::AddFiles(const std::vector<std::string>& specs)
{
    return Add([&](TAddSession& session) {
        for (const auto& spec : specs)
            AddPart(session, spec, baseFolder_);
    });
}

bool TZipFactory::AddFilesFrom(const std::string& spec, const std::string& rootFolder)
{
    return Add([&](TAddSession& session) { AddPart(session, spec, rootFolder); });
}

bool TZipFactory::Add(const std::function<void(TAddSession&)>& collect)
{
    problems_.clear();
    TFlagScope adding(adding_);

    TAddSession session(archivePath_, level_, password_,
                        [this](const TAddItem& item, const std::string& name, std::uint64_t done) {
                            // A file checked against the earlier backup moved the bar
                            // then; its copy only shows its name.
                            if (item.Counted)
                                ReportProgress(name, 0, 0, 0);
                            else
                                ReportProgress(name, item.Size, done, item.Weight);
                        });
    session.ReuseFrom(std::exchange(reuseFrom_, {}));
    const std::int64_t doneAtStart = doneBytes_;
    session.OnAttempt = [this, doneAtStart] { doneBytes_ = doneAtStart; };
    collect(session);
    const TAddSession::TResult result = session.Commit(); // TProgramExit passes through
    reused_ = session.ReusedEntries();
    problems_ = session.Problems();
    if (result == TAddSession::TResult::Failed) {
        problems_.push_back(
            {archivePath_, TArchiveProblemKind::WriteFailed, 0, session.ErrorText()});
        if (setup_.WriteFailed)
            setup_.WriteFailed();
        ui_.ProcessEvents();
        return false;
    }
    ui_.ProcessEvents();
    return true;
}

void TZipFactory::ReportProgress(const std::string& itemName, std::uint64_t itemSize,
                                 std::uint64_t itemDone, int weight)
{
    ui_.ProcessEvents();
    // The task's byte counts only mean something while a backup writes its archive,
    // the one write given a file text.
    if (!adding_ || !setup_.FileText)
        return;
    int percent = 0;
    if (itemSize > 0 && itemDone > 0)
        percent = static_cast<int>(static_cast<TUint128>(itemDone) * 100u / itemSize);
    if (percent == 0)
        ui_.SetTaskText(*setup_.FileText + ": " + itemName);
    const auto size = static_cast<std::int64_t>(itemSize);
    // The whole current file counts as done from its start.
    SetProgressBytes(doneBytes_ + size, totalBytes_);
    if (percent == 100) {
        doneBytes_ += size * weight;
        SetProgressBytes(doneBytes_, totalBytes_);
    }
}

void TZipFactory::SetProgressBytes(std::int64_t done, std::int64_t total)
{
    ui_.SetProgressPosition(ProgressPercent(total > 0 ? static_cast<std::uint64_t>(total) : 0,
                                            done > 0 ? static_cast<std::uint64_t>(done) : 0));
}

// ---- reading -------------------------------------------------------------------

int TZipFactory::ExtractFile(const std::string& spec)
{
    return ExtractFileTo(spec, baseFolder_);
}

int TZipFactory::ExtractFileTo(const std::string& spec, const std::string& targetFolder)
{
    return Extract({spec}, targetFolder, true);
}

int TZipFactory::ExtractFiles(const std::vector<std::string>& specs)
{
    return Extract(specs, baseFolder_, true);
}

int TZipFactory::ExtractFolder(const std::string& folder, const std::string& mask)
{
    return ExtractFolderTo(folder, mask, baseFolder_);
}

int TZipFactory::ExtractFolderTo(const std::string& folder, const std::string& mask,
                                 const std::string& targetFolder)
{
    return Extract({folder.empty() ? mask : folder + "/" + mask}, targetFolder, false);
}

int TZipFactory::ExtractFolderInto(const std::string& folder, const std::string& targetFolder)
{
    const auto components = SafeEntryComponents(folder);
    if (!components)
        return 0;
    return Extract({folder + "/*.*"}, targetFolder, false, components->size(), 0666);
}

std::optional<std::uint64_t> TZipFactory::ExtractedSize(const std::string& spec)
{
    int openError = 0;
    TZipArchivePtr archive(zip_open(archivePath_.c_str(), ZIP_RDONLY, &openError));
    if (!archive)
        return std::nullopt;
    const TExtractSpec matcher(spec);
    std::uint64_t total = 0;
    const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(archive.get(), index, 0, &opsys, &attributes);
        const char* name = EntryName(archive.get(), index, opsys);
        zip_stat_t st;
        zip_stat_init(&st);
        if (name == nullptr || !matcher.Matches(name) ||
            zip_stat_index(archive.get(), index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
            continue;
        total = st.size > UINT64_MAX - total ? UINT64_MAX : total + st.size;
    }
    return total;
}

std::vector<std::string> TZipFactory::EntryNames()
{
    std::vector<std::string> names;
    problems_.clear();
    int openError = 0;
    TZipArchivePtr archive(zip_open(archivePath_.c_str(), ZIP_RDONLY, &openError));
    if (!archive) {
        problems_.push_back(
            {archivePath_, TArchiveProblemKind::ArchiveUnreadable, 0, ZipErrorText(openError)});
        return names;
    }
    const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
    names.reserve(static_cast<std::size_t>(std::max<zip_int64_t>(entries, 0)));
    for (zip_int64_t i = 0; i < entries; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(archive.get(), index, 0, &opsys, &attributes);
        if (const char* name = EntryName(archive.get(), index, opsys))
            names.emplace_back(name);
    }
    return names;
}

const std::string& TZipFactory::SharedPassword() const
{
    static const std::string none;
    return setup_.SharedPassword != nullptr ? *setup_.SharedPassword : none;
}

bool TZipFactory::AskArchivePassword()
{
    std::optional<std::string> answer = ui_.AskPassword();
    if (!answer || answer->empty())
        return false;
    enginePassword_ = *answer;
    if (setup_.SharedPassword != nullptr)
        *setup_.SharedPassword = *answer;
    return true;
}

int TZipFactory::Extract(const std::vector<std::string>& specs, const std::string& targetFolder,
                         bool takeSharedPassword, std::size_t dropComponents,
                         mode_t allowedModes)
{
    problems_.clear();
    passwordRefused_ = false;
    askCancelled_ = false;
    if (takeSharedPassword && !SharedPassword().empty())
        enginePassword_ = SharedPassword();
    if (targetFolder.empty()) {
        // Never the current directory by accident.
        problems_.push_back({archivePath_, TArchiveProblemKind::NoExtractFolder});
        ui_.ProcessEvents();
        return 0;
    }
    int openError = 0;
    TZipArchivePtr archive(zip_open(archivePath_.c_str(), ZIP_RDONLY, &openError));
    if (!archive) {
        problems_.push_back(
            {archivePath_, TArchiveProblemKind::ArchiveUnreadable, 0, ZipErrorText(openError)});
        ui_.ProcessEvents();
        return 0;
    }
    TExtraction run;
    run.Za = archive.get();
    run.DropComponents = dropComponents;
    Choose(run, specs);
    if (!run.Chosen.empty() && !OpenTarget(run, targetFolder, allowedModes)) {
        ui_.ProcessEvents();
        return 0;
    }
    const int count = WriteChosen(run);
    TakeResults(run);
    ui_.ProcessEvents();
    return count;
}

void TZipFactory::Choose(TExtraction& run, const std::vector<std::string>& patterns)
{
    std::vector<TExtractSpec> matchers;
    matchers.reserve(patterns.size());
    for (const auto& pattern : patterns)
        matchers.emplace_back(pattern);
    // Which entries go out, decided before anything is written.
    const zip_int64_t entries = zip_get_num_entries(run.Za, 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(run.Za, index, 0, &opsys, &attributes);
        const char* rawName = EntryName(run.Za, index, opsys);
        if (rawName == nullptr)
            continue;
        std::string name = rawName;
        if (std::none_of(matchers.begin(), matchers.end(),
                         [&](const TExtractSpec& m) { return m.Matches(name); }))
            continue;
        auto components = SafeEntryComponents(name);
        if (!components) {
            problems_.push_back({name, TArchiveProblemKind::NameOutside});
            continue;
        }
        if (SkipEntry && SkipEntry(*components))
            continue;
        // The folder's own entry: the target is there already.
        if (run.DropComponents > 0 && components->size() <= run.DropComponents)
            continue;
        const bool companion = OwnerOf(setup_.Companions, name).has_value();
        const bool owner = !SuffixesOf(setup_.Companions, components->back()).empty();
        if (owner)
            run.Owners.push_back({std::move(name), run.Chosen.size()});
        run.Chosen.push_back({index, companion, owner});
    }
}

bool TZipFactory::OpenTarget(TExtraction& run, const std::string& targetFolder, mode_t allowedModes)
{
    std::error_code ec;
    run.Target.emplace(targetFolder, ec, allowedModes, setup_.PrivateFiles);
    if (!ec)
        return true;
    problems_.push_back(SystemProblem(targetFolder, ec));
    return false;
}

int TZipFactory::WriteChosen(TExtraction& run)
{
    // An owner's old companions would be replayed over the restored data by the
    // application (a database's journals), so they go as soon as the new owner is in
    // place: an owner that could not be written keeps its own. The owners and then the
    // backup's companions come after everything else, as one step that a close waits
    // for: a database without its journals would lose what they hold.
    run.Results.assign(run.Chosen.size(), {});
    std::vector<std::size_t> todo, owners, companions;
    for (std::size_t i = 0; i < run.Chosen.size(); ++i)
        (run.Chosen[i].Companion ? companions : run.Chosen[i].Owner ? owners : todo).push_back(i);
    int count = ExtractChosen(run, std::move(todo));
    const TFlagScope together(closeWaits_);
    if (!owners.empty())
        count += ExtractChosen(run, std::move(owners));
    std::vector<std::size_t> companionsToWrite = CompanionsToWrite(run, companions);
    if (!companionsToWrite.empty())
        count += ExtractChosen(run, std::move(companionsToWrite));
    return count;
}

std::vector<std::size_t> TZipFactory::CompanionsToWrite(TExtraction& run,
                                                        const std::vector<std::size_t>& companions)
{
    std::vector<std::size_t> todo;
    for (std::size_t i : companions) {
        const std::string owner =
            OwnerOf(setup_.Companions, NameOf(run.Za, run.Chosen[i].Index)).value_or("");
        const auto chosen = std::find_if(run.Owners.begin(), run.Owners.end(),
                                         [&](const TChosenOwner& o) { return o.Name == owner; });
        if (chosen == run.Owners.end() || run.Results[chosen->Chosen].Written) {
            todo.push_back(i);
            continue;
        }
        // Not over an owner that stayed old.
        const TEntryResult& ownerResult = run.Results[chosen->Chosen];
        run.Results[i].Problem = ownerResult.Refused
                                     ? TArchiveProblem{{}, TArchiveProblemKind::WrongPassword}
                                     : ownerResult.Problem;
    }
    return todo;
}

void TZipFactory::TakeResults(const TExtraction& run)
{
    for (std::size_t i = 0; i < run.Chosen.size(); ++i) {
        const TEntryResult& result = run.Results[i];
        problems_.insert(problems_.end(), result.Companions.begin(), result.Companions.end());
        if (result.Problem) {
            problems_.push_back(*result.Problem);
            problems_.back().Name = NameOf(run.Za, run.Chosen[i].Index);
        }
    }
}

std::vector<std::string> TZipFactory::KnownPasswords() const
{
    // The facade's password first, then the one this run already knows.
    std::vector<std::string> passwords;
    for (const std::string* candidate : {&enginePassword_, &SharedPassword()})
        if (!candidate->empty() &&
            std::find(passwords.begin(), passwords.end(), *candidate) == passwords.end())
            passwords.push_back(*candidate);
    return passwords;
}

int TZipFactory::ExtractChosen(TExtraction& run, std::vector<std::size_t> todo)
{
    // Ask only when no known password opens an entry, and ask no more once the person
    // cancelled.
    std::vector<std::string> passwords = KnownPasswords();
    const std::vector<std::size_t> all = todo;
    std::size_t asked = 0;
    std::size_t askLimit = 0;
    for (;;) {
        ExtractInParallel(run, todo, passwords);
        std::vector<std::size_t> refused;
        for (std::size_t i : todo)
            if (run.Results[i].Refused)
                refused.push_back(i);
        // A wrong answer is asked again, at most once per entry that was refused.
        if (asked == 0)
            askLimit = refused.size();
        if (refused.empty() || asked >= askLimit || askCancelled_)
            break;
        if (!AskArchivePassword()) {
            askCancelled_ = true;
            break;
        }
        ++asked;
        passwords = {enginePassword_};
        todo = std::move(refused);
    }
    int count = 0;
    for (std::size_t i : all) {
        TEntryResult& result = run.Results[i];
        if (result.Refused) {
            result.Problem = TArchiveProblem{{}, TArchiveProblemKind::WrongPassword};
            passwordRefused_ = passwordRefused_ || askCancelled_;
        }
        count += result.Written ? 1 : 0;
    }
    return count;
}

void TZipFactory::ExtractInParallel(TExtraction& run, const std::vector<std::size_t>& todo,
                                    const std::vector<std::string>& passwords)
{
    std::mutex zipLock;
    TWorkerPool pool;
    std::exception_ptr deferred;
    const std::function<void()> tick = [&pool] { pool.Tick(); };
    TExtractTarget* const target = run.Target ? &*run.Target : nullptr;
    const TEntryJob job{run.Za,    zipLock,           run.DropComponents, target,
                        passwords, setup_.Companions, pool.StopFlag(),    tick};
    pool.Run(
        todo.size(), 0,
        [&](std::size_t slot, std::vector<char>& buffer) {
            TEntryResult& result = run.Results[todo[slot]];
            result = {};
            try {
                ExtractEntry(job, run.Chosen[todo[slot]].Index, buffer, result);
                tick();
            } catch (const TStopped&) {
                pool.Stop();
            } catch (const std::bad_alloc&) {
                result.Problem = TArchiveProblem{{}, TArchiveProblemKind::SystemError, ENOMEM};
            }
        },
        // A close answered Yes comes out of the pump and stops the workers at their next
        // megabyte, unless the owners and their companions are being written.
        [this, &deferred] {
            if (!closeWaits_) {
                ui_.ProcessEvents();
                return;
            }
            try {
                ui_.ProcessEvents();
            } catch (...) {
                if (!deferred)
                    deferred = std::current_exception();
            }
        },
        std::chrono::milliseconds(50));
    if (deferred)
        std::rethrow_exception(deferred);
}

} // namespace tessarin
