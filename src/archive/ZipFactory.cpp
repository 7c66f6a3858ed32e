#include "archive/ZipFactory.h"

#include "archive/AddSession.h"
#include "archive/ArchiveNames.h"
#include "archive/EntryReader.h"
#include "archive/SafeExtract.h"
#include "archive/ZipHandles.h"
#include "config/L10n.h"
#include "config/Settings.h"

#include <sys/stat.h>

#include <algorithm>
#include <optional>
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

std::string ZipErrorText(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

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

bool TZipFactory::AddTask(const std::vector<std::string>& files,
                          const std::vector<TArchiveExternalFile>& externals,
                          std::int64_t totalBytes)
{
    doneBytes_ = 0;
    totalBytes_ = totalBytes;
    std::vector<TAddPart> parts;
    parts.reserve(files.size() + externals.size());
    for (const auto& file : files)
        parts.push_back({&file, &baseFolder_});
    for (const auto& external : externals)
        parts.push_back({&external.RelativeName, &external.Root});
    // One write for the whole task: every extra write would copy the archive again.
    return Add(parts);
}

bool TZipFactory::AddFiles(const std::vector<std::string>& specs)
{
    std::vector<TAddPart> parts;
    parts.reserve(specs.size());
    for (const auto& spec : specs)
        parts.push_back({&spec, &baseFolder_});
    return Add(parts);
}

bool TZipFactory::AddFilesFrom(const std::string& spec, const std::string& rootFolder)
{
    return Add({{&spec, &rootFolder}});
}

bool TZipFactory::Add(const std::vector<TAddPart>& parts)
{
    problems_.clear();
    TFlagScope adding(adding_);
    fileText_ = Text("Tessarin14", "LANG_FILE");

    TAddSession session(archivePath_, level_, password_,
                        [this](const TAddItem& item, const std::string& name, std::uint64_t done) {
                            ReportProgress(name, item.Size, done, item.Weight);
                        });
    const std::int64_t doneAtStart = doneBytes_;
    session.OnAttempt = [this, doneAtStart] { doneBytes_ = doneAtStart; };
    const std::string fileSystemRoot = "/";
    for (const auto& part : parts) {
        // Without a root, absolute specs are stored relative to the file system's root.
        if (part.Root->empty() && !part.Spec->empty() && part.Spec->front() == '/')
            session.AddSpec(*part.Spec, fileSystemRoot);
        else
            session.AddSpec(*part.Spec, *part.Root);
    }
    const TAddSession::TResult result = session.Commit(); // TProgramExit passes through
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
    if (!adding_ || state_.Operation != 1)
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
                         bool takeSharedPassword)
{
    problems_.clear();
    passwordRefused_ = false;
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
    struct TChosen {
        zip_uint64_t Index;
        std::string Name;
        std::vector<std::string> Components;
        zip_uint8_t Opsys;
        zip_uint32_t Attributes;
    };
    std::vector<TChosen> chosen;
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
        chosen.push_back({index, std::move(name), std::move(*components), opsys, attributes});
    }

    std::optional<TExtractTarget> target;
    if (!chosen.empty()) {
        std::error_code ec;
        target.emplace(targetFolder, ec);
        if (ec) {
            problems_.push_back(targetFolder + ": " + ec.message());
            ui_.ProcessEvents();
            return 0;
        }
    }
    // A database's old journal would be replayed over the restored data by the
    // application; the backup's own journal, when it holds one, is written after.
    for (const TChosen& entry : chosen) {
        if (!IsDatabaseName(entry.Components.back()))
            continue;
        for (const char* suffix : {"-wal", "-shm", "-journal"}) {
            std::vector<std::string> companion = entry.Components;
            companion.back() += suffix;
            std::error_code ec;
            if (!target->RemoveFile(companion, ec))
                problems_.push_back(entry.Name + suffix + ": " + ec.message());
        }
    }

    std::vector<char> buffer;
    bool askCancelled = false;
    int count = 0;
    for (const TChosen& entry : chosen) {
        const zip_uint64_t index = entry.Index;
        const std::string& name = entry.Name;
        const std::vector<std::string>* components = &entry.Components;
        const zip_uint32_t attributes = entry.Attributes;
        const zip_uint8_t opsys = entry.Opsys;

        const auto unixMode = static_cast<mode_t>(attributes >> 16);
        const bool hasUnixMode = opsys == ZIP_OPSYS_UNIX && unixMode != 0;
        std::error_code ec;
        if (name.back() == '/' || (hasUnixMode && S_ISDIR(unixMode))) {
            if (!target->MakeFolders(*components, ec))
                problems_.push_back(name + ": " + ec.message());
            continue;
        }
        if (hasUnixMode && S_ISLNK(unixMode)) {
            problems_.push_back(name + ": " + Text("Messages", "LANG_SYMLINK_SKIPPED"));
            continue;
        }

        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za, index, 0, &st) != 0) {
            problems_.push_back(name + ": " + zip_strerror(za));
            continue;
        }
        const std::uint64_t size = (st.valid & ZIP_STAT_SIZE) ? st.size : 0;
        const bool encrypted =
            (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
        ReportProgress(name, size, 0, 1);

        // Saved passwords and keys live in profiles: without a stored mode, owner only.
        const mode_t newMode = hasUnixMode && (unixMode & 0777) != 0 ? (unixMode & 0777) : 0600;
        std::optional<TPendingFile> pending = target->BeginFile(*components, newMode, ec);
        if (!pending) {
            problems_.push_back(name + ": " + ec.message());
            continue;
        }

        std::string failure;
        const TEntryOutput output{[&](const char* data, std::size_t n, std::string& why) {
                                      std::error_code writeEc;
                                      if (pending->Write(data, n, writeEc))
                                          return true;
                                      why = writeEc.message();
                                      return false;
                                  },
                                  [&](std::uint64_t done) {
                                      if (done < size)
                                          ReportProgress(name, size, done, 1);
                                  }};
        auto readWith = [&](const std::string& password) {
            if (!pending->Rewind(ec)) {
                failure = ec.message();
                return TReadOutcome::Failed;
            }
            return ReadEntry(za, index, st, password, buffer, output, failure);
        };

        TReadOutcome outcome = TReadOutcome::PasswordRefused;
        if (!encrypted) {
            outcome = readWith(std::string());
        } else {
            // The facade's password first, then the one this run already knows; ask
            // only when neither opens the entry.
            std::vector<std::string> tried;
            for (const std::string* candidate : {&enginePassword_, &state_.Password}) {
                if (candidate->empty() ||
                    std::find(tried.begin(), tried.end(), *candidate) != tried.end())
                    continue;
                tried.push_back(*candidate);
                outcome = readWith(*candidate);
                if (outcome != TReadOutcome::PasswordRefused)
                    break;
            }
            if (outcome == TReadOutcome::PasswordRefused && !askCancelled) {
                if (AskArchivePassword())
                    outcome = readWith(enginePassword_);
                else
                    askCancelled = true; // no more questions in this operation
            }
            if (outcome == TReadOutcome::PasswordRefused) {
                failure = Text("Messages", "LANG_WRONG_PASSWORD");
                passwordRefused_ = passwordRefused_ || askCancelled;
            }
        }
        if (outcome != TReadOutcome::Done) {
            problems_.push_back(name + ": " + failure);
            continue;
        }
        if (size > 0)
            ReportProgress(name, size, size, 1);
        std::optional<std::time_t> mtime;
        if (st.valid & ZIP_STAT_MTIME)
            mtime = st.mtime;
        if (!pending->Commit(mtime, ec)) {
            problems_.push_back(name + ": " + ec.message());
            continue;
        }
        ++count;
    }
    ui_.ProcessEvents();
    return count;
}

} // namespace tessarin
