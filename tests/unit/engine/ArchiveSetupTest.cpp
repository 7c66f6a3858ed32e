#include "engine/ArchiveSetup.h"

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace tessarin;

// Each kind of archive problem in the person's words, as they read before the archive
// layer reported kinds.
TEST(ArchiveProblemText, EachKindIsWordedAsTheReportShowsIt)
{
    const test::TTestEnvironment env; // built-in English texts
    using enum TArchiveProblemKind;
    const std::pair<TArchiveProblem, std::string> cases[] = {
        {{"b.pcv", ArchiveUnreadable, 0, "Not a zip archive"}, "b.pcv: Not a zip archive"},
        {{"b.pcv", NoExtractFolder}, "b.pcv: no folder to extract to"},
        {{"../x", NameOutside}, "../x: name reaches outside the target folder; skipped"},
        {{"key4.db", WrongPassword}, "key4.db: wrong or missing password"},
        {{"key4.db", DecryptionFailed}, "key4.db: decryption failed"},
        {{"/etc/x", NotBelowRoot, 0, "/p/"}, "/etc/x: not below /p/"},
        {{"../x", PlaceOutside, 0, "/p/"}, "../x: names a place outside /p/"},
        {{"Mail/up", LinkNotFollowed}, "Mail/up: link to a folder stored already; not followed"},
        {{"fifo", NotRegularFile}, "fifo: not a regular file"},
        {{"Mail/Inbox", NameTaken}, "Mail/Inbox: another file is already stored under this name"},
        {{"link", SymlinkSkipped}, "link: symbolic link; skipped"},
        {{"gone", SystemError, ENOENT}, "gone: No such file or directory"},
        {{"b.pcv", WriteFailed, 0, "Write error"}, "b.pcv: Write error"},
        {{"big", Failed, 0, "CRC error"}, "big: CRC error"},
    };
    for (const auto& [problem, text] : cases)
        EXPECT_EQ(ProblemText(problem), text);
}
