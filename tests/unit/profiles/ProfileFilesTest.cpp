#include "ProfilesTestSupport.h"

#include "profiles/ProfileFiles.h"

using namespace tessarin;
using tessarin::test::TRegistryDatWriter;

namespace {

std::vector<std::string> Names(const std::vector<TProfilesIniEntry>& entries)
{
    std::vector<std::string> out;
    for (const auto& e : entries)
        out.push_back(e.Name);
    return out;
}

TEST(ProfilesIniReader, ReadsCurrentFirefoxFileByProfileNumber)
{
    const std::string text =
        test::ReadFile(std::string(TESSARIN_TEST_DATA) + "/profiles/firefox-current/profiles.ini");
    const auto entries = ReadProfilesIni(text);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Name, "tessarinA");
    EXPECT_EQ(entries[0].Path, "cud24is2.tessarinA");
    EXPECT_EQ(entries[0].IsRelative, 1);
    EXPECT_EQ(entries[1].Name, "work");
    EXPECT_EQ(entries[1].IsRelative, 0);
    EXPECT_EQ(entries[2].Name, "default-esr");
}

TEST(ProfilesIniReader, StopsAtTheFirstMissingNumberAndSkipsIncompleteSections)
{
    EXPECT_EQ(Names(ReadProfilesIni("[Profile0]\nName=a\nPath=a\n[Profile2]\nName=c\nPath=c\n")),
              std::vector<std::string>{"a"});
    EXPECT_EQ(Names(ReadProfilesIni("[Profile0]\nName=a\n[Profile1]\nPath=b\n[Profile2]\nName=c\n"
                                    "Path=c\n[Profile3]\nName=\nPath=d\n[Profile4]\nName=e\n"
                                    "Path=e\n")),
              (std::vector<std::string>{"c", "e"}));
    EXPECT_TRUE(ReadProfilesIni("[Profile1]\nName=b\nPath=b\n").empty());
    EXPECT_TRUE(ReadProfilesIni("[Profile00]\nName=b\nPath=b\n").empty()); // no padding
}

TEST(ProfilesIniReader, NamesMatchWithoutCaseFirstSectionAndPairWin)
{
    const auto entries = ReadProfilesIni("\xEF\xBB\xBF[profile0]\r\nNAME = \"Mine\" \r\n"
                                         "name=Other\r\nPATH=x.default\r\nisrelative=1\r\n"
                                         "[PROFILE0]\r\nName=Second\r\nPath=y\r\n");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Name, "Mine");
    EXPECT_EQ(entries[0].Path, "x.default");
    EXPECT_EQ(entries[0].IsRelative, 1);
}

TEST(ProfilesIniReader, IntegersReadAsThePlatformReadsThem)
{
    EXPECT_EQ(ParseIniInteger("1"), 1);
    EXPECT_EQ(ParseIniInteger("01"), 1);
    EXPECT_EQ(ParseIniInteger("257abc"), 257);
    EXPECT_EQ(ParseIniInteger("-3"), -3);
    EXPECT_EQ(ParseIniInteger("yes"), 0);
    EXPECT_EQ(ParseIniInteger(""), 0);
    EXPECT_GT(ParseIniInteger("99999999999999999999999999"), 0); // no overflow
}

TEST(ProfilesIniReader, BadInputYieldsWhatCanBeRead)
{
    EXPECT_TRUE(ReadProfilesIni("").empty());
    EXPECT_TRUE(ReadProfilesIni(std::string("\0\0\xff\xfe[\x01\x02", 8)).empty());
    EXPECT_TRUE(ReadProfilesIni("[Profile0\nName=a\nPath=a\n").size() == 1); // no ']'
    EXPECT_TRUE(ReadProfilesIni("Name=a\nPath=a\n").empty());
    EXPECT_EQ(ReadProfilesIni(std::string("[Profile0]\nName=a\0b\nPath=p\n", 27)).size(), 1u);
}

TEST(ProfilesIniReader, TenThousandSectionsReadInLinearTime)
{
    std::string text;
    for (int i = 9999; i >= 0; --i)
        text += "[Profile" + std::to_string(i) + "]\nName=p" + std::to_string(i) +
                "\nIsRelative=1\nPath=x" + std::to_string(i) + ".default\n\n";
    const auto entries = ReadProfilesIni(text);
    ASSERT_EQ(entries.size(), 10000u);
    EXPECT_EQ(entries.front().Name, "p0");
    EXPECT_EQ(entries.back().Name, "p9999");
}

