#include "engine/PrefsParser.h"

#include "config/L10n.h"
#include "support/ProfileFixture.h"
#include "support/TestEnvironment.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace tessarin;
using tessarin::test::CopyRealProfile;
using tessarin::test::RerunUnprivileged;
using tessarin::test::TTempDir;
using tessarin::test::TTestEnvironment;

namespace {

class PrefsTest : public ::testing::Test {
protected:
    // Built-in English texts, whatever lies beside the test binary.
    TTestEnvironment env;
    const TTempDir& dir = env.Dir();
};

std::vector<std::int32_t> Numbers(const TPrefsParser& parser)
{
    std::vector<std::int32_t> out;
    for (const auto& a : parser.GetAccounts())
        out.push_back(a->GetNumber());
    return out;
}

} // namespace

TEST(PrefsLine, KeyAndValueOfStringsNumbersAndBooleans)
{
    TPrefsLine l = ParsePrefsLine(R"(user_pref("mail.server.server2.type", "imap");)");
    EXPECT_EQ(l.Key, "mail.server.server2.type");
    EXPECT_EQ(l.Value, "imap");
    EXPECT_TRUE(l.IsString);

    // Non-strings keep the blank after the comma.
    l = ParsePrefsLine(R"(user_pref("mail.server.server2.port", 993);)");
    EXPECT_EQ(l.Value, " 993");
    EXPECT_FALSE(l.IsString);
    EXPECT_EQ(ParsePrefsLine(R"(user_pref("a.b",true);)").Value, "true");

    // Escaped quotes do not end the text; the value keeps its escapes.
    const std::string line =
        R"(user_pref("browser.uiCustomization.state", "{\"placements\":{\"nav-bar\":[]}}");)";
    l = ParsePrefsLine(line);
    EXPECT_EQ(l.Value, R"({\"placements\":{\"nav-bar\":[]}})");
    EXPECT_EQ(line.substr(l.ValueBegin, l.ValueEnd - l.ValueBegin), l.Value);
}

TEST(PrefsLine, LinesThatAreNoPreference)
{
    EXPECT_FALSE(ParsePrefsLine("// Mozilla User Preferences").IsPreference());
    EXPECT_FALSE(
        ParsePrefsLine(R"(// user_pref("mail.identity.id1.valid", true);)").IsPreference());
    EXPECT_FALSE(ParsePrefsLine("").IsPreference());
    EXPECT_FALSE(ParsePrefsLine(R"(user_pref("a.b", "");)").IsPreference());
    EXPECT_FALSE(ParsePrefsLine(R"(user_pref("a.b");)").IsPreference());
    // A quote never closed, in the key or in the value.
    EXPECT_FALSE(ParsePrefsLine(R"(user_pref("mail.server.server1.directory)").IsPreference());
    TPrefsLine l = ParsePrefsLine(R"(user_pref("mail.server.server1.directory", "/home/u/Mail);)");
    EXPECT_EQ(l.Key, "mail.server.server1.directory");
    EXPECT_FALSE(l.IsPreference());
}

std::vector<std::string> ReadLines(const std::string& text, std::vector<bool>* tooLong = nullptr)
{
    std::istringstream in(text);
    TPrefsLineReader reader(in);
    std::string line;
    bool longLine = false;
    std::vector<std::string> lines;
    while (reader.Next(line, longLine)) {
        lines.push_back(line);
        if (tooLong != nullptr)
            tooLong->push_back(longLine);
    }
    EXPECT_FALSE(reader.Failed());
    return lines;
}

