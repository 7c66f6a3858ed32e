// Reading a written archive back: one damaged byte in any entry is found and named.

#include "archive/ArchiveVerify.h"
#include "ArchiveFixture.h"
#include "support/ZipDamage.h"

namespace tessarin::test {
namespace {

struct TVerifyCase {
    const char* Name;
    const char* Password;       // the archive's
    const char* VerifyPassword; // the one the check is given
    const char* Damaged;        // entry with a flipped byte; "" for none
    const char* FailingEntry;   // nullptr: the check passes; "": the archive as a whole
    TDamage Where = TDamage::Data;
};

class ArchiveVerify : public TArchiveFixture, public ::testing::WithParamInterface<TVerifyCase> {};

TEST_P(ArchiveVerify, FindsTheDamagedEntry)
{
    const TVerifyCase& c = GetParam();
    // A profile's shapes: text that deflates in several blocks, data that is stored.
    dir_.Write("p/prefs.js", CompressibleText(200 * 1024, 1));
    dir_.Write("p/places.sqlite", Incompressible(200 * 1024, 2));
    dir_.Write("p/Mail/Inbox", CompressibleText(3 * MiB / 2, 3));
    const std::string archive = Path("b.pcv");
    ASSERT_TRUE(Facade(archive, c.Password, Path("p/"))
                    ->AddTask(TArchiveTask{{"prefs.js", "places.sqlite", "Mail/Inbox"}, {}, 0}));
    if (*c.Damaged != '\0') {
        ASSERT_TRUE(FlipByteInEntry(archive, c.Damaged, c.Where));
    }

    const auto failure = VerifyArchive(archive, c.VerifyPassword);

    if (c.FailingEntry == nullptr) {
        EXPECT_FALSE(failure) << failure->Entry << ": " << failure->Reason;
    } else {
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->Entry, c.FailingEntry);
        EXPECT_FALSE(failure->Reason.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArchiveVerify,
    ::testing::Values(
        TVerifyCase{"Good", "", "", "", nullptr},
        TVerifyCase{"StoredEntryDamaged", "", "", "places.sqlite", "places.sqlite"},
        TVerifyCase{"DeflatedEntryDamaged", "", "", "Mail/Inbox", "Mail/Inbox"},
        // Data that reads back whole behind a local header that says otherwise: another
        // ZIP program would extract by that header.
        TVerifyCase{"LocalNameDiffers", "", "", "Mail/Inbox", "", TDamage::LocalName},
        TVerifyCase{"LocalSizeDiffers", "", "", "places.sqlite", "", TDamage::LocalSize},
        TVerifyCase{"AesGood", "secret", "secret", "", nullptr},
        TVerifyCase{"AesStoredEntryDamaged", "secret", "secret", "places.sqlite", "places.sqlite"},
        TVerifyCase{"AesDeflatedEntryDamaged", "secret", "secret", "Mail/Inbox", "Mail/Inbox"},
        // Every entry fails: the first in archive order is named.
        TVerifyCase{"AesWrongPassword", "secret", "wrong", "", "prefs.js"}),
    [](const auto& test) { return std::string(test.param.Name); });

TEST(ArchiveVerifyWhole, WhatIsNoArchiveFailsWithoutAnEntry)
{
    TTempDir dir;
    const auto failure = VerifyArchive(dir.Write("x.pcv", "not a zip").string(), "");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->Entry, "");
    EXPECT_FALSE(failure->Reason.empty());
}

TEST(ArchiveVerifyWhole, ExceptionFromThePumpStopsTheWorkersAndComesOut)
{
    TTempDir dir;
    const std::string archive = (dir.Path() / "b.pcv").string();
    WriteRawArchive(archive, {{"a", Incompressible(4 * MiB, 1)}, {"b", "b"}});
    TVerifyOptions options;
    int pumps = 0;
    options.Pump = [&pumps](std::uint64_t, std::uint64_t) {
        ++pumps;
        throw TProgramExit{1}; // the close query answered Yes
    };
    EXPECT_THROW(VerifyArchive(archive, "", options), TProgramExit);
    EXPECT_EQ(pumps, 1);
}

} // namespace
} // namespace tessarin::test