TEST(ProfileFolderGuard, RelativePathsStayBelowTheRoot)
{
    const std::string root = "/home/u/.mozilla/firefox/";
    EXPECT_EQ(ResolveProfileFolder(root, "abc.default", true),
              "/home/u/.mozilla/firefox/abc.default");
    EXPECT_EQ(ResolveProfileFolder(root, "Profiles/abcd1234.default", true),
              "/home/u/.mozilla/firefox/Profiles/abcd1234.default");
    EXPECT_EQ(ResolveProfileFolder(root, "a/../b/./c/", true), "/home/u/.mozilla/firefox/b/c");
    EXPECT_EQ(ResolveProfileFolder(root, "/abc", true), "/home/u/.mozilla/firefox/abc");
    EXPECT_FALSE(ResolveProfileFolder(root, "..", true));
    EXPECT_FALSE(ResolveProfileFolder(root, "../..", true)); // the home folder
    EXPECT_FALSE(ResolveProfileFolder(root, "../../../../etc", true));
    EXPECT_FALSE(ResolveProfileFolder(root, "x/../../firefox2/p", true));
    EXPECT_FALSE(ResolveProfileFolder(root, ".", true));
    EXPECT_FALSE(ResolveProfileFolder(root, "", true));
}

TEST(ProfileFolderGuard, AbsolutePathsMayLieElsewhereButNeverAboveTheRoot)
{
    const std::string root = "/home/u/.mozilla/firefox/";
    EXPECT_EQ(ResolveProfileFolder(root, "/data/profiles/work/", false), "/data/profiles/work");
    EXPECT_EQ(ResolveProfileFolder(root, "/home/u/.mozilla/firefox/../firefox/x", false),
              "/home/u/.mozilla/firefox/x");
    EXPECT_FALSE(ResolveProfileFolder(root, "/", false));
    EXPECT_FALSE(ResolveProfileFolder(root, "/home/u", false));
    EXPECT_FALSE(ResolveProfileFolder(root, "/home/u/.mozilla/firefox", false));
    EXPECT_FALSE(ResolveProfileFolder(root, "/home/u/.mozilla/firefox/x/..", false));
    EXPECT_FALSE(ResolveProfileFolder(root, "C:\\Users\\u\\AppData\\Roaming\\x", false));
    EXPECT_FALSE(ResolveProfileFolder(root, "x.default", false));
    EXPECT_TRUE(IsUsableProfileFolder("/home/u/.mozilla/", "/home/u/.mozilla/default/ab12.slt"));
    EXPECT_FALSE(IsUsableProfileFolder("/home/u/.mozilla/", "/home/u"));
}

TEST(RegistryDatReader, ReadsProfilesInFileOrder)
{
    const auto w = TRegistryDatWriter::Suite({{"default", "/home/u/.mozilla/default/k3j9x1ab.slt"},
                                              {"Work", "/home/u/.mozilla/work/ab12cd34.slt"},
                                              {"Česky", "/data/p/zz99.slt"}});
    const auto c = ReadRegistryDat(w.Data());
    EXPECT_TRUE(c.HasProfileNode);
    ASSERT_EQ(c.Profiles.size(), 3u);
    EXPECT_EQ(c.Profiles[0].Name, "default");
    EXPECT_EQ(c.Profiles[0].Folder, "/home/u/.mozilla/default/k3j9x1ab.slt");
    EXPECT_EQ(c.Profiles[1].Name, "Work");
    EXPECT_EQ(c.Profiles[2].Name, "Česky");
    EXPECT_EQ(c.Profiles[2].Folder, "/data/p/zz99.slt");
}

TEST(RegistryDatReader, EmptyOrShortOrProfilelessFilesHoldNoProfileNode)
{
    EXPECT_FALSE(ReadRegistryDat("").HasProfileNode);
    EXPECT_FALSE(ReadRegistryDat(std::string(15, '\x01')).HasProfileNode);
    const auto w = TRegistryDatWriter::Suite({});
    const auto c = ReadRegistryDat(w.Data());
    EXPECT_FALSE(c.HasProfileNode);
    EXPECT_TRUE(c.Profiles.empty());
}

TEST(RegistryDatReader, RootOutsideTheFileEndsCleanly)
{
    auto w = TRegistryDatWriter::Suite({{"a", "/p/a.slt"}});
    w.SetRoot(0xFFFFFFF0u);
    EXPECT_FALSE(ReadRegistryDat(w.Data()).HasProfileNode);
    w.SetRoot(w.Size() - 2);
    EXPECT_FALSE(ReadRegistryDat(w.Data()).HasProfileNode);
}

TEST(RegistryDatReader, SiblingCyclesEndTheWalk)
{
    std::vector<std::uint32_t> nodes;
    auto w = TRegistryDatWriter::Suite({{"a", "/p/a.slt"}, {"b", "/p/b.slt"}, {"c", "/p/c.slt"}},
                                       &nodes);
    w.SetSibling(nodes[2], nodes[0]);
    EXPECT_EQ(ReadRegistryDat(w.Data()).Profiles.size(), 3u);
    w.SetSibling(nodes[0], nodes[0]);
    const auto c = ReadRegistryDat(w.Data());
    ASSERT_EQ(c.Profiles.size(), 1u);
    EXPECT_EQ(c.Profiles[0].Name, "a");
}

TEST(RegistryDatReader, SiblingOutsideTheFileKeepsWhatWasRead)
{
    std::vector<std::uint32_t> nodes;
    auto w = TRegistryDatWriter::Suite({{"a", "/p/a.slt"}, {"b", "/p/b.slt"}}, &nodes);
    w.SetSibling(nodes[0], 0x7FFFFFFFu);
    const auto c = ReadRegistryDat(w.Data());
    ASSERT_EQ(c.Profiles.size(), 1u);
    EXPECT_EQ(c.Profiles[0].Name, "a");
}