TEST(PrefsLine, ReaderSplitsAtLfCrLfAndCr)
{
    EXPECT_EQ(ReadLines("one\r\ntwo\nthree\rfour"),
              (std::vector<std::string>{"one", "two", "three", "four"}));
    EXPECT_EQ(ReadLines("a\n\nb\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(ReadLines("").empty());

    // A CR LF and a line that straddle the reader's 64 KB chunks.
    const std::string big(64 * 1024 - 1, 'x');
    EXPECT_EQ(ReadLines(big + "\r\nnext\n" + big + big + "\nlast"),
              (std::vector<std::string>{big, "next", big + big, "last"}));

    // At the limit a line is kept whole, whatever ends it; one byte more and it is dropped.
    for (const std::size_t length : {MaxPrefsLineLength, MaxPrefsLineLength + 1}) {
        for (const char* end : {"\n", "\r\n", "\r"}) {
            const std::string line(length, 'y');
            const bool kept = length <= MaxPrefsLineLength;
            std::vector<bool> tooLong;
            EXPECT_EQ(ReadLines("a\n" + line + end + "b", &tooLong),
                      (std::vector<std::string>{"a", kept ? line : "", "b"}))
                << length;
            EXPECT_EQ(tooLong, (std::vector<bool>{false, !kept, false})) << length;
        }
    }
}

TEST(PrefsLine, ReaderReportsAReadError)
{
    TTempDir dir;
    std::ifstream folder(dir.Path(), std::ios::binary); // opens, but reading fails
    ASSERT_TRUE(folder.is_open());
    TPrefsLineReader reader(folder);
    std::string line;
    bool tooLong = false;
    EXPECT_FALSE(reader.Next(line, tooLong));
    EXPECT_TRUE(reader.Failed());
}

TEST(PrefsPath, DecodeAndEncodeUndoEachOther)
{
    EXPECT_EQ(DecodePrefsPath(R"(C:\\Users\\Jana\\Mail)"), R"(C:\Users\Jana\Mail)");
    // Written with single backslashes: unchanged.
    EXPECT_EQ(DecodePrefsPath(R"(C:\Users\Jana\Mail)"), R"(C:\Users\Jana\Mail)");
    EXPECT_EQ(DecodePrefsPath(R"(/home/jana/My \"Mail\")"), R"(/home/jana/My "Mail")");
    EXPECT_EQ(DecodePrefsPath("/home/jana/Pošta"), "/home/jana/Pošta");

    for (const std::string path : {R"(C:\Users\Jana\Mail)", R"(/home/jana/a"b\c)", "/p/Pošta"})
        EXPECT_EQ(DecodePrefsPath(EncodePrefsPath(path)), path) << path;
    EXPECT_EQ(EncodePrefsPath(R"(D:\Post\Work)"), R"(D:\\Post\\Work)");
    EXPECT_EQ(EncodePrefsPath("/home/jana/Mail"), "/home/jana/Mail");
}

TEST(PrefsServerNumber, OnlyWholePositiveNumbersThatFit)
{
    std::string field;
    EXPECT_EQ(ServerNumberOfKey("mail.server.server12.directory-rel", &field), 12);
    EXPECT_EQ(field, "directory-rel");
    EXPECT_EQ(ServerNumberOfKey("mail.server.server2147483647.type"), 2147483647);
    EXPECT_EQ(ServerNumberOfKey("mail.server.server99999999999999.directory"), 0);
    EXPECT_EQ(ServerNumberOfKey("mail.server.server2147483648.type"), 0);
    EXPECT_EQ(ServerNumberOfKey("mail.server.server0.type"), 0);
    EXPECT_EQ(ServerNumberOfKey("mail.server.server-1.type"), 0);
    EXPECT_EQ(ServerNumberOfKey("mail.server.server1x.type"), 0);
    EXPECT_EQ(ServerNumberOfKey("mail.server.server.type"), 0);
    EXPECT_EQ(ServerNumberOfKey("mail.server.server5"), 0);
    EXPECT_EQ(ServerNumberOfKey("mail.server.default.type"), 0);
}

TEST_F(PrefsTest, ThunderbirdProfileWithFourAccounts)
{
    const auto profile = CopyRealProfile("thunderbird", dir.Path());
    const std::string p = profile.Profile.string();
    const std::string outside = (profile.Outside / "pop.example.org").string();

    TPrefsParser parser(p + "/prefs.js");
    EXPECT_EQ(parser.GetPath(), p + "/prefs.js");
    ASSERT_EQ(Numbers(parser), (std::vector<std::int32_t>{1, 2, 3, 4}));

    const TPrefsParserAccount& local = *parser.FindAccount(1);
    EXPECT_EQ(local.GetType(), "none");
    EXPECT_EQ(local.GetDirectory(), p + "/Mail/Local Folders");
    EXPECT_EQ(local.GetRelativeDirectory(), "[ProfD]Mail/Local Folders");
    EXPECT_EQ(local.GetName(), "Local Folders");
    EXPECT_FALSE(local.IsExternal());

    const TPrefsParserAccount& imap = *parser.FindAccount(2);
    EXPECT_EQ(imap.GetType(), "imap");
    EXPECT_EQ(imap.GetHostName(), "imap.example.com");
    EXPECT_FALSE(imap.IsExternal());

    const TPrefsParserAccount& rss = *parser.FindAccount(3);
    EXPECT_EQ(rss.GetType(), "rss");
    EXPECT_EQ(rss.GetName(), "Blogs & News Feeds");
    EXPECT_FALSE(rss.IsExternal());

    const TPrefsParserAccount& pop = *parser.FindAccount(4);
    EXPECT_EQ(pop.GetType(), "pop3");
    EXPECT_EQ(pop.GetCharset(), "UTF-8");
    EXPECT_EQ(pop.GetDirectory(), outside);
    EXPECT_EQ(pop.GetRelativeDirectory(), "[ProfD]../outside/pop.example.org");
    EXPECT_TRUE(pop.IsExternal());
    EXPECT_EQ(parser.FindAccount(5), nullptr);

    const std::string folder = profile.Folder();
    EXPECT_EQ(GetMailDirectory(local, folder), p + "/Mail/Local Folders");
    EXPECT_EQ(GetMailDirectory(imap, folder), p + "/ImapMail/imap.example.com");
    EXPECT_EQ(GetMailDirectory(rss, folder), p + "/Mail/Feeds");
    // "[ProfD]../outside/..." resolves to the very text of the absolute value, which is
    // what the index records and a restore compares prefs.js lines with.
    EXPECT_EQ(GetMailDirectory(pop, folder), outside);
}

TEST_F(PrefsTest, MailFolderFallsBackToDirectoryAndIsEmptyWhenGone)
{
    fs::create_directories(dir.Path() / "prof");
    fs::create_directories(dir.Path() / "elsewhere/Work");
    const std::string e = (dir.Path() / "elsewhere").string();
    dir.Write("prof/prefs.js",
              "user_pref(\"mail.server.server1.directory\", \"" + e +
                  "/Work/\");\n"
                  "user_pref(\"mail.server.server1.directory-rel\", \"[ProfD]../gone/Work\");\n"
                  "user_pref(\"mail.server.server2.directory\", \"" +
                  e +
                  "/Missing\");\n"
                  "user_pref(\"mail.server.server3.directory\", \"relative/Mail\");\n");
    TPrefsParser parser((dir.Path() / "prof/prefs.js").string());
    const std::string folder = (dir.Path() / "prof").string() + "/";
    EXPECT_EQ(GetMailDirectory(*parser.FindAccount(1), folder), e + "/Work");
    EXPECT_TRUE(parser.FindAccount(1)->IsExternal());
    EXPECT_EQ(GetMailDirectory(*parser.FindAccount(2), folder), "");
    // Never resolved against whatever the working folder happens to be.
    EXPECT_EQ(GetMailDirectory(*parser.FindAccount(3), folder), "");
}

TEST_F(PrefsTest, RelativeDirectoryLineSetsOnlyTheRelativeDirectory)
{
    dir.Write("prof/prefs.js",
              "user_pref(\"mail.server.server2.directory-rel\", \"[ProfD]Mail/pop\");\n");
    TPrefsParser parser((dir.Path() / "prof/prefs.js").string());
    ASSERT_EQ(Numbers(parser), (std::vector<std::int32_t>{2}));
    EXPECT_EQ(parser.FindAccount(2)->GetRelativeDirectory(), "[ProfD]Mail/pop");
    EXPECT_EQ(parser.FindAccount(2)->GetDirectory(), "");
    EXPECT_FALSE(parser.FindAccount(2)->IsExternal());
}

TEST_F(PrefsTest, OutsideIsJudgedByWholeFolderNamesAndByTheFolderInUse)
{
    const std::string root = dir.Path().string();
    fs::create_directories(dir.Path() / "abc.default/Mail/Local Folders");
    fs::create_directories(dir.Path() / "abc.default-esr/Mail/Local Folders");
    fs::create_directories(dir.Path() / "ABC.DEFAULT/Mail");
    dir.Write("abc.default/prefs.js",
              // A sibling profile whose name starts with this one's is still outside.
              "user_pref(\"mail.server.server1.directory\", \"" + root +
                  "/abc.default-esr/Mail/Local Folders\");\n"
                  // Other letter case is another folder.
                  "user_pref(\"mail.server.server2.directory\", \"" +
                  root +
                  "/ABC.DEFAULT/Mail\");\n"
                  // A profile moved from elsewhere: the stale absolute value is not
                  // what Thunderbird uses, the relative one is.
                  "user_pref(\"mail.server.server3.directory\", "
                  "\"/home/old/.thunderbird/abc.default/Mail/Local Folders\");\n"
                  "user_pref(\"mail.server.server3.directory-rel\", \"[ProfD]Mail/Local "
                  "Folders\");\n"
                  // Doubled backslashes stored as one.
                  "user_pref(\"mail.server.server4.directory\", \"" +
                  root + "/abc.default/a\\\\b\");\n");
    TPrefsParser parser(root + "/abc.default/prefs.js");
    EXPECT_TRUE(parser.FindAccount(1)->IsExternal());
    EXPECT_TRUE(parser.FindAccount(2)->IsExternal());
    EXPECT_FALSE(parser.FindAccount(3)->IsExternal());
    EXPECT_EQ(GetMailDirectory(*parser.FindAccount(3), root + "/abc.default/"),
              root + "/abc.default/Mail/Local Folders");
    EXPECT_EQ(parser.FindAccount(4)->GetDirectory(), root + "/abc.default/a\\b");
    EXPECT_FALSE(parser.FindAccount(4)->IsExternal());
}

TEST_F(PrefsTest, OnlyWholeFieldNamesAreStored)
{
    dir.Write("p/prefs.js", "user_pref(\"mail.server.server1.type\", \"imap\");\n"
                            "user_pref(\"mail.server.server1.foo.type\", \"bogus\");\n"
                            "user_pref(\"mail.server.server1.newsrc.file\", \"/n/newsrc-x\");\n"
                            "user_pref(\"mail.server.server1.newsrc.file-rel\", \"[ProfD]x\");\n"
                            "user_pref(\"mail.server.server7.port\", 119);\n");
    TPrefsParser parser((dir.Path() / "p/prefs.js").string());
    ASSERT_EQ(Numbers(parser), (std::vector<std::int32_t>{1}));
    EXPECT_EQ(parser.FindAccount(1)->GetType(), "imap");
    EXPECT_EQ(parser.FindAccount(1)->GetNewsrcFile(), "/n/newsrc-x");
}

TEST_F(PrefsTest, MissingOrUnreadablePrefsFile)
{
    try {
        TPrefsParser parser((dir.Path() / "prefs.js").string());
        FAIL() << "no error for a missing prefs.js";
    } catch (const TPrefsError& e) {
        EXPECT_STREQ(e.what(), "Config file prefs.js doesn't found.");
    }
    fs::create_directories(dir.Path() / "d/prefs.js");
    EXPECT_THROW(TPrefsParser((dir.Path() / "d/prefs.js").string()), TPrefsError);

    // Made without reading, it reads nothing until asked.
    TPrefsParser later((dir.Path() / "prefs.js").string(), false);
    EXPECT_TRUE(later.GetAccounts().empty());
    EXPECT_THROW(later.Read(), TPrefsError);
}

TEST_F(PrefsTest, HostileFileGivesSensibleAccounts)
{
    std::string text;
    text += std::string(1024 * 1024, 'x') + "\n"; // a 1 MB line of garbage
    text += "user_pref(\"mail.server.server1.directory\", \"/" + std::string(1024 * 1024, 'm') +
            "\");\n"; // a 1 MB value
    // Too long to keep: skipped whole, even though it starts like a server line.
    text += "user_pref(\"mail.server.server7.type\", \"" + std::string(MaxPrefsLineLength, 'r') +
            "\");\n";
    text += std::string("\0\x01\xff\xfe user_pref(\"\0\"", 18) + "\n"; // binary bytes
    text += "user_pref(\"mail.server.server2.type\", \"imap);\n";      // never closed
    text += "user_pref(\"mail.server.server99999999999999.directory\", \"/x\");\n";
    text += "user_pref(\"mail.server.server-3.directory\", \"/x\");\n";
    text += "user_pref(\"mail.server.server0.type\", \"pop3\");\n";
    text += "user_pref(\"mail.server.server5.type\", \"pop3\");\n";
    text += "user_pref(\"mail.server.server6.directory"; // no line end, no quote
    dir.Write("prefs.js", text);

    TPrefsParser parser((dir.Path() / "prefs.js").string());
    ASSERT_EQ(Numbers(parser), (std::vector<std::int32_t>{1, 5}));
    EXPECT_EQ(parser.FindAccount(1)->GetDirectory().size(), 1024u * 1024u + 1u);
    EXPECT_EQ(parser.FindAccount(5)->GetType(), "pop3");
    EXPECT_EQ(GetMailDirectory(*parser.FindAccount(1), dir.Folder()), "");
}

TEST_F(PrefsTest, ManyServerNumbersAreReadWithoutQuadraticWork)
{
    // Each line names a new server: looking each number up in a list of all earlier
    // ones takes minutes here, caught by the test's timeout.
    const std::int32_t count = 200000;
    std::string text;
    for (std::int32_t n = count; n >= 1; --n)
        text += "user_pref(\"mail.server.server" + std::to_string(n) + ".type\", \"imap\");\n";
    text += "user_pref(\"mail.server.server1.hostname\", \"mail.example.org\");\n";
    std::istringstream in(text);
    TPrefsParser parser((dir.Path() / "prefs.js").string(), false);
    parser.Read(in);
    ASSERT_EQ(parser.GetAccounts().size(), static_cast<std::size_t>(count));
    EXPECT_EQ(parser.GetAccounts().front()->GetNumber(), count);
    EXPECT_EQ(parser.GetAccounts().back()->GetNumber(), 1);
    ASSERT_NE(parser.FindAccount(1), nullptr);
    EXPECT_EQ(parser.FindAccount(1)->GetHostName(), "mail.example.org");
    EXPECT_EQ(parser.FindAccount(count + 1), nullptr);
}

TEST_F(PrefsTest, ReadingAgainReplacesTheAccounts)
{
    dir.Write("prefs.js", "user_pref(\"mail.server.server3.type\", \"rss\");\n");
    TPrefsParser parser((dir.Path() / "prefs.js").string());
    parser.Read();
    EXPECT_EQ(Numbers(parser), (std::vector<std::int32_t>{3}));
    std::istringstream in("user_pref(\"mail.server.server9.type\", \"nntp\");\r\n");
    parser.Read(in);
    EXPECT_EQ(Numbers(parser), (std::vector<std::int32_t>{9}));
}

TEST_F(PrefsTest, ProfileHasMail)
{
    const auto tb = CopyRealProfile("thunderbird", dir.Path() / "tb");
    EXPECT_TRUE(ProfileHasMail(tb.Folder()));
    const auto ff = CopyRealProfile("firefox", dir.Path() / "ff");
    EXPECT_FALSE(ProfileHasMail(ff.Folder()));
    // Without the trailing separator too.
    EXPECT_FALSE(ProfileHasMail(ff.Profile.string()));

    dir.Write("rss/prefs.js", "user_pref(\"mail.server.server1.type\", \"rss\");\n");
    EXPECT_TRUE(ProfileHasMail(dir.Folder() + "rss/"));
    // Local Folders alone hold mail too: no identity, no feed.
    dir.Write("local/prefs.js",
              "user_pref(\"mail.server.server1.directory-rel\", \"[ProfD]Mail/Local Folders\");\n"
              "user_pref(\"mail.server.server1.type\", \"none\");\n");
    EXPECT_TRUE(ProfileHasMail(dir.Folder() + "local/"));
    dir.Write("type/prefs.js", "user_pref(\"mail.server.server1.type\", \"none\");\n");
    EXPECT_FALSE(ProfileHasMail(dir.Folder() + "type/"));

    EXPECT_THROW(ProfileHasMail(dir.Folder() + "none/"), TPrefsError);
    fs::create_directories(dir.Path() / "isdir/prefs.js");
    EXPECT_THROW(ProfileHasMail(dir.Folder() + "isdir/"), TPrefsError);
}

TEST_F(PrefsTest, UnreadablePrefsFile)
{
    if (RerunUnprivileged())
        return;
    dir.Write("locked/prefs.js", "user_pref(\"mail.identity.id1.valid\", true);\n");
    const fs::path prefs = dir.Path() / "locked/prefs.js";
    fs::permissions(prefs, fs::perms::none);
    EXPECT_THROW(ProfileHasMail(dir.Folder() + "locked/"), TPrefsError);
    EXPECT_THROW(TPrefsParser(prefs.string()), TPrefsError);
}

TEST(PrefsPathWithin, ComparesWholeComponents)
{
    EXPECT_TRUE(IsPathWithin("/p/abc/Mail", "/p/abc"));
    EXPECT_TRUE(IsPathWithin("/p/abc", "/p/abc/"));
    EXPECT_TRUE(IsPathWithin("/p/abc/../abc/Mail", "/p/abc"));
    EXPECT_FALSE(IsPathWithin("/p/abcd/Mail", "/p/abc"));
    EXPECT_FALSE(IsPathWithin("/p/abc/../x", "/p/abc"));
    EXPECT_FALSE(IsPathWithin("/p", "/p/abc"));
}
