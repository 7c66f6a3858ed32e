#include "archive/ZipFactory.h"

#include "archive/AddSession.h"
#include "archive/ArchiveNames.h"
#include "archive/EntryReader.h"
#include "archive/SafeExtract.h"
#include "archive/WorkerPool.h"
#include "archive/ZipHandles.h"
#include "config/L10n.h"
#include "config/Settings.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>

namespace tessarin {

namespace {

__extension__ using TUint128 = unsigned __int128;

// compressionLevel is a plain integer in Backup.ini. Values outside 0..9 are clamped
// rather than passed on: libzip would refuse every entry, and a typo in the settings
// must not cost the person a backup.
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

bool EndsWith(std::string_view text, std::string_view tail)
{
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool IsDatabaseName(std::string_view name)
{
    return EndsWith(name, ".sqlite") || EndsWith(name, ".db");
}

std::string NameOf(zip_t* za, zip_uint64_t index)
{
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    zip_file_get_external_attributes(za, index, 0, &opsys, &attributes);
    const char* name = EntryName(za, index, opsys);
    return name != nullptr ? name : std::string();
}

// The database a journal entry ("places.sqlite-wal") belongs to.
std::optional<std::string> JournalOf(std::string_view name)
{
    for (std::string_view suffix : {"-wal", "-shm", "-journal"})
        if (EndsWith(name, suffix) && IsDatabaseName(name.substr(0, name.size() - suffix.size())))
            return std::string(name.substr(0, name.size() - suffix.size()));
    return std::nullopt;
}

} // namespace

// Only the index: a profile may hold a hundred thousand entries, and the workers look
// the rest up when they come to it.
struct TZipFactory::TChosenEntry {
    zip_uint64_t Index;
    bool Journal;  // a database's -wal, -shm or -journal
    bool Database; // a .sqlite or .db file
};

struct TZipFactory::TChosenDatabase {
    std::string Name;
    std::size_t Chosen; // its place among the chosen entries
};

namespace {

struct TStopped {};

// Writes one entry below target, on a worker thread: touches nothing shared but the
// file system. Refused: no password of the list opens it (the caller may ask).
void ExtractEntry(zip_t* za, std::mutex& zipLock, zip_uint64_t index, std::size_t dropComponents,
                  TExtractTarget& target,
                  const std::vector<std::string>& passwords, const std::string& symlinkText,
                  std::vector<char>& buffer, const std::atomic<bool>& stop,
                  const std::function<void()>& tick, TZipFactory::TEntryResult& result)
{
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    std::string name;
    zip_stat_t st;
    zip_stat_init(&st);
    {
        const std::lock_guard hold(zipLock);
        zip_file_get_external_attributes(za, index, 0, &opsys, &attributes);
        if (const char* rawName = EntryName(za, index, opsys))
            name = rawName;
        if (zip_stat_index(za, index, 0, &st) != 0) {
            result.Problem = zip_strerror(za);
            return;
        }
    }
    // Checked when it was chosen.
    std::vector<std::string> components =
        SafeEntryComponents(name).value_or(std::vector<std::string>{});
    if (components.size() <= dropComponents)
        return;
    components.erase(components.begin(),
                     components.begin() + static_cast<std::ptrdiff_t>(dropComponents));
    const auto unixMode = static_cast<mode_t>(attributes >> 16);
    const bool hasUnixMode = opsys == ZIP_OPSYS_UNIX && unixMode != 0;
    std::error_code ec;
    if (name.back() == '/' || (hasUnixMode && S_ISDIR(unixMode))) {
        if (!target.MakeFolders(components, ec))
            result.Problem = ec.message();
        return;
    }
    if (hasUnixMode && S_ISLNK(unixMode)) {
        result.Problem = symlinkText;
        return;
    }
    const bool encrypted =
        (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;

    // Saved passwords and keys live in profiles: without a stored mode, owner only.
    const mode_t newMode = hasUnixMode && (unixMode & 0777) != 0 ? (unixMode & 0777) : 0600;
    std::optional<TPendingFile> pending = target.BeginFile(components, newMode, ec);
    if (!pending) {
        result.Problem = ec.message();
        return;
    }
    std::string failure;
    const TEntryOutput output{[&](const char* data, std::size_t n, std::string& why) {
                                  std::error_code writeEc;
                                  if (pending->Write(data, n, writeEc))
                                      return true;
                                  why = writeEc.message();
                                  return false;
                              },
                              [&](std::uint64_t) {
                                  if (stop)
                                      throw TStopped{};
                                  tick();
                              }};
    auto readWith = [&](const std::string& password) {
        if (!pending->Rewind(ec)) {
            failure = ec.message();
            return TReadOutcome::Failed;
        }
        return ReadEntry(za, index, st, password, buffer, output, failure, &zipLock);
    };
    TReadOutcome outcome = TReadOutcome::PasswordRefused;
    if (!encrypted) {
        outcome = readWith(std::string());
    } else {
        for (const std::string& password : passwords) {
            outcome = readWith(password);
            if (outcome != TReadOutcome::PasswordRefused)
                break;
        }
    }
    if (outcome == TReadOutcome::PasswordRefused && encrypted) {
        result.Refused = true;
        return;
    }
    if (outcome != TReadOutcome::Done) {
        result.Problem = failure;
        return;
    }
    std::optional<std::time_t> mtime;
    if (st.valid & ZIP_STAT_MTIME)
        mtime = st.mtime;
    if (!pending->Commit(mtime, ec)) {
        result.Problem = ec.message();
        return;
    }
    result.Written = true;
    // The old journals would be replayed over the new database: they go at once, so
    // that no close can come between the two.
    if (!IsDatabaseName(components.back()))
        return;
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        std::vector<std::string> companion = components;
        companion.back() += suffix;
        if (!target.RemoveFile(companion, ec))
            result.Companions.push_back(name + suffix + ": " + ec.message());
    }
}

} // namespace

TZipFactory::TZipFactory(std::string archivePath, std::string password, std::string baseFolder,
                         TSharedState& state, IUserInterface& ui)
    : archivePath_(std::move(archivePath)), baseFolder_(std::move(baseFolder)),
      password_(std::move(password)), state_(state), ui_(ui)
{
    enginePassword_ = password_;
    level_ = ClampLevel(ReadIntegerSetting("General", "compressionLevel", 9));
    ui_.ProcessEvents();
}

TZipFactory::TZipFactory(std::string archivePath, std::string password, TSharedState& state,
                         IUserInterface& ui)
    : TZipFactory(std::move(archivePath), std::move(password), std::string(), state, ui)
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
    fileText_ = Text("Tessarin14", "LANG_FILE");

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
        problems_.push_back(session.ErrorText());
        ReportWriteError();
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
    // The task's byte counts only mean something while a backup writes its archive.
    if (!adding_ || state_.Operation != TOperation::Backup)
        return;
    int percent = 0;
    if (itemSize > 0 && itemDone > 0)
        percent = static_cast<int>(static_cast<TUint128>(itemDone) * 100u / itemSize);
    if (percent == 0)
        ui_.SetTaskText(fileText_ + ": " + itemName);
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

void TZipFactory::ReportWriteError()
{
    ui_.ErrorBox(Text("Tessarin14", "LANG_ERROR"), Text("Tessarin15", "LANG_WRITE_ERROR3"));
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
        problems_.push_back(archivePath_ + ": " + ZipErrorText(openError));
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

bool TZipFactory::AskArchivePassword()
{
    std::optional<std::string> answer = ui_.AskPassword();
    if (!answer || answer->empty())
        return false;
    enginePassword_ = *answer;
    state_.Password = *answer;
    return true;
}

int TZipFactory::Extract(const std::vector<std::string>& specs, const std::string& targetFolder,
                         bool takeSharedPassword, std::size_t dropComponents,
                         mode_t allowedModes)
{
    problems_.clear();
    passwordRefused_ = false;
    askCancelled_ = false;
    if (takeSharedPassword && !state_.Password.empty())
        enginePassword_ = state_.Password;
    if (targetFolder.empty()) {
        // Never the current directory by accident.
        problems_.push_back(archivePath_ + ": " + Text("Messages", "LANG_NO_EXTRACT_FOLDER"));
        ui_.ProcessEvents();
        return 0;
    }

    std::vector<TExtractSpec> matchers;
    matchers.reserve(specs.size());
    for (const auto& spec : specs)
        matchers.emplace_back(spec);

    int openError = 0;
    TZipArchivePtr archive(zip_open(archivePath_.c_str(), ZIP_RDONLY, &openError));
    if (!archive) {
        problems_.push_back(archivePath_ + ": " + ZipErrorText(openError));
        ui_.ProcessEvents();
        return 0;
    }
    zip_t* za = archive.get();

    // Which entries go out, decided before anything is written.
    std::vector<TChosenEntry> chosen;
    std::vector<TChosenDatabase> databases;
    const zip_int64_t entries = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < entries; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(za, index, 0, &opsys, &attributes);
        const char* rawName = EntryName(za, index, opsys);
        if (rawName == nullptr)
            continue;
        std::string name = rawName;
        if (std::none_of(matchers.begin(), matchers.end(),
                         [&](const TExtractSpec& m) { return m.Matches(name); }))
            continue;
        auto components = SafeEntryComponents(name);
        if (!components) {
            problems_.push_back(name + ": " + Text("Messages", "LANG_NAME_OUTSIDE"));
            continue;
        }
        if (SkipEntry && SkipEntry(*components))
            continue;
        if (dropComponents > 0) {
            if (components->size() <= dropComponents)
                continue; // the folder's own entry: the target is there already
            components->erase(components->begin(),
                              components->begin() + static_cast<std::ptrdiff_t>(dropComponents));
        }
        const bool journal = JournalOf(name).has_value();
        const bool database = IsDatabaseName(components->back());
        if (database)
            databases.push_back({std::move(name), chosen.size()});
        chosen.push_back({index, journal, database});
    }

    std::optional<TExtractTarget> target;
    if (!chosen.empty()) {
        std::error_code ec;
        target.emplace(targetFolder, ec, allowedModes);
        if (ec) {
            problems_.push_back(targetFolder + ": " + ec.message());
            ui_.ProcessEvents();
            return 0;
        }
    }
    // A database's old journal would be replayed over the restored data by the
    // application, so it goes as soon as the new database is in place: a database that
    // could not be written keeps its own. The databases and then the backup's journals
    // come after everything else, as one step that a close waits for: a database
    // without its journals would lose what they hold.
    std::vector<TEntryResult> results(chosen.size());
    std::vector<std::size_t> todo, stores, journals;
    for (std::size_t i = 0; i < chosen.size(); ++i)
        (chosen[i].Journal ? journals : chosen[i].Database ? stores : todo).push_back(i);
    int count = ExtractChosen(za, chosen, std::move(todo), *target, dropComponents, results);
    const TFlagScope together(closeWaits_);
    if (!stores.empty())
        count += ExtractChosen(za, chosen, std::move(stores), *target, dropComponents, results);
    // Not over a database that stayed old.
    todo.clear();
    for (std::size_t i : journals) {
        const std::string name = NameOf(za, chosen[i].Index);
        const std::string database = JournalOf(name).value_or(std::string());
        const auto owner = std::find_if(databases.begin(), databases.end(),
                                        [&](const TChosenDatabase& d) { return d.Name == database; });
        if (owner != databases.end() && !results[owner->Chosen].Written)
            results[i].Problem = results[owner->Chosen].Refused
                                     ? Text("Messages", "LANG_WRONG_PASSWORD")
                                     : results[owner->Chosen].Problem;
        else
            todo.push_back(i);
    }
    if (!todo.empty())
        count += ExtractChosen(za, chosen, std::move(todo), *target, dropComponents, results);

    for (std::size_t i = 0; i < chosen.size(); ++i) {
        problems_.insert(problems_.end(), results[i].Companions.begin(),
                         results[i].Companions.end());
        if (!results[i].Problem.empty())
            problems_.push_back(NameOf(za, chosen[i].Index) + ": " + results[i].Problem);
    }
    ui_.ProcessEvents();
    return count;
}

int TZipFactory::ExtractChosen(zip_t* za, const std::vector<TChosenEntry>& chosen,
                               std::vector<std::size_t> todo, TExtractTarget& target,
                               std::size_t dropComponents, std::vector<TEntryResult>& results)
{
    // The facade's password first, then the one this run already knows; ask only when
    // neither opens an entry, and ask no more once the person cancelled.
    std::vector<std::string> passwords;
    for (const std::string* candidate : {&enginePassword_, &state_.Password})
        if (!candidate->empty() &&
            std::find(passwords.begin(), passwords.end(), *candidate) == passwords.end())
            passwords.push_back(*candidate);
    const std::vector<std::size_t> all = todo;
    std::size_t asked = 0;
    std::size_t askLimit = 0;
    for (;;) {
        ExtractInParallel(za, chosen, todo, target, passwords, dropComponents, results);
        std::vector<std::size_t> refused;
        for (std::size_t i : todo)
            if (results[i].Refused)
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
        if (results[i].Refused) {
            results[i].Problem = Text("Messages", "LANG_WRONG_PASSWORD");
            passwordRefused_ = passwordRefused_ || askCancelled_;
        }
        count += results[i].Written ? 1 : 0;
    }
    return count;
}

void TZipFactory::ExtractInParallel(zip_t* za, const std::vector<TChosenEntry>& chosen,
                                    const std::vector<std::size_t>& todo, TExtractTarget& target,
                                    const std::vector<std::string>& passwords,
                                    std::size_t dropComponents, std::vector<TEntryResult>& results)
{
    const std::string symlinkText = Text("Messages", "LANG_SYMLINK_SKIPPED");
    std::mutex zipLock;
    TWorkerPool pool;
    std::exception_ptr deferred;
    const std::function<void()> tick = [&pool] { pool.Tick(); };
    pool.Run(
        todo.size(), 0,
        [&](std::size_t slot, std::vector<char>& buffer) {
            TEntryResult& result = results[todo[slot]];
            result = {};
            try {
                ExtractEntry(za, zipLock, chosen[todo[slot]].Index, dropComponents, target,
                             passwords, symlinkText, buffer, pool.StopFlag(), tick, result);
                tick();
            } catch (const TStopped&) {
                pool.Stop();
            } catch (const std::bad_alloc&) {
                result.Problem = std::strerror(ENOMEM);
            }
        },
        // A close answered Yes comes out of the pump and stops the workers at their next
        // megabyte, unless the databases and their journals are being written.
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
