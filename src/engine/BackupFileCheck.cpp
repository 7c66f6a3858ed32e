#include "engine/BackupFileCheck.h"

#include "archive/ZipFactory.h"
#include "config/L10n.h"
#include "engine/BackupFormat.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "profiles/Catalogue.h"

#include <filesystem>
#include <fstream>
#include <optional>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

// The first bytes of a file: enough for the header lines of a legacy backup, whose
// sections after them can hold whole mailboxes. Nothing when it cannot be read.
std::optional<std::string> ReadHead(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    if (in.bad())
        return std::nullopt;
    head.resize(static_cast<std::size_t>(in.gcount()));
    return head;
}

[[noreturn]] void IndexUnreadable(IUserInterface& ui)
{
    ui.WarningBox(Text("TForm1", "LANG_WARNING"), Text("TForm1", "LANG_NOT_FOUND"));
    throw TProgramExit{1};
}

// Extracts the archive's index into scratch; true when it came out.
bool ExtractIndex(const std::string& path, const TPrivateTempDir& scratch, TSharedState& state,
                  IUserInterface& ui)
{
    TZipFactory zip(path, state.Password, state, ui);
    return zip.ExtractFileTo(IndexFileName, scratch.Folder()) == 1 &&
           fs::is_regular_file(scratch.Folder() + IndexFileName);
}

} // namespace

bool CheckBackupFile(const std::string& path, TSharedState& state, IUserInterface& ui)
{
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec))
        return false;
    if (IsLegacyBackupFor(ReadHead(path).value_or(std::string()), state.AppNumber)) {
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
        std::optional<std::string> head = ReadHead(state.BackupFile);
        if (!head)
            IndexUnreadable(ui);
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
