#include "engine/ArchiveSetup.h"

#include "config/L10n.h"
#include "config/Settings.h"
#include "platform/AsciiCase.h"

#include <cstring>
#include <optional>
#include <string_view>

namespace tessarin {

namespace {

constexpr std::string_view JournalSuffixes[] = {"-wal", "-shm", "-journal"};

bool IsDatabaseName(std::string_view name)
{
    return name.ends_with(".sqlite") || name.ends_with(".db");
}

std::string ProblemReason(const TArchiveProblem& problem)
{
    using enum TArchiveProblemKind;
    switch (problem.Kind) {
    case NoExtractFolder:
        return Text("Messages", "LANG_NO_EXTRACT_FOLDER");
    case NameOutside:
        return Text("Messages", "LANG_NAME_OUTSIDE");
    case WrongPassword:
        return Text("Messages", "LANG_WRONG_PASSWORD");
    case DecryptionFailed:
        return Text("Messages", "LANG_DECRYPTION_FAILED");
    case NotBelowRoot:
        return Language().GetTextWithArg("Messages", "LANG_NOT_BELOW", problem.Detail);
    case PlaceOutside:
        return Language().GetTextWithArg("Messages", "LANG_PLACE_OUTSIDE", problem.Detail);
    case LinkNotFollowed:
        return Text("Messages", "LANG_LINK_NOT_FOLLOWED");
    case NotRegularFile:
        return Text("Messages", "LANG_NOT_REGULAR_FILE");
    case NameTaken:
        return Text("Messages", "LANG_NAME_TAKEN");
    case SymlinkSkipped:
        return Text("Messages", "LANG_SYMLINK_SKIPPED");
    case SystemError:
        return std::strerror(problem.SystemError);
    case ArchiveUnreadable:
    case WriteFailed:
    case Failed:
        break;
    }
    return problem.Detail;
}

} // namespace

TZipSetup EngineZipSetup(TSharedState& state, IUserInterface& ui)
{
    TZipSetup setup;
    setup.CompressionLevel = ReadIntegerSetting(state.Env, "General", "compressionLevel", 9);
    setup.SharedPassword = &state.Password;
    // Reading moves no bar, and only a backup's write has the byte counts for one.
    if (state.Operation == TOperation::Backup)
        setup.FileText = Text("Tessarin14", "LANG_FILE");
    setup.WriteFailed = [&ui] {
        ui.ErrorBox(Text("Tessarin14", "LANG_ERROR"), Text("Tessarin15", "LANG_WRITE_ERROR3"));
    };
    setup.Companions = DatabaseJournals();
    setup.PrivateFiles = IsPrivateProfileFile;
    return setup;
}

TCompanionFiles DatabaseJournals()
{
    TCompanionFiles journals;
    journals.SuffixesOf = [](std::string_view fileName) {
        std::vector<std::string> suffixes;
        if (IsDatabaseName(fileName))
            suffixes.assign(std::begin(JournalSuffixes), std::end(JournalSuffixes));
        return suffixes;
    };
    journals.OwnerOf = [](std::string_view entryName) -> std::optional<std::string> {
        for (std::string_view suffix : JournalSuffixes) {
            if (!entryName.ends_with(suffix))
                continue;
            const std::string_view database = entryName.substr(0, entryName.size() - suffix.size());
            if (IsDatabaseName(database))
                return std::string(database);
        }
        return std::nullopt;
    };
    return journals;
}

bool IsPrivateProfileFile(std::string_view name)
{
    // A database's journals hold its pages too.
    for (std::string_view base : {"key3.db", "key4.db", "cert8.db", "cert9.db", "secmod.db",
                                  "pkcs11.txt", "logins.json", "logins-backup.json"}) {
        if (StartsWithNoCase(name, base)) {
            const std::string_view rest = name.substr(base.size());
            if (rest.empty() || rest == "-wal" || rest == "-shm" || rest == "-journal")
                return true;
        }
    }
    // signons.txt, signons2.txt, signons3.txt, signons.sqlite: "signons*.*".
    return StartsWithNoCase(name, "signons") && name.find('.') != std::string_view::npos;
}

std::string ProblemText(const TArchiveProblem& problem)
{
    return problem.Name + ": " + ProblemReason(problem);
}

std::vector<std::string> ProblemTexts(const std::vector<TArchiveProblem>& problems)
{
    std::vector<std::string> texts;
    texts.reserve(problems.size());
    for (const TArchiveProblem& problem : problems)
        texts.push_back(ProblemText(problem));
    return texts;
}

} // namespace tessarin
