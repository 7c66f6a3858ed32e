// Archives Tessarin writes open in the common tools, and archives those tools write
// restore through the facade. Each case is skipped only when its tool is not installed.

#include "ArchiveFixture.h"

#include <cstdlib>

namespace tessarin::test {
namespace {

// The first of names found on PATH, or empty.
std::string FindTool(std::initializer_list<const char*> names)
{
    const char* path = std::getenv("PATH");
    if (path == nullptr)
        return {};
    for (const char* name : names) {
        std::string folders = path;
        std::size_t start = 0;
        while (start <= folders.size()) {
            std::size_t end = folders.find(':', start);
            if (end == std::string::npos)
                end = folders.size();
            const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
            std::error_code ec;
            if (fs::is_regular_file(candidate, ec) && ::access(candidate.c_str(), X_OK) == 0)
                return candidate.string();
            start = end + 1;
        }
    }
    return {};
}

std::string Quote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

int RunTool(const std::string& command)
{
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const std::vector<std::string> Specs = {"prefs.js",        "places.sqlite", "abook.mab",
                                        "history.mab",     "Mail",          "ImapMail",
                                        "bookmarkbackups", "extensions"};

using Interoperability = TArchiveFixture;

TEST_F(Interoperability, UnzipOpensAnArchiveWithoutPassword)
{
    const std::string unzip = FindTool({"unzip"});
    if (unzip.empty())
        GTEST_SKIP() << "unzip is not installed";
    const std::string profile = CopyProfile();
    const std::string archive = Path("backup.pcv");
    ASSERT_TRUE(Facade(archive, "", profile)->AddFiles(Specs));
    ASSERT_EQ(RunTool(Quote(unzip) + " -tq " + Quote(archive)), 0);
    ASSERT_EQ(RunTool(Quote(unzip) + " -q -o " + Quote(archive) + " -d " + Quote(Path("out"))), 0);
    EXPECT_EQ(TreeContents(Path("out")), TreeContents(profile));
}

// Deflated in pieces and joined (a file of several blocks, one of exactly two), stored
// because it does not shrink or by its name, empty: both tools accept every entry.
TEST_F(Interoperability, MixedContentPassesBothToolsAndComesBackByteForByteWithAndWithoutPassword)
{
    const std::string unzip = FindTool({"unzip"});
    const std::string sevenZip = FindTool({"7z", "7zz", "7za"});
    if (unzip.empty() || sevenZip.empty())
        GTEST_SKIP() << "unzip or 7-Zip is not installed";
    dir_.Write("p/Mail/Inbox", CompressibleText(3 * MiB + 12345, 1));
    dir_.Write("p/exact.sqlite", CompressibleText(2 * MiB, 2));
    dir_.Write("p/random.sqlite", Incompressible(MiB + MiB / 2, 3));
    dir_.Write("p/addon.xpi", CompressibleText(200000, 4));
    dir_.Write("p/sessionstore.jsonlz4", CompressibleText(5000, 5));
    dir_.Write("p/empty", "");
    dir_.Write("p/prefs.js", CompressibleText(3000, 6));
    const std::vector<std::string> specs = {"Mail",  "exact.sqlite", "random.sqlite", "addon.xpi",
                                            "sessionstore.jsonlz4", "empty", "prefs.js"};
    const auto files = TreeContents(Path("p"));
    // With a password the workers encrypt: every entry is AES, and what did not shrink
    // goes as deflate's stored blocks.
    for (const std::string password : {"", "Heslo 42"}) {
        SCOPED_TRACE(password);
        const std::string archive = Path(password.empty() ? "plain.pcv" : "secret.pcv");
        ASSERT_TRUE(Facade(archive, password, Path("p/"))->AddFiles(specs));
        if (password.empty()) {
            EXPECT_EQ(RunTool(Quote(unzip) + " -tq " + Quote(archive)), 0);
        }
        EXPECT_EQ(RunTool(Quote(sevenZip) + " t " + Quote("-p" + password) + " " + Quote(archive)),
                  0);
        const auto entries =
            ArchiveEntries(archive, password.empty() ? nullptr : password.c_str());
        ASSERT_EQ(entries.size(), files.size());
        for (const auto& [name, content] : files) {
            EXPECT_EQ(entries.at(name).Content, content) << name;
            EXPECT_EQ(entries.at(name).Encryption,
                      password.empty() ? ZIP_EM_NONE : ZIP_EM_AES_256)
                << name;
        }
        for (const char* name : {"Mail/Inbox", "exact.sqlite", "prefs.js"})
            EXPECT_EQ(entries.at(name).Compression, ZIP_CM_DEFLATE) << name;
        for (const char* name : {"random.sqlite", "addon.xpi", "sessionstore.jsonlz4", "empty"})
            EXPECT_EQ(entries.at(name).Compression,
                      password.empty() ? ZIP_CM_STORE : ZIP_CM_DEFLATE)
                << name;
    }
}

TEST_F(Interoperability, SevenZipOpensAnArchiveWithPassword)
{
    const std::string sevenZip = FindTool({"7z", "7zz", "7za"});
    if (sevenZip.empty())
        GTEST_SKIP() << "7-Zip is not installed";
    const std::string profile = CopyProfile();
    const std::string archive = Path("backup.pcv");
    ASSERT_TRUE(Facade(archive, "Heslo 42", profile)->AddFiles(Specs));
    EXPECT_NE(RunTool(Quote(sevenZip) + " t -pwrong " + Quote(archive)), 0);
    ASSERT_EQ(RunTool(Quote(sevenZip) + " x -y " + Quote("-pHeslo 42") + " " +
                      Quote("-o" + Path("out")) + " " + Quote(archive)),
              0);
    EXPECT_EQ(TreeContents(Path("out")), TreeContents(profile));
}

TEST_F(Interoperability, InfoZipTraditionalEncryptionRestores)
{
    const std::string zip = FindTool({"zip"});
    if (zip.empty())
        GTEST_SKIP() << "Info-ZIP zip is not installed";
    const std::string profile = CopyProfile();
    const std::string archive = Path("infozip.pcv");
    ASSERT_EQ(RunTool("cd " + Quote(profile) + " && " + Quote(zip) + " -q -r -P oldsecret " +
                      Quote(archive) + " ."),
              0);
    const auto entries = ArchiveEntries(archive);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.at("prefs.js").Encryption, ZIP_EM_TRAD_PKWARE);

    state_.Operation = TOperation::Restore;
    ui_.Passwords = {std::string("oldsecret")};
    EXPECT_EQ(Facade(archive, "", Path("out/"))->ExtractFolder("", "*.*"),
              static_cast<int>(TreeNames(profile).size()));
    EXPECT_EQ(TreeContents(Path("out")), TreeContents(profile));
    EXPECT_EQ(std::count(ui_.Calls.begin(), ui_.Calls.end(), "AskPassword"), 1);
}

TEST_F(Interoperability, SevenZipAesArchiveRestores)
{
    const std::string sevenZip = FindTool({"7z", "7zz", "7za"});
    if (sevenZip.empty())
        GTEST_SKIP() << "7-Zip is not installed";
    const std::string profile = CopyProfile();
    const std::string archive = Path("seven.pcv");
    ASSERT_EQ(RunTool("cd " + Quote(profile) + " && " + Quote(sevenZip) +
                      " a -tzip -mem=AES256 -mx=9 -pAESsecret " + Quote(archive) + " ."),
              0);
    const auto entries = ArchiveEntries(archive);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.at("prefs.js").Encryption, ZIP_EM_AES_256);

    state_.Operation = TOperation::Restore;
    state_.Password = "AESsecret"; // known from reading the index
    auto reader = Facade(archive, "", Path("out/"));
    EXPECT_EQ(reader->ExtractFolder("", "*.*"), static_cast<int>(TreeNames(profile).size()))
        << ::testing::PrintToString(ProblemTexts(reader->Problems()));
    EXPECT_EQ(TreeContents(Path("out")), TreeContents(profile));
}

} // namespace
} // namespace tessarin::test
