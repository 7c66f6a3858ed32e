#pragma once
// Set-up of the backup-run tests: a private program folder with the shipped data
// files, private home, state and config folders, built-in English texts, and a way
// to look into the archives the run writes.

#include "config/L10n.h"
#include "config/SharedState.h"
#include "platform/Folders.h"
#include "platform/KeyStore.h"
#include "platform/RegistryView.h"
#include "profiles/Catalogue.h"
#include "support/FakeUserInterface.h"
#include "support/ProfileFixture.h"
#include "support/TempDir.h"
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
        namespace fs = std::filesystem;
        program = temp.Folder() + "program/";
        home = temp.Folder() + "home/";
        documents = home + "Documents/";
        fs::create_directories(program);
        fs::create_directories(documents);
        for (const char* f : {"Default.lng", "Backup.ini", "Profilefiles.txt"})
            fs::copy_file(ShippedDataDir() / f, program + f);
        TFolders folders;
        folders.Home = home;
        folders.Documents = documents;
        folders.Program = program;
        folders.State = temp.Folder() + "state/";
        folders.Config = temp.Folder() + "config/";
        SetFolders(folders);
        SetLanguage(std::make_shared<Tl10n>(temp.Path() / "missing.lng"));
        SetUserKeyStore(std::make_shared<TMemoryKeyStore>());
        SetMachineRegistry(std::make_shared<TMemoryRegistry>());
        ResetInstallationTable();
    }

    void TearDown() override
    {
        SetMachineRegistry(nullptr);
        ResetInstallationTable();
    }

    TTempDir temp;
    std::string program;
    std::string home;
    std::string documents;
    TSharedState state;
    TFakeUserInterface ui;
};

} // namespace tessarin::test
