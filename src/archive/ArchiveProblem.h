#pragma once
// What went wrong with one name of an archive operation. The archive layer only says
// which kind of problem it was; the engine puts it into the person's words.

#include <string>
#include <system_error>
#include <utility>

namespace tessarin {

enum class TArchiveProblemKind {
    ArchiveUnreadable, // the archive does not open; Detail: libzip's reason
    WriteFailed,       // the archive could not be written; Detail: libzip's reason
    NoExtractFolder,   // an extraction without a target folder
    NameOutside,       // an entry name that would reach outside the target
    WrongPassword,     // no known password opens the entry
    DecryptionFailed,
    NotBelowRoot,    // Detail: the root the name is not below
    PlaceOutside,    // Detail: the root the name leads out of
    LinkNotFollowed, // a symbolic link that leads where the archive already is
    NotRegularFile,
    NameTaken,      // a second file for an entry name already stored
    SymlinkSkipped, // an entry that is a symbolic link
    SystemError,    // SystemError: the errno
    Failed,         // anything else; Detail: the library's reason
};

struct TArchiveProblem {
    std::string Name; // the entry, file or archive it is about
    TArchiveProblemKind Kind = TArchiveProblemKind::Failed;
    int SystemError = 0;
    std::string Detail = {};
};

// A failure given as an error code: an errno when it is one, else the code's own words.
inline TArchiveProblem SystemProblem(std::string name, const std::error_code& ec)
{
    if (ec.category() == std::generic_category() || ec.category() == std::system_category())
        return {std::move(name), TArchiveProblemKind::SystemError, ec.value()};
    return {std::move(name), TArchiveProblemKind::Failed, 0, ec.message()};
}

} // namespace tessarin
