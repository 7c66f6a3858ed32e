// Progress while a backup writes, and writes that fail or are abandoned.

#include "ArchiveFixture.h"
#include "support/FileSizeLimit.h"

#include <sys/resource.h>

#include <csignal>

namespace tessarin::test {
namespace {

// More than the writer ever reads ahead of the file it writes.
constexpr std::uintmax_t LeadSize = 96u << 20;

const std::string WriteErrorCall =
    "Error|Error|The program can not write in the backup file. Either the disk is full or you do "
    "not have write permissions.";

class ZipFactoryWrite : public TArchiveFixture {
protected:
    std::vector<std::string> Names(const std::string& archive)
    {
        std::vector<std::string> names;
        for (const auto& [name, info] : ArchiveEntries(archive))
            names.push_back(name);
        return names;
    }
};

TEST_F(ZipFactoryWrite, ProgressOfThreeFilesShowsEachFileAndTheBytesDone)
{
    dir_.Write("p/prefs.js", std::string(300, 'p'));
    dir_.Write("p/places.sqlite", std::string(600, 's'));
    dir_.Write("p/Mail/Inbox", std::string(100, 'm'));
    auto facade = Facade(Path("b.pcv"), "", Path("p/"));
    ASSERT_TRUE(
        facade->AddTask(TArchiveTask{{"prefs.js", "places.sqlite", "Mail/Inbox"}, {}, 1000}));

    EXPECT_EQ(ui_.TaskTexts, (std::vector<std::string>{"File: prefs.js", "File: places.sqlite",
                                                       "File: Mail/Inbox"}));
    // Each file: its start shows it whole, its end shows it again and adds it to the done bytes.
    EXPECT_EQ(ui_.Positions, (std::vector<int>{30, 30, 30, 90, 90, 90, 100, 100, 100}));
    EXPECT_EQ(facade->DoneBytes(), 1000);
    EXPECT_EQ(facade->TotalBytes(), 1000);
}

TEST_F(ZipFactoryWrite, LargeFilesReportEveryMegabyte)
{
    const std::size_t size = 3 * 1024 * 1024 + 512 * 1024;
    dir_.Write("p/a.sqlite", Incompressible(size, 1));
    dir_.Write("p/b.sqlite", Incompressible(size, 2));
    auto facade = Facade(Path("b.pcv"), "", Path("p/"));
    const int pumpsBefore = ui_.ProcessEventsCalls;
    ASSERT_TRUE(facade->AddTask(
        TArchiveTask{{"a.sqlite", "b.sqlite"}, {}, static_cast<std::int64_t>(2 * size)}));
    EXPECT_EQ(ui_.TaskTexts, (std::vector<std::string>{"File: a.sqlite", "File: b.sqlite"}));
    // Start, three megabytes, end (twice) for each file.
    EXPECT_EQ(ui_.Positions,
              (std::vector<int>{50, 50, 50, 50, 50, 50, 100, 100, 100, 100, 100, 100}));
    EXPECT_EQ(ui_.ProcessEventsCalls - pumpsBefore, 2 * 5 + 1);
}

TEST_F(ZipFactoryWrite, DeflatedLargeFilesReportEveryMegabyteToo)
{
    const std::size_t size = 3 * MiB + 512 * 1024;
    dir_.Write("p/a.sqlite", CompressibleText(size, 1));
    dir_.Write("p/b.sqlite", CompressibleText(size, 2));
    auto facade = Facade(Path("b.pcv"), "", Path("p/"));
    ASSERT_TRUE(facade->AddTask(
        TArchiveTask{{"a.sqlite", "b.sqlite"}, {}, static_cast<std::int64_t>(2 * size)}));
    EXPECT_EQ(ui_.TaskTexts, (std::vector<std::string>{"File: a.sqlite", "File: b.sqlite"}));
    EXPECT_EQ(ui_.Positions,
              (std::vector<int>{50, 50, 50, 50, 50, 50, 100, 100, 100, 100, 100, 100}));
    EXPECT_EQ(ArchiveEntries(Path("b.pcv")).at("b.sqlite").Compression, ZIP_CM_DEFLATE);
}

TEST_F(ZipFactoryWrite, LevelZeroStoresEverything)
{
    SetLevel("0");
    dir_.Write("p/Inbox", CompressibleText(2 * MiB + 7, 1));
    dir_.Write("p/prefs.js", CompressibleText(3000, 2));
    ASSERT_TRUE(Facade(Path("b.pcv"), "", Path("p/"))->AddFiles({"Inbox", "prefs.js"}));
    const auto entries = ArchiveEntries(Path("b.pcv"));
    ASSERT_EQ(entries.size(), 2u);
    for (const auto& [name, info] : entries) {
        EXPECT_EQ(info.Compression, ZIP_CM_STORE) << name;
        EXPECT_EQ(info.Content, ReadFile(Path("p/" + name))) << name;
    }
}

TEST_F(ZipFactoryWrite, ClosingTheProgramInsideALargeFileKeepsTheEarlierArchive)
{
    dir_.Write("p/prefs.js", "user_pref(\"a\", 1);\n");
    ASSERT_TRUE(Facade(Path("backup.pcv"), "", Path("p/"))->AddFiles({"prefs.js"}));
    const std::string earlier = ReadFile(Path("backup.pcv"));
    dir_.Write("p/Inbox", CompressibleText(6 * MiB, 3));
    dir_.Write("p/Sent", CompressibleText(3 * MiB, 4));

    auto facade = Facade(Path("backup.pcv"), "", Path("p/"));
    ui_.ExitAfterProcessEvents = ui_.ProcessEventsCalls + 3; // two megabytes into Inbox
    EXPECT_THROW(facade->AddFiles({"Inbox", "Sent"}), TProgramExit);
    EXPECT_EQ(ReadFile(Path("backup.pcv")), earlier);
    EXPECT_TRUE(Leftovers(dir_.Path(), "backup.pcv").empty());
    EXPECT_TRUE(ui_.CallsOf("Error").empty());
}

TEST_F(ZipFactoryWrite, TaskOfZeroBytesLeavesTheBarAtZero)
{
    dir_.Write("p/Junk", "");
    dir_.Write("p/Trash", "");
    ASSERT_TRUE(
        Facade(Path("b.pcv"), "", Path("p/"))->AddTask(TArchiveTask{{"Junk", "Trash"}, {}, 0}));
    EXPECT_EQ(ui_.TaskTexts, (std::vector<std::string>{"File: Junk", "File: Trash"}));
    ASSERT_FALSE(ui_.Positions.empty());
    for (int p : ui_.Positions)
        EXPECT_EQ(p, 0);
}

TEST_F(ZipFactoryWrite, FileListedTwiceIsStoredOnceAndCountedTwice)
{
    const std::string profile = CopyProfile();
    const auto size = static_cast<std::int64_t>(fs::file_size(profile + "prefs.js"));
    auto facade = Facade(Path("b.pcv"), "", profile);
    ASSERT_TRUE(facade->AddTask(
        TArchiveTask{{"prefs.js", "places.sqlite", "prefs.js"}, {}, 2 * size + 4096}));
    EXPECT_EQ(Names(Path("b.pcv")), (std::vector<std::string>{"places.sqlite", "prefs.js"}));
    EXPECT_EQ(facade->DoneBytes(), 2 * size + 4096);
    EXPECT_EQ(ui_.Positions.back(), 100);
}

TEST_F(ZipFactoryWrite, ReadingMovesNeitherBarNorTaskText)
{
    const std::string profile = CopyProfile();
    ASSERT_TRUE(Facade(Path("b.pcv"), "", profile)->AddFiles({"Mail"}));
    ui_.TaskTexts.clear();
    ui_.Positions.clear();
    const int pumpsBefore = ui_.ProcessEventsCalls;
    // The backup's own check reads the index back while Operation is still backup.
    EXPECT_EQ(Facade(Path("b.pcv"), "", "")->ExtractFileTo("Mail/Local Folders/Inbox", Path("t/")),
              1);
    state_.Operation = TOperation::Restore;
    EXPECT_EQ(Facade(Path("b.pcv"), "", Path("t/"))->ExtractFolder("Mail", "*.*"), 9);
    EXPECT_TRUE(ui_.TaskTexts.empty());
    EXPECT_TRUE(ui_.Positions.empty());
    EXPECT_GE(ui_.ProcessEventsCalls - pumpsBefore, 3); // events pumped all along
}

TEST_F(ZipFactoryWrite, UnwritableFolderIsReportedOnceAndSeenByTheCaller)
{
    const std::string profile = CopyProfile();
    auto facade = Facade(Path("no/such/folder/b.pcv"), "", profile);
    EXPECT_FALSE(facade->AddFiles({"prefs.js", "Mail"}));
    EXPECT_EQ(ui_.CallsOf("Error"), (std::vector<std::string>{WriteErrorCall.substr(6)}));
    EXPECT_FALSE(fs::exists(Path("no")));
}

TEST_F(ZipFactoryWrite, FullDiskKeepsTheEarlierArchiveAndLeavesNoTemporaryFile)
{
    SetLevel("0");
    const std::string profile = CopyProfile();
    const std::string archive = Path("backup.pcv");
    ASSERT_TRUE(Facade(archive, "", profile)->AddFiles({"prefs.js"}));
    const std::string earlier = ReadFile(archive);
    dir_.Write("profile/big.bin", Incompressible(2 * 1024 * 1024, 3));

    auto facade = Facade(archive, "", profile);
    bool written = true;
    {
        const TFileSizeLimit limit(256 * 1024);
        written = facade->AddFiles({"Mail", "big.bin"});
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(ui_.Calls.back(), WriteErrorCall);
    EXPECT_EQ(ui_.CallsOf("Error").size(), 1u);
    EXPECT_EQ(ReadFile(archive), earlier);
    EXPECT_TRUE(Leftovers(dir_.Path(), "backup.pcv").empty());
}

TEST_F(ZipFactoryWrite, ClosingTheProgramDuringAnAddAbandonsTheWriteCleanly)
{
    const std::string profile = CopyProfile();
    const std::string archive = Path("backup.pcv");
    ASSERT_TRUE(Facade(archive, "", profile)->AddFiles({"prefs.js"}));
    const std::string earlier = ReadFile(archive);

    auto facade = Facade(archive, "", profile);
    ui_.ExitAfterProcessEvents = ui_.ProcessEventsCalls + 4; // in the middle of the write
    EXPECT_THROW(facade->AddFiles({"Mail", "ImapMail"}), TProgramExit);
    EXPECT_EQ(ReadFile(archive), earlier);
    EXPECT_TRUE(Leftovers(dir_.Path(), "backup.pcv").empty());
    EXPECT_TRUE(ui_.CallsOf("Error").empty());

    // A new archive is not created at all.
    auto fresh = Facade(Path("new.pcv"), "secret", profile);
    ui_.ExitAfterProcessEvents = ui_.ProcessEventsCalls + 2;
    EXPECT_THROW(fresh->AddFiles({"Mail"}), TProgramExit);
    EXPECT_FALSE(fs::exists(Path("new.pcv")));
    EXPECT_TRUE(Leftovers(dir_.Path(), "new.pcv").empty());
}

TEST_F(ZipFactoryWrite, ClosingTheProgramDuringExtractionLeavesNoPartialFile)
{
    const std::string profile = CopyProfile();
    const std::string big = Incompressible(24 * 1024 * 1024, 4);
    dir_.Write("profile/big.sqlite", big);
    ASSERT_TRUE(Facade(Path("b.pcv"), "", profile)->AddFiles({"big.sqlite"}));
    dir_.Write("t/big.sqlite", "earlier");
    auto reader = Facade(Path("b.pcv"), "", Path("t/"));
    ui_.ExitAfterProcessEvents = ui_.ProcessEventsCalls + 2; // a megabyte or so into the file
    EXPECT_THROW(reader->ExtractFile("big.sqlite"), TProgramExit);
    // The workers stop at their next megabyte: the file is the earlier one or, had it
    // been finished already, the whole new one, never a part.
    const std::string now = ReadFile(Path("t/big.sqlite"));
    EXPECT_TRUE(now == "earlier" || now == big) << now.size();
    EXPECT_EQ(TreeNames(Path("t/")), (std::vector<std::string>{"big.sqlite"}));
}

TEST_F(ZipFactoryWrite, FileThatVanishesBeforeItIsWrittenIsLeftOut)
{
    // Deflated ahead on the workers, or stored and read by libzip itself: the write
    // starts over without the file, and every other entry keeps its own content.
    for (const auto& [level, password] : {std::pair{"9", "secret"}, {"0", ""}, {"0", "secret"}}) {
        SCOPED_TRACE(std::string(level) + " " + password);
        SetLevel(level);
        const std::string profile = CopyProfile(std::string("profile") + level + password);
        // Keeps the later files unread when one vanishes; libzip reads no file ahead.
        std::ofstream(profile + "Lead").close();
        fs::resize_file(profile + "Lead", level == std::string("9") ? LeadSize : 1);
        fs::remove(Path("b.pcv"));
        auto facade = Facade(Path("b.pcv"), password, profile);
        const int first = ui_.ProcessEventsCalls + 1;
        ui_.OnProcessEvents = [&](int call) {
            if (call == first)
                fs::remove(profile + "Mail/Local Folders/Sent");
        };
        ASSERT_TRUE(facade->AddFiles({"Lead", "Mail"}));
        ASSERT_EQ(facade->Problems().size(), 1u);
        EXPECT_EQ(facade->Problems()[0].Name, "Mail/Local Folders/Sent");
        const auto entries = ArchiveEntries(Path("b.pcv"), password);
        EXPECT_EQ(entries.size(), 9u);
        EXPECT_EQ(entries.count("Mail/Local Folders/Sent"), 0u);
        for (const auto& [name, info] : entries)
            EXPECT_EQ(info.Content, ReadFile(profile + name)) << name;
        EXPECT_TRUE(ui_.CallsOf("Error").empty());
        ui_.OnProcessEvents = nullptr;
    }
}

TEST_F(ZipFactoryWrite, FileReplacedByAPipeOrADeviceBeforeItIsWrittenIsLeftOut)
{
    const std::string profile = CopyProfile();
    const std::string sent = profile + "Mail/Local Folders/Sent";
    const std::string junk = profile + "Mail/Local Folders/Junk";
    ASSERT_TRUE(fs::is_regular_file(sent) && fs::is_regular_file(junk));
    // Files are read ahead of the writer, within a bounded budget; a large first file
    // keeps the later ones unread when the swap happens.
    dir_.Write("profile/Lead", "");
    fs::resize_file(profile + "Lead", LeadSize);
    auto facade = Facade(Path("b.pcv"), "", profile);
    const int first = ui_.ProcessEventsCalls + 1;
    ui_.OnProcessEvents = [&](int call) {
        if (call != first)
            return;
        // A pipe nobody writes to would block the read for ever, a device would
        // fill the archive without end.
        fs::remove(sent);
        ASSERT_EQ(::mkfifo(sent.c_str(), 0600), 0);
        fs::remove(junk);
        fs::create_symlink("/dev/zero", junk);
    };
    ASSERT_TRUE(facade->AddFiles({"Lead", "Mail"}));
    ASSERT_EQ(facade->Problems().size(), 2u);
    const auto entries = ArchiveEntries(Path("b.pcv"));
    EXPECT_EQ(entries.count("Mail/Local Folders/Sent"), 0u);
    EXPECT_EQ(entries.count("Mail/Local Folders/Junk"), 0u);
    EXPECT_EQ(entries.at("Mail/Local Folders/Inbox").Content,
              ReadFile(profile + "Mail/Local Folders/Inbox"));
}

TEST_F(ZipFactoryWrite, FileWhoseNameHoldsWildcardsIsStoredAsItself)
{
    // Mail folders take whatever name the person gives them; a task lists such a
    // file by its name, which must not select its neighbours at every depth.
    const std::string profile = CopyProfile();
    dir_.Write("profile/Mail/Local Folders/Why?", "the folder named Why?");
    dir_.Write("profile/Mail/Local Folders/Why1", "not listed");
    dir_.Write("profile/Mail/Local Folders/Archives.sbd/Whyz", "not listed either");
    dir_.Write("profile/*", "a file named star");
    auto facade = Facade(Path("b.pcv"), "", profile);
    ASSERT_TRUE(facade->AddTask(TArchiveTask{{"Mail/Local Folders/Why?", "*"}, {}, 42}));
    EXPECT_EQ(Names(Path("b.pcv")), (std::vector<std::string>{"*", "Mail/Local Folders/Why?"}));
    EXPECT_EQ(ArchiveEntries(Path("b.pcv")).at("*").Content, "a file named star");

    // A mask that names no file is still a mask.
    ASSERT_TRUE(Facade(Path("m.pcv"), "", profile)->AddFiles({"Mail/*.msf"}));
    std::vector<std::string> summaries;
    for (const auto& name : TreeNames(profile + "Mail"))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".msf") == 0)
            summaries.push_back("Mail/" + name);
    ASSERT_GE(summaries.size(), 2u);
    EXPECT_EQ(Names(Path("m.pcv")), summaries);
}

TEST_F(ZipFactoryWrite, MissingFilesAreListedAndTheRestIsWritten)
{
    const std::string profile = CopyProfile();
    auto facade = Facade(Path("b.pcv"), "", profile);
    ASSERT_TRUE(facade->AddFiles({"prefs.js", "nothere.js", "../outside.txt"}));
    EXPECT_EQ(Names(Path("b.pcv")), (std::vector<std::string>{"prefs.js"}));
    EXPECT_EQ(facade->Problems().size(), 2u);
}

TEST_F(ZipFactoryWrite, WhatIsAlreadyAtThePathDecides)
{
    const std::string profile = CopyProfile();
    dir_.Write("placeholder.pcv", ""); // an empty file is an empty archive
    ASSERT_TRUE(Facade(Path("placeholder.pcv"), "", profile)->AddFiles({"prefs.js"}));
    EXPECT_EQ(Names(Path("placeholder.pcv")), (std::vector<std::string>{"prefs.js"}));

    // Anything else that is not an archive is not overwritten behind the person's back.
    const std::string legacy = "[General]\nAppNumber=2\n";
    dir_.Write("legacy.pcv", legacy);
    EXPECT_FALSE(Facade(Path("legacy.pcv"), "", profile)->AddFiles({"prefs.js"}));
    EXPECT_EQ(ReadFile(Path("legacy.pcv")), legacy);
    EXPECT_EQ(ui_.CallsOf("Error").size(), 1u);
}

TEST_F(ZipFactoryWrite, ArchiveInsideTheAddedFolderIsNotStoredInItself)
{
    const std::string profile = CopyProfile();
    const std::string archive = profile + "backup.pcv";
    ASSERT_TRUE(Facade(archive, "", profile)->AddFiles({"prefs.js"}));
    ASSERT_TRUE(Facade(archive, "", profile)->AddFiles({"*.*"}));
    const auto names = Names(archive);
    EXPECT_EQ(std::count(names.begin(), names.end(), "backup.pcv"), 0);
    EXPECT_EQ(names.size(), TreeNames(profile).size() - 1);
}

TEST_F(ZipFactoryWrite, FolderLinksAreFollowedOnceAndLoopsAreNamed)
{
    // Local Folders moved to another disk and linked back; a second link to it, a link
    // back up the tree and one to "/" must neither store it twice nor hang the walk.
    dir_.Write("p/Mail/pop/Inbox", "pop");
    dir_.Write("disk/Local Folders/Inbox", "local");
    fs::create_directory_symlink(Path("disk/Local Folders"), Path("p/Mail/Local Folders"));
    fs::create_directory_symlink(Path("disk/Local Folders"), Path("p/Mail/Twin"));
    fs::create_directory_symlink(Path("p/Mail"), Path("disk/Local Folders/up"));
    fs::create_directory_symlink("/", Path("p/Mail/root"));
    auto facade = Facade(Path("b.pcv"), "", Path("p/"));
    ASSERT_TRUE(facade->AddFiles({"Mail"}));
    EXPECT_EQ(Names(Path("b.pcv")),
              (std::vector<std::string>{"Mail/Local Folders/Inbox", "Mail/pop/Inbox"}));
    EXPECT_EQ(ArchiveEntries(Path("b.pcv")).at("Mail/Local Folders/Inbox").Content, "local");
    const std::string why = ": link to a folder stored already; not followed";
    EXPECT_EQ(ProblemTexts(facade->Problems()),
              (std::vector<std::string>{"Mail/Twin" + why, "Mail/root" + why,
                                        "Mail/Local Folders/up" + why}));
}

TEST_F(ZipFactoryWrite, TwoRootsGivingOneEntryNameAreNamedNotMerged)
{
    dir_.Write("p/Mail/Inbox", "the profile's");
    dir_.Write("outside/Mail/Inbox", "the outside one");
    dir_.Write("outside/Mail/Sent", "sent");
    auto facade = Facade(Path("b.pcv"), "", Path("p/"));
    ASSERT_TRUE(facade->AddTask(TArchiveTask{{"Mail/Inbox"},
                                             {{Path("outside/"), "Mail/Inbox"},
                                              {Path("outside/"), "Mail/Sent"},
                                              {Path("outside/"), "Mail/Inbox", "Mail~2/Inbox"}},
                                             0}));
    const auto entries = ArchiveEntries(Path("b.pcv"));
    EXPECT_EQ(Names(Path("b.pcv")),
              (std::vector<std::string>{"Mail/Inbox", "Mail/Sent", "Mail~2/Inbox"}));
    EXPECT_EQ(entries.at("Mail/Inbox").Content, "the profile's");
    EXPECT_EQ(entries.at("Mail~2/Inbox").Content, "the outside one");
    const std::string taken = "Mail/Inbox: another file is already stored under this name";
    EXPECT_EQ(ProblemTexts(facade->Problems()), std::vector<std::string>{taken});
}

} // namespace
} // namespace tessarin::test
