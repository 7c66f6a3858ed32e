#pragma once
// Set-up of the backup-run tests: a private program folder with the shipped data
// files, private home, state and config folders, built-in English texts, and a way
// to look into the archives the run writes.

#include "config/SharedState.h"
#include "profiles/Catalogue.h"
#include "support/FakeUserInterface.h"
#include "support/ProfileFixture.h"
#include "support/TestEnvironment.h"
#include "support/ZipDamage.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tessarin::test {

// Entry name -> whether it is encrypted.
inline std::map<std::string, bool> ArchiveEntries(const std::filesystem::path& archive)
{
    std::map<std::string, bool> out;
    int err = 0;
    zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &err);
    if (za == nullptr)
        return out;
    const zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st) == 0)
            out[st.name] = st.encryption_method != ZIP_EM_NONE;
    }
    zip_discard(za);
    return out;
}

inline std::vector<std::string> EntryNames(const std::filesystem::path& archive)
{
    std::vector<std::string> names;
    for (const auto& [name, encrypted] : ArchiveEntries(archive))
        names.push_back(name);
    return names;
}

// The content of one entry (unencrypted or with password).
inline std::string EntryText(const std::filesystem::path& archive, const std::string& name,
                             const char* password = nullptr)
{
    return EntryBytes(archive.string(), name, 0, password);
}

class BackupRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(documents);
        env.Env.Folders.Documents = documents;
        env.UseLanguage(temp.Path() / "missing.lng");
        ResetInstallationTable();
    }
    void TearDown() override { ResetInstallationTable(); }

    TTestEnvironment env{"Default.lng", "Backup.ini", "Profilefiles.txt"};
    const TTempDir& temp = env.Dir();
    std::string program = env.Program();
    std::string home = env.Home();
    std::string documents = home + "Documents/";
    TSharedState state{env.Env};
    TFakeUserInterface ui;
};

} // namespace tessarin::test
