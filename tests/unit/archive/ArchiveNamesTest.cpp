#include "archive/ArchiveNames.h"

#include <gtest/gtest.h>

namespace tessarin {
namespace {

TEST(ArchiveNames, MasksMatchLikeTheWindowsEngine)
{
    struct TCase {
        const char* Name;
        const char* Mask;
        bool Matches;
    };
    const TCase cases[] = {
        {"Inbox", "*.*", true}, // no dot, still every name
        {"abook.mab", "*.mab", true},
        {"ABOOK.MAB", "*.mab", true},
        {"abook.mab.bak", "*.mab", false},
        {"cert8.db", "cert?.db", true},
        {"cert10.db", "cert?.db", false},
        {"a.b.c.msf", "*.*.msf", true},
        {"", "?", false},
        // Mail folder names as masks: '[' and '\' stand for themselves.
        {"[Gmail]", "[Gmail]", true},
        {"G", "[Gmail]", false},
        {"[Gmail].msf", "[gmail]*.msf", true},
        {"Why?", "Why?", true},
        {"a\\b", "a\\b", true},
        {"ab", "a\\b", false},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(NameMatchesMask(c.Name, c.Mask), c.Matches) << c.Name << " ~ " << c.Mask;
}

TEST(ArchiveNames, HostileEntryNamesAreRefused)
{
    for (const char* name : {"../evil", "a/../../evil", "/etc/passwd", "C:/x", "c:x", "C:", "z:",
                             "..\\evil", "sub\\..\\..\\evil", "a/..", "", "/", "./"})
        EXPECT_FALSE(SafeEntryComponents(name).has_value()) << name;
}

TEST(ArchiveNames, HarmlessOddNamesAreCleanedUp)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(SafeEntryComponents("Mail/Local Folders/Inbox"),
              (V{"Mail", "Local Folders", "Inbox"}));
    EXPECT_EQ(SafeEntryComponents("./a//b/"), (V{"a", "b"}));
    EXPECT_EQ(SafeEntryComponents("..hidden/x"), (V{"..hidden", "x"}));
    EXPECT_EQ(SafeEntryComponents("3:00 meeting"), (V{"3:00 meeting"}));
}

TEST(ArchiveNames, SpecsSelectEntries)
{
    const TExtractSpec msf("Mail\\*.msf");
    EXPECT_TRUE(msf.Matches("Mail/Local Folders/Inbox.msf"));
    EXPECT_TRUE(msf.Matches("Mail/Local Folders/Archives.sbd/2009.msf")); // any depth
    EXPECT_TRUE(msf.Matches("mail/Inbox.msf"));
    EXPECT_FALSE(msf.Matches("Mail/Local Folders/Inbox"));
    EXPECT_FALSE(msf.Matches("ImapMail/x/INBOX.msf"));
    EXPECT_FALSE(msf.Matches("Mailbox/x.msf")); // a folder name, not a prefix

    const TExtractSpec bare("*.mab");
    EXPECT_TRUE(bare.Matches("abook.mab"));
    EXPECT_TRUE(bare.Matches("sub/history.mab"));

    const TExtractSpec all("Mail/*.*");
    EXPECT_TRUE(all.Matches("Mail/Local Folders/Inbox"));
    EXPECT_FALSE(all.Matches("Mail"));

    const TExtractSpec file("indexfile.txt");
    EXPECT_TRUE(file.Matches("indexfile.txt"));
    EXPECT_FALSE(file.Matches("sub/indexfile.txt"));
    EXPECT_FALSE(file.Matches("indexfile.txt.old"));
    EXPECT_TRUE(TExtractSpec("prefs.js").Matches("Prefs.js")); // as the Windows engine stored it

    const TExtractSpec folder("bookmarkbackups");
    EXPECT_TRUE(folder.Matches("bookmarkbackups/b.json"));
    EXPECT_TRUE(folder.Matches("bookmarkbackups/"));
}

} // namespace
} // namespace tessarin
