#include "engine/BackupFileCheck.h"

#include "archive/SafeExtract.h"
#include "archive/ZipFactory.h"
#include "config/L10n.h"
#include "engine/ArchiveSetup.h"
#include "engine/BackupFormat.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "profiles/Catalogue.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

// An index is a few kilobytes; anything much larger is no index of ours.
constexpr std::uint64_t MaxIndexSize = 1u << 20;

// The first bytes of a file: enough for the header lines of a legacy backup, whose
// sections after them can hold whole mailboxes. Nothing, with error set, when it
// cannot be read.
std::optional<std::string> ReadHead(const std::string& path, int& error)
{
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
        error = errno;
        return std::nullopt;
    }
    std::string head(4096, '\0');
    std::size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = ::read(fd.Get(), head.data() + got, head.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            return std::nullopt;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    head.resize(got);
    return head;
}

// An input/output error: the language's text, then what the system said.
[[noreturn]] void IndexUnreadable(IUserInterface& ui, const std::string& why = {})
{
    const std::string text = Text("TForm1", "LANG_NOT_FOUND");
    ui.WarningBox(Text("TForm1", "LANG_WARNING"), why.empty() ? text : text + "\n" + why);
    throw TProgramExit{1};
}

// Extracts the archive's index into scratch; true when it came out. An index larger
// than any real one (a hostile archive) is not extracted at all.
bool ExtractIndex(const std::string& path, const TPrivateTempDir& scratch, TSharedState& state,
                  IUserInterface& ui)
{
    TZipFactory zip(path, state.Password, EngineZipSetup(state, ui), ui);
    const std::optional<std::uint64_t> size = zip.ExtractedSize(IndexFileName);
    if (!size || *size > MaxIndexSize)
        return false;
    return zip.ExtractFileTo(IndexFileName, scratch.Folder()) == 1 &&
           fs::is_regular_file(scratch.Folder() + IndexFileName);
}

} // namespace

bool CheckBackupFile(const std::string& path, TSharedState& state, IUserInterface& ui)
{
    std::error_code ec;
    if (path.empty())
        return false;
    if (!fs::is_regular_file(path, ec)) {
        if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
            IndexUnreadable(ui, path + ": " + ec.message());
        return false;
    }
    // A backup that is there but cannot be read is not "no backup": say why, touch nothing.
    int error = 0;
    const std::optional<std::string> head = ReadHead(path, error);
    if (!head)
        IndexUnreadable(ui, path + ": " + std::strerror(error));
    if (IsLegacyBackupFor(*head, state.AppNumber)) {
        state.BackupFormat = 1;
        return true;
    }
    try {
        // Extracted into a private folder, never over a user's own indexfile.txt.
        TPrivateTempDir scratch;
        if (!ExtractIndex(path, scratch, state, ui))
            return false;
    } catch (const TProgramExit&) {
        throw;
    } catch (const std::exception&) {
        return false;
    }
    state.BackupFormat = 2;
    return true;
}

void ReadBackupIndex(TSharedState& state, IUserInterface& ui)
{
    const bool legacy = state.BackupFormat == 1;
    std::string text;
    std::error_code ec;
    if (legacy) {
        int error = 0;
        std::optional<std::string> head = ReadHead(state.BackupFile, error);
        if (!head)
            IndexUnreadable(ui, state.BackupFile + ": " + std::strerror(error));
        text = std::move(*head);
    } else {
        try {
            TPrivateTempDir scratch;
            // An index that does not come out (a cancelled password) reads as empty.
            if (ExtractIndex(state.BackupFile, scratch, state, ui) &&
                !ReadWholeFile(scratch.Folder() + IndexFileName, text, ec))
                IndexUnreadable(ui);
        } catch (const TProgramExit&) {
            throw;
        } catch (const std::exception&) {
            IndexUnreadable(ui);
        }
    }
    const TBackupIndex index = ParseBackupIndex(text, legacy);
    state.BackupAppNumber = index.AppNumber;
    state.BackupVersion = index.Version;
    state.ExternalMailDirs = index.ExternalMailDirs;
    state.UnknownItems = index.UnknownItems;
    ApplyIndexToBoxes(index, state);
}

bool BackupMatchesApplication(const std::string& path, int appNumber, TSharedState& state,
                              IUserInterface& ui)
{
    state.BackupFile = path;
    ReadBackupIndex(state, ui);
    return state.BackupAppNumber <= 0 || state.BackupAppNumber == appNumber;
}

} // namespace tessarin

namespace tessarin {

namespace {
std::string InstalledVersion(std::uint8_t appNumber)
{
    if (appNumber < 1 || appNumber > ApplicationCount || appNumber == AppPortable)
        return {};
    return Trim(InstallRecord(appNumber).Version);
}
} // namespace

bool BackupIsFromNewerVersion(const TSharedState& state)
{
    const std::string installed = InstalledVersion(state.AppNumber);
    const std::string backup = Trim(state.BackupVersion);
    if (installed.empty() || backup.empty())
        return false;
    return CompareVersions(backup, installed) > 0;
}

bool ConfirmRestoreOfNewerBackup(const TSharedState& state, IUserInterface& ui)
{
    if (!BackupIsFromNewerVersion(state))
        return true;
    return ui.QuestionBox(Text("TForm1", "LANG_QUESTION"),
                          Language().GetTextWithArgs("Tessarin15", "LANG_NEWER_BACKUP",
                                                     Trim(state.BackupVersion),
                                                     InstalledVersion(state.AppNumber)));
}

} // namespace tessarin
