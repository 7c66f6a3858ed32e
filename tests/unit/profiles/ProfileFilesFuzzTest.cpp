// Random and mutated inputs for the two profile-list readers, from a fixed seed so a
// failure repeats. Each input must end cleanly with results that keep the readers'
// promises; the test's time limit catches a reader that loops.

#include "ProfilesTestSupport.h"

#include "profiles/ProfileFiles.h"

#include <random>

using namespace tessarin;
using tessarin::test::TRegistryDatWriter;

namespace {

constexpr int RandomInputs = 1500;
constexpr int MutatedInputs = 2500;

void CheckRegistry(const std::string& data)
{
    const TRegistryDatContents c = ReadRegistryDat(data);
    ASSERT_LE(c.Profiles.size(), data.size() / 4 + 1);
    if (!c.HasProfileNode) {
        ASSERT_TRUE(c.Profiles.empty());
    }
    for (const auto& p : c.Profiles) {
        ASSERT_FALSE(p.Name.empty());
        ASSERT_FALSE(p.Folder.empty());
        ASSERT_EQ(p.Name.find('\0'), std::string::npos);
        ASSERT_EQ(p.Folder.find('\0'), std::string::npos);
    }
}

void CheckProfilesIni(const std::string& text)
{
    const std::string root = "/home/u/.mozilla/firefox/";
    const auto entries = ReadProfilesIni(text);
    ASSERT_LE(entries.size(), static_cast<std::size_t>(std::count(text.begin(), text.end(), '[')));
    for (const auto& e : entries) {
        ASSERT_FALSE(e.Name.empty());
        for (bool relative : {true, false}) {
            const auto folder = ResolveProfileFolder(root, e.Path, relative);
            if (!folder)
                continue;
            ASSERT_EQ(folder->front(), '/');
            ASSERT_EQ(folder->find("/../"), std::string::npos);
            ASSERT_NE(*folder, "/");
            ASSERT_NE(*folder, "/home/u");
            ASSERT_NE(*folder, "/home/u/.mozilla/firefox");
            if (relative) {
                ASSERT_EQ(folder->rfind(root, 0), 0u) << *folder;
            }
        }
    }
}

std::uint32_t RandomOffset(std::mt19937& rng, std::size_t size)
{
    switch (rng() % 5) {
    case 0:
        return 0;
    case 1:
        return 0xFFFFFFFFu - rng() % 64;
    default:
        return static_cast<std::uint32_t>(rng() % (size + 16));
    }
}

TEST(ProfileFilesFuzz, RegistryDatFromRandomBytes)
{
    std::mt19937 rng(20090401);
    for (int i = 0; i < RandomInputs; ++i) {
        const std::size_t size = rng() % 700;
        std::string data(size, '\0');
        for (char& c : data)
            c = static_cast<char>(rng() % 4 == 0 ? rng() % 256 : 0);
        // Plausible offsets at plausible places make deeper walks.
        for (std::size_t at = 12; at + 4 <= size; at += 4 + 4 * (rng() % 3)) {
            const std::uint32_t v = RandomOffset(rng, size);
            for (int b = 0; b < 4; ++b)
                data[at + b] = static_cast<char>((v >> (8 * b)) & 0xFF);
        }
        SCOPED_TRACE(i);
        CheckRegistry(data);
    }
}

TEST(ProfileFilesFuzz, RegistryDatMutatedFromARealLayout)
{
    std::mt19937 rng(20090402);
    const std::string base =
        TRegistryDatWriter::Suite({{"default", "/home/u/.mozilla/default/a.slt"},
                                   {"work", "/home/u/.mozilla/work/b.slt"},
                                   {"x", "/data/c.slt"}})
            .Data();
    for (int i = 0; i < MutatedInputs; ++i) {
        std::string data = base;
        for (int m = 0, n = 1 + static_cast<int>(rng() % 4); m < n; ++m) {
            switch (rng() % 5) {
            case 0: // one byte
                if (!data.empty())
                    data[rng() % data.size()] = static_cast<char>(rng() % 256);
                break;
            case 1: // one link, aligned, to anywhere (cycles included)
                if (data.size() >= 4) {
                    const std::size_t at = (rng() % (data.size() / 4)) * 4;
                    const std::uint32_t v = RandomOffset(rng, data.size());
                    for (int b = 0; b < 4; ++b)
                        data[at + b] = static_cast<char>((v >> (8 * b)) & 0xFF);
                }
                break;
            case 2: // truncated
                data.resize(rng() % (data.size() + 1));
                break;
            case 3: // a stretch repeated
                if (!data.empty()) {
                    const std::size_t from = rng() % data.size();
                    data.insert(rng() % data.size(), data.substr(from, rng() % 64));
                }
                break;
            default: // a stretch removed
                if (!data.empty())
                    data.erase(rng() % data.size(), rng() % 32);
            }
        }
        SCOPED_TRACE(i);
        CheckRegistry(data);
    }
}

TEST(ProfileFilesFuzz, ProfilesIniFromRandomPieces)
{
    std::mt19937 rng(20090403);
    const std::vector<std::string> pieces = {"[",
                                             "]",
                                             "Profile",
                                             "profile",
                                             "0",
                                             "1",
                                             "2",
                                             "10",
                                             "Name=",
                                             "Path=",
                                             "IsRelative=",
                                             "=",
                                             "\n",
                                             "\r\n",
                                             " ",
                                             "\"",
                                             "'",
                                             "..",
                                             "/",
                                             "../",
                                             "/home/u",
                                             ".",
                                             "abc.default",
                                             std::string(1, '\0'),
                                             "\xEF\xBB\xBF",
                                             "\xff",
                                             "Default=1",
                                             "[General]",
                                             "[Install4F96D1932A9F858E]"};
    for (int i = 0; i < RandomInputs; ++i) {
        std::string text;
        for (int n = static_cast<int>(rng() % 80); n > 0; --n)
            text += rng() % 8 == 0 ? std::string(1, static_cast<char>(rng() % 256))
                                   : pieces[rng() % pieces.size()];
        SCOPED_TRACE(i);
        CheckProfilesIni(text);
    }
}

TEST(ProfileFilesFuzz, ProfilesIniMutatedFromFirefoxsOwnFile)
{
    std::mt19937 rng(20090404);
    const std::string base =
        test::ReadFile(std::string(TESSARIN_TEST_DATA) + "/profiles/firefox-current/profiles.ini");
    const std::vector<std::string> inserts = {
        "..", "/", "[", "]", "\n", "=", "../../", std::string(1, '\0'), "1"};
    for (int i = 0; i < MutatedInputs; ++i) {
        std::string text = base;
        for (int m = 0, n = 1 + static_cast<int>(rng() % 6); m < n && !text.empty(); ++m) {
            const std::size_t at = rng() % text.size();
            switch (rng() % 4) {
            case 0:
                text[at] = static_cast<char>(rng() % 256);
                break;
            case 1:
                text.insert(at, inserts[rng() % inserts.size()]);
                break;
            case 2:
                text.erase(at, rng() % 16);
                break;
            default:
                text.resize(at);
            }
        }
        SCOPED_TRACE(i);
        CheckProfilesIni(text);
    }
}

} // namespace