TEST(RegistryDatReader, BackwardWalkWithoutMatchSkipsOnlyThatProfile)
{
    std::vector<std::uint32_t> nodes;
    auto w = TRegistryDatWriter::Suite({{"a", "/p/a.slt"}, {"b", "/p/b.slt"}, {"c", "/p/c.slt"}},
                                       &nodes);
    // Node b no longer holds its own offset, and its value entry starts the search
    // before any other copy of that offset: the walk reaches the start of the file.
    w.Put(nodes[1], 0);
    w.SetFirstValue(nodes[1], 8);
    const auto c = ReadRegistryDat(w.Data());
    ASSERT_EQ(c.Profiles.size(), 2u);
    EXPECT_EQ(c.Profiles[0].Name, "a");
    EXPECT_EQ(c.Profiles[1].Name, "c");
}

TEST(RegistryDatReader, FolderWithoutDirectoryWordLosesItsFirstElevenCharacters)
{
    auto w = TRegistryDatWriter::Suite({{"a", "/home/u/.mozilla/a/x.slt"}});
    std::string data = w.Data();
    data.replace(data.find("directory"), 9, "DIRECTORY");
    const auto c = ReadRegistryDat(data);
    ASSERT_EQ(c.Profiles.size(), 1u);
    // What precedes the folder is the node's non-zero bytes and "DIRECTORY"; only the
    // first eleven characters go, so part of the word stays in front of the folder.
    const std::string& folder = c.Profiles[0].Folder;
    EXPECT_NE(folder, "/home/u/.mozilla/a/x.slt");
    EXPECT_TRUE(folder.ends_with("RY/home/u/.mozilla/a/x.slt")) << folder;
}

TEST(RegistryDatReader, EveryTruncationEndsCleanly)
{
    const auto w = TRegistryDatWriter::Suite({{"a", "/p/a.slt"}, {"b", "/p/b.slt"}});
    const std::string& data = w.Data();
    for (std::size_t n = 0; n <= data.size(); ++n) {
        const auto c = ReadRegistryDat(std::string_view(data).substr(0, n));
        ASSERT_LE(c.Profiles.size(), 2u) << n;
        for (const auto& p : c.Profiles)
            EXPECT_TRUE(p.Folder == "/p/a.slt" || p.Folder == "/p/b.slt") << n;
    }
    EXPECT_EQ(ReadRegistryDat(data).Profiles.size(), 2u);
}

TEST(RegistryDatReader, CraftedFileOfManyNodesEndsWithinItsWorkBound)
{
    // 170 000 nameless nodes chained as siblings, each with its value entry at the far
    // end of 4 MiB: without a bound this is a quadratic walk (the test's time limit
    // catches that), with one the walk stops once the file has used up its share.
    const std::size_t size = 4 * 1024 * 1024;
    std::string data(size, '\0');
    const auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            data[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    put(12, 64);
    put(64 + 16, 128);   // root -> first child
    put(128 + 12, 192);  // -> next sibling
    put(192 + 16, 256);  // -> first child
    put(256 + 0, 256);   // its own offset
    put(256 + 16, 1024); // -> first profile node
    std::uint32_t p = 1024;
    for (; p + 24 + 32 < size - 64; p += 24) {
        put(p + 20, static_cast<std::uint32_t>(size - 1));
        put(p + 12, p + 24);
    }
    put(p + 20, static_cast<std::uint32_t>(size - 1));
    const auto c = ReadRegistryDat(data);
    EXPECT_TRUE(c.HasProfileNode);
    EXPECT_TRUE(c.Profiles.empty());
}

TEST(RegistryDatReader, OverlappingLongNamesStayWithinTheWorkBound)
{
    // Nodes 24 bytes apart, each naming the 4 KiB before it: read as they stand, the
    // 4 MiB file gives 100 000 names of some 3.5 KiB, over 300 MiB in memory.
    const std::size_t size = 4 * 1024 * 1024;
    std::string data(size, 'A');
    const auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            data[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    put(12, 64);
    put(64 + 16, 128);
    put(128 + 12, 192);
    put(192 + 16, 256);
    put(256 + 0, 256);
    put(256 + 16, 8192);
    std::uint32_t p = 8192;
    for (; p + 48 < size; p += 24) {
        put(p, p);            // the node's own offset ends its backward walk
        put(p + 4, p - 4096); // its name: the 4 KiB before it
        put(p + 12, p + 24);  // next sibling
        put(p + 20, p + 24);  // first value entry
    }
    put(p + 12, 0);
    const auto c = ReadRegistryDat(data);
    EXPECT_TRUE(c.HasProfileNode);
    EXPECT_FALSE(c.Profiles.empty());
    std::size_t bytes = 0;
    for (const auto& profile : c.Profiles)
        bytes += profile.Name.size() + profile.Folder.size();
    EXPECT_LE(bytes, 16u * 1024 * 1024);
}

} // namespace
