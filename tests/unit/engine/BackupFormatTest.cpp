#include "engine/BackupFormat.h"

#include "config/Environment.h"

#include <gtest/gtest.h>

using namespace tessarin;

namespace {
std::array<TComponentBox, ComponentCount + 1> Boxes(std::initializer_list<int> checked)
{
    std::array<TComponentBox, ComponentCount + 1> boxes{};
    for (int n : checked)
        boxes[n].Checked = true;
    return boxes;
}
const std::string Sep = "****////\\\\\\\\****";
} // namespace

TEST(BackupIndex, FirefoxExampleIsByteExact)
{
    const std::string text =
        BuildBackupIndexText(2, Boxes({1, 4, 5, 9, 10}), {},
                             {TUnknowItem("myfolder", true), TUnknowItem("notes.txt", false)});
    EXPECT_EQ(text, "Tessarin Vault\r\nRevize: 2\r\nVerze: \r\n" + Sep + "\r\nYNNYYNNYYNNNNN\r\n" +
                        Sep + "\r\n" + Sep + "\r\ndir\r\nmyfolder\r\nfile\r\nnotes.txt\r\n" + Sep +
                        "\r\n");
    EXPECT_EQ(Sep.size(), 16u);
}

TEST(BackupIndex, EmptyListsGiveThreeSeparatorsAfterFlagsAndSevenIsNeverStored)
{
    const std::string text = BuildBackupIndexText(3, Boxes({7, 13, 15}), {}, {});
    EXPECT_NE(text.find("NNNNNNNNNNNYNY\r\n" + Sep + "\r\n" + Sep + "\r\n" + Sep + "\r\n"),
              std::string::npos);
}

TEST(BackupIndex, RoundTripKeepsMailFoldersAndUnknownItemsInOrder)
{
    const std::vector<std::string> dirs = {"/srv/mail/Work", "/home/u/Post/Private"};
    const std::vector<TUnknowItem> items = {TUnknowItem("a b", false), TUnknowItem("dir", true)};
    const auto index = ParseBackupIndex(BuildBackupIndexText(3, Boxes({2, 3}), dirs, items), false);
    EXPECT_EQ(index.AppNumber, 3);
    EXPECT_EQ(index.Flags, "NYYNNNNNNNNNNN");
    EXPECT_EQ(index.ExternalMailDirs, dirs);
    EXPECT_EQ(index.UnknownItems, items);
    EXPECT_TRUE(index.HasComponent(2));
    EXPECT_FALSE(index.HasComponent(7));
}

TEST(BackupIndex, ReaderToleratesOldAndDamagedEntries)
{
    // Missing revision number, short flag line, "directory"/"File" kind lines, LF ends,
    // no final separator.
    const auto index = ParseBackupIndex("Tessarin Vault\nRevize: x\nVerze: \n" + Sep +
                                            "\nYYYYYYYYYYY\n" + Sep + "\n" + Sep +
                                            "\ndirectory\nold\nFile\nnote\nfile\n",
                                        false);
    EXPECT_EQ(index.AppNumber, 0);
    EXPECT_TRUE(index.HasComponent(12));
    EXPECT_FALSE(index.HasComponent(13));
    EXPECT_FALSE(index.HasComponent(15));
    ASSERT_EQ(index.UnknownItems.size(), 2u);
    EXPECT_TRUE(index.UnknownItems[0].IsFolder());
    EXPECT_FALSE(index.UnknownItems[1].IsFolder());

    const TEnvironment noSystem;
    TSharedState state(noSystem);
    ApplyIndexToBoxes(index, state);
    EXPECT_TRUE(state.Boxes[12].Checked && state.Boxes[12].Enabled);
    EXPECT_FALSE(state.Boxes[13].Checked || state.Boxes[13].Enabled);
    EXPECT_FALSE(state.Boxes[7].Visible);

    EXPECT_EQ(ParseBackupIndex("", false).AppNumber, 0);
    EXPECT_TRUE(ParseBackupIndex(std::string(5000, '\0'), false).UnknownItems.empty());
}

TEST(BackupIndex, EmptyRevisionNumberIsNoApplicationAndTheRestStillReads)
{
    for (const char* revision : {"Revize: ", "Revize:"}) {
        const std::string text = std::string("Tessarin Vault\r\n") + revision + "\r\nVerze: \r\n" +
                                 Sep + "\r\nYN\r\n" + Sep + "\r\n/home/u/Work\r\n" + Sep + "\r\n" +
                                 Sep + "\r\n";
        const auto index = ParseBackupIndex(text, false);
        EXPECT_EQ(index.AppNumber, 0) << revision;
        EXPECT_TRUE(index.HasComponent(1)) << revision;
        EXPECT_EQ(index.ExternalMailDirs, std::vector<std::string>{"/home/u/Work"}) << revision;
        for (int app : {0, 2})
            EXPECT_FALSE(IsLegacyBackupFor(text, app)) << revision << app;
    }
}

TEST(BackupIndex, OutsideMailFoldersOfOneNameGetArchiveFoldersOfTheirOwn)
{
    using V = std::vector<std::string>;
    const struct {
        V Folders;
        V Names;
    } rows[] = {
        {{"/a/Work"}, {"Work"}},
        {{"/a/Work", "/b/Work", "/c/work"}, {"Work", "Work~2", "work~3"}},
        {{"/a/Work", "/c/Work~2", "/b/Work"}, {"Work", "Work~2", "Work~3"}},
        {{"/", "/a/Mail/", "/b/Mail"}, {"", "Mail", "Mail~2"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(OutsideMailArchiveNames(row.Folders), row.Names) << row.Folders.back();
}

TEST(BackupIndex, LegacyBackupIsRecognisedOnlyForItsApplication)
{
    const std::string legacy = "Tessarin Vault\r\nRevize: 2\r\nVerze: \r\n" + Sep +
                               "\r\nYNNNNNNNNNN\r\n" + Sep + "\r\nNastaveni\r\nprefs.js\r\n";
    EXPECT_TRUE(IsLegacyBackupFor(legacy, 2));
    EXPECT_FALSE(IsLegacyBackupFor(legacy, 3));
    EXPECT_FALSE(IsLegacyBackupFor("Tessarin Vault\r\nRevize: two\r\n", 2));
    EXPECT_FALSE(IsLegacyBackupFor("PK\x03\x04garbage", 2));
    const auto index = ParseBackupIndex(legacy, true);
    EXPECT_EQ(index.AppNumber, 2);
    EXPECT_TRUE(index.ExternalMailDirs.empty());
    EXPECT_TRUE(index.UnknownItems.empty());
}
