#include "platform/IniFile.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <stdexcept>

using tessarin::TIniFile;
using tessarin::test::TTempDir;

TEST(IniFile, NamesCompareWithoutCaseAndFirstMatchWins)
{
    const auto ini = TIniFile::FromText("[General]\nKey=one\nkey=two\n[general]\nKEY=three\n");
    EXPECT_EQ(ini.ReadString("GENERAL", "kEy"), "one");
    EXPECT_EQ(ini.ReadString("general", "missing", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("nosuch", "key"), "");
}

TEST(IniFile, BlanksAroundNamesAndValuesAreDropped)
{
    const auto ini = TIniFile::FromText("  [ General ]  \n  key one  =   a value  \t\n"
                                        "\tkey2\t=\tx\t\nempty=\nblank=   \n");
    EXPECT_EQ(ini.ReadString("General", "key one"), "a value");
    EXPECT_EQ(ini.ReadString("general", "KEY2"), "x");
    EXPECT_EQ(ini.ReadString("General", "empty", "dflt"), "");
    EXPECT_EQ(ini.ReadString("General", "blank", "dflt"), "");
    EXPECT_TRUE(ini.KeyExists("General", "empty"));
    EXPECT_FALSE(ini.KeyExists("General", "missing"));
}

TEST(IniFile, OnePairOfMatchingQuotesIsRemovedAndKeepsInnerBlanks)
{
    const auto ini = TIniFile::FromText("[S]\n"
                                        "d=\" - Welcome\"\n"
                                        "s='  both  '\n"
                                        "twice=\"\"x\"\"\n"
                                        "mixed=\"x'\n"
                                        "open=\"x\n"
                                        "inner=a \"b\" c\n"
                                        "one=\"\n"
                                        "pair=\"\"\n"
                                        "outside= \" x \" \n");
    EXPECT_EQ(ini.ReadString("S", "d"), " - Welcome");
    EXPECT_EQ(ini.ReadString("S", "s"), "  both  ");
    EXPECT_EQ(ini.ReadString("S", "twice"), "\"x\"");
    EXPECT_EQ(ini.ReadString("S", "mixed"), "\"x'");
    EXPECT_EQ(ini.ReadString("S", "open"), "\"x");
    EXPECT_EQ(ini.ReadString("S", "inner"), "a \"b\" c");
    EXPECT_EQ(ini.ReadString("S", "one"), "\"");
    EXPECT_EQ(ini.ReadString("S", "pair", "dflt"), "");
    EXPECT_EQ(ini.ReadString("S", "outside"), " x ");
}

TEST(IniFile, ValuesStopAt2047Characters)
{
    const std::string exact(TIniFile::MaxValueLength, 'a');
    const std::string longer = std::string(3000, 'b') + "END";
    const auto ini = TIniFile::FromText("[S]\nexact=" + exact + "\nlong=" + longer + "\nquoted=\"" +
                                        exact + "\"\nnext=after\n");
    EXPECT_EQ(ini.ReadString("S", "exact"), exact);
    EXPECT_EQ(ini.ReadString("S", "long"), longer.substr(0, TIniFile::MaxValueLength));
    // The quotes go first, so the limit counts the text inside them.
    EXPECT_EQ(ini.ReadString("S", "quoted"), exact);
    // An overlong line does not swallow the next one.
    EXPECT_EQ(ini.ReadString("S", "next"), "after");
}

TEST(IniFile, LineEndsByteOrderMarkAndStrayLines)
{
    const auto ini = TIniFile::FromText("\xEF\xBB\xBF[General]\r\n"
                                        "a=1\r\n"
                                        "no equals sign here\r\n"
                                        "; comment\r\n"
                                        "=no key\r\n"
                                        "b = x=y \r\n"
                                        "\r\n"
                                        "[Second]\r\n"
                                        "c=3");
    EXPECT_TRUE(ini.SectionExists("General"));
    EXPECT_EQ(ini.ReadString("General", "a"), "1");
    EXPECT_EQ(ini.ReadString("General", "b"), "x=y");
    EXPECT_EQ(ini.ReadString("General", "no equals sign here", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadString("General", "", "dflt"), "no key");
    EXPECT_EQ(ini.KeyNames("General"), (std::vector<std::string>{"a", "", "b"}));
    // A last line without a line end still counts.
    EXPECT_EQ(ini.ReadString("Second", "c"), "3");
}

TEST(IniFile, PairsBeforeAnySectionBelongToNone)
{
    const auto ini = TIniFile::FromText("key=orphan\n[S]\nkey=mine\n");
    EXPECT_EQ(ini.ReadString("S", "key"), "mine");
    EXPECT_EQ(ini.ReadString("", "key"), "");
    EXPECT_EQ(ini.SectionNames(), (std::vector<std::string>{"S"}));
}

TEST(IniFile, SectionNamesInOrderAndRepeatedSectionsFirstWins)
{
    const auto ini = TIniFile::FromText("[Profile0]\nName=a\n[General]\n[Profile1]\nName=b\n"
                                        "[profile0]\nName=c\nPath=p\n");
    EXPECT_EQ(ini.SectionNames(),
              (std::vector<std::string>{"Profile0", "General", "Profile1", "profile0"}));
    EXPECT_EQ(ini.ReadString("PROFILE0", "Name"), "a");
    // Only the first section of a name is looked at.
    EXPECT_EQ(ini.ReadString("Profile0", "Path", "none"), "none");
    EXPECT_TRUE(ini.KeyNames("General").empty());
}

TEST(IniFile, GarbageAndHugeInputDoNotBreakTheReader)
{
    std::string garbage;
    for (int i = 0; i < 65536; ++i)
        garbage += static_cast<char>((i * 2654435761u) >> 24);
    const auto a = TIniFile::FromText(garbage);
    EXPECT_EQ(a.ReadString("General", "x", "d"), "d");
    const auto b = TIniFile::FromText("[" + std::string(100000, 'S'));
    EXPECT_EQ(b.SectionNames().size(), 1u);
    const auto c = TIniFile::FromText(std::string("[S]\nk=v\0w\n", 11));
    EXPECT_EQ(c.ReadString("S", "k").size(), 3u);
}

TEST(IniFile, FilesMissingAndPresent)
{
    TTempDir dir;
    EXPECT_TRUE(TIniFile::FromFile(dir.Path() / "missing.ini").SectionNames().empty());
    const auto path = dir.Write("profiles.ini", "[General]\r\nStartWithLastProfile=1\r\n\r\n"
                                                "[Profile0]\r\nName=default\r\nIsRelative=1\r\n"
                                                "Path=Profiles/abcd1234.default\r\n");
    const auto ini = TIniFile::FromFile(path);
    EXPECT_EQ(ini.ReadString("Profile0", "Path"), "Profiles/abcd1234.default");
    EXPECT_EQ(ini.ReadString("General", "StartWithLastProfile"), "1");
}

TEST(IniFile, FileThatFailsWhileBeingReadIsAnError)
{
    // Read as an empty file, a failing registry.ini would be rewritten with only the
    // new value, and a failing Backup.ini would give defaults without a log line.
    // Reading this process's memory from offset 0 fails with an input/output error.
    EXPECT_THROW(TIniFile::FromFile("/proc/self/mem"), std::runtime_error);
    TTempDir dir;
    dir.Write("file", "");
    EXPECT_TRUE(TIniFile::FromFile(dir.Path() / "file" / "below.ini").SectionNames().empty());
    std::filesystem::create_directory(dir.Path() / "folder.ini");
    EXPECT_THROW(TIniFile::FromFile(dir.Path() / "folder.ini"), std::runtime_error);
}
