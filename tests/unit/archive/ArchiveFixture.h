#pragma once
// A private program folder (with its own Backup.ini), the built-in English texts, a
// scripted user interface and helpers to look into archives with libzip directly.

#include "archive/ZipFactory.h"
#include "config/SharedState.h"
#include "engine/ArchiveSetup.h"
#include "support/FakeUserInterface.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace tessarin::test {

namespace fs = std::filesystem;

// A fake whose event pump can run a test's action (delete a file, count calls).
class THookedUserInterface : public TFakeUserInterface {
public:
    std::function<void(int call)> OnProcessEvents;
    void ProcessEvents() override
    {
        TFakeUserInterface::ProcessEvents();
        if (OnProcessEvents)
            OnProcessEvents(ProcessEventsCalls);
    }
};

constexpr std::size_t MiB = 1024 * 1024;

// Bytes that do not shrink when deflated.
inline std::string Incompressible(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::string data(size, '\0');
    for (auto& c : data)
        c = static_cast<char>(rng());
    return data;
}

// Mail-like text: deflates to about a third, not to almost nothing.
inline std::string CompressibleText(std::size_t size, unsigned seed)
{
    static const char* const Words[] = {"the ",      "report ",   "invoice ",  "meeting ",
                                        "zpráva ",   "faktura ",  "project ",  "budget\n",
                                        "Subject: ", "regards\n", "tomorrow ", "příloha ",
                                        "schedule ", "of ",       "and "};
    std::mt19937 rng(seed);
    std::string text;
    text.reserve(size + 16);
    while (text.size() < size) {
        text += Words[rng() % std::size(Words)];
        if (rng() % 7 == 0)
            text += std::to_string(rng() % 100000);
    }
    text.resize(size);
    return text;
}

struct TEntryInfo {
    std::string Content;
    std::uint16_t Compression = 0;
    std::uint16_t Encryption = 0;
};

class TArchiveFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetLevel("9");
        state_.Operation = TOperation::Backup;
    }

    void SetLevel(const std::string& value)
    {
        dir_.Write("program/Backup.ini", "[General]\ncompressionLevel=" + value + "\n");
    }

    // A copy of the fixture profile, as a folder text ending in '/'.
    std::string CopyProfile(const std::string& name = "profile")
    {
        const fs::path to = dir_.Path() / name;
        CopyFixture("archive/profile", to);
        return to.string() + "/";
    }

    std::string Path(const std::string& relative) const
    {
        return (dir_.Path() / relative).string();
    }

    std::unique_ptr<TZipFactory> Facade(const std::string& archive, const std::string& password,
                                        const std::string& base)
    {
        return std::make_unique<TZipFactory>(archive, password, base, EngineZipSetup(state_, ui_),
                                             ui_);
    }

    TTestEnvironment env_;
    const TTempDir& dir_ = env_.Dir();
    TSharedState state_{env_.Env};
    THookedUserInterface ui_;
};

// Every file below root (relative name with '/', content).
inline std::map<std::string, std::string> TreeContents(const fs::path& root)
{
    std::map<std::string, std::string> out;
    if (!fs::exists(root))
        return out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            out[fs::relative(e.path(), root).generic_string()] = ReadFile(e.path());
    return out;
}

// Every entry of an archive read with libzip, without any password check.
inline std::map<std::string, TEntryInfo> ArchiveEntries(const std::string& archive,
                                                        const char* password = nullptr)
{
    std::map<std::string, TEntryInfo> out;
    int error = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &error);
    if (za == nullptr)
        return out;
    const zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st);
        TEntryInfo info;
        info.Compression = st.comp_method;
        info.Encryption = st.encryption_method;
        zip_file_t* f = zip_fopen_index_encrypted(za, static_cast<zip_uint64_t>(i), 0, password);
        if (f != nullptr) {
            char buf[8192];
            zip_int64_t r;
            while ((r = zip_fread(f, buf, sizeof buf)) > 0)
                info.Content.append(buf, static_cast<std::size_t>(r));
            zip_fclose(f);
        }
        out[st.name] = info;
    }
    zip_discard(za);
    return out;
}

struct TRawEntry {
    std::string Name;
    std::string Content;
    std::uint16_t Encryption = ZIP_EM_NONE;
    std::uint32_t UnixMode = 0; // 0: no Unix attributes
};

// Writes an archive entry by entry with libzip, names exactly as given (hostile ones
// included), so the facade's reading can be tested against any input.
inline void WriteRawArchive(const std::string& archive, const std::vector<TRawEntry>& entries,
                            const char* password = nullptr)
{
    int error = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(za, nullptr);
    for (const auto& e : entries) {
        zip_source_t* src = zip_source_buffer(za, e.Content.data(), e.Content.size(), 0);
        ASSERT_NE(src, nullptr);
        const zip_int64_t idx = zip_file_add(za, e.Name.c_str(), src, ZIP_FL_ENC_RAW);
        ASSERT_GE(idx, 0) << zip_strerror(za);
        if (e.Encryption != ZIP_EM_NONE) {
            ASSERT_EQ(
                zip_file_set_encryption(za, static_cast<zip_uint64_t>(idx), e.Encryption, password),
                0)
                << zip_strerror(za);
        }
        if (e.UnixMode != 0)
            zip_file_set_external_attributes(za, static_cast<zip_uint64_t>(idx), 0, ZIP_OPSYS_UNIX,
                                             e.UnixMode << 16);
    }
    ASSERT_EQ(zip_close(za), 0) << zip_strerror(za);
}

// Files in a folder whose names show a temporary file (libzip's "name.XXXXXX" or ours).
inline std::vector<std::string> Leftovers(const fs::path& folder, const std::string& archiveName)
{
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(archiveName + ".", 0) == 0 || name.find(".tessarin-") != std::string::npos ||
            name.find(".part") != std::string::npos)
            out.push_back(name);
    }
    return out;
}

// Names of the files of a tree, relative, sorted.
inline std::vector<std::string> TreeNames(const fs::path& root)
{
    std::vector<std::string> names;
    for (const auto& [name, content] : TreeContents(root))
        names.push_back(name);
    return names;
}

} // namespace tessarin::test
