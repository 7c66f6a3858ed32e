#include "platform/RegistryView.h"

#include "config/Environment.h"

#include <gtest/gtest.h>

using namespace tessarin;

namespace {

TEST(MemoryRegistry, KeysAndValuesCompareWithoutCaseAndIgnoreOuterBackslashes)
{
    TMemoryRegistry r;
    r.SetValue("SOFTWARE\\mozilla\\Mozilla Firefox", "CurrentVersion", "115.0");
    EXPECT_EQ(r.ReadString("software\\MOZILLA\\mozilla firefox\\", "currentversion"), "115.0");
    EXPECT_EQ(r.ReadString("\\SOFTWARE\\mozilla\\Mozilla Firefox", "CurrentVersion"), "115.0");
    EXPECT_TRUE(r.KeyExists("SOFTWARE\\mozilla")); // parents exist too
    EXPECT_TRUE(r.KeyExists("SOFTWARE"));
    EXPECT_FALSE(r.KeyExists("SOFTWARE\\mozilla.org"));
    EXPECT_FALSE(r.KeyExists(""));
    // A doubled backslash is an empty key name, not the same key.
    EXPECT_FALSE(r.ReadString("SOFTWARE\\mozilla\\\\Mozilla Firefox", "CurrentVersion"));
    EXPECT_FALSE(r.ReadString("SOFTWARE\\mozilla\\Mozilla Firefox", "Install Directory"));
    EXPECT_FALSE(r.ReadString("SOFTWARE\\nothing", "CurrentVersion"));
}

TEST(MemoryRegistry, EmptyValueExistsAndSubKeysKeepTheirOrderAndSpelling)
{
    TMemoryRegistry r;
    r.SetValue("SOFTWARE\\mozilla\\Mozilla Thunderbird", "CurrentVersion", "");
    r.AddKey("SOFTWARE\\mozilla\\SeaMonkey");
    r.AddKey("software\\mozilla\\mozilla thunderbird\\Extra"); // same key, other case
    ASSERT_TRUE(r.ReadString("SOFTWARE\\mozilla\\Mozilla Thunderbird", "CurrentVersion"));
    EXPECT_EQ(*r.ReadString("SOFTWARE\\mozilla\\Mozilla Thunderbird", "CurrentVersion"), "");
    EXPECT_EQ(r.SubKeyNames("SOFTWARE\\MOZILLA"),
              (std::vector<std::string>{"Mozilla Thunderbird", "SeaMonkey"}));
    EXPECT_EQ(r.SubKeyNames("SOFTWARE\\mozilla\\Mozilla Thunderbird"),
              std::vector<std::string>{"Extra"});
    EXPECT_TRUE(r.SubKeyNames("SOFTWARE\\none").empty());
}

TEST(MemoryRegistry, ReadsTheTextFormFirstPairWinning)
{
    const TMemoryRegistry r = TMemoryRegistry::FromFile(std::string(TESSARIN_TEST_DATA) +
                                                        "/profiles/registry/machine.ini");
    EXPECT_EQ(r.ReadString("SOFTWARE\\mozilla\\Mozilla Firefox", "CurrentVersion"),
              "3.6.3 (en-US)");
    EXPECT_EQ(r.ReadString("SOFTWARE\\mozilla\\Mozilla Firefox\\3.6.3 (en-US)\\Main",
                           "Install Directory"),
              "C:\\Program Files\\Mozilla Firefox");

    const TMemoryRegistry twice =
        TMemoryRegistry::FromText("[K]\nV=first\nV=second\n[k]\nV=third\n");
    EXPECT_EQ(twice.ReadString("K", "V"), "first");
    EXPECT_TRUE(TMemoryRegistry::FromFile("/nonexistent/registry.ini").SubKeyNames("").empty());
}

TEST(MachineRegistry, TheRealSystemHasNone)
{
    EXPECT_EQ(SystemEnvironment().MachineRegistry, nullptr);
}

} // namespace
