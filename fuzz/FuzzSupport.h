#pragma once
// Shared set-up of the fuzz targets: one private folder per process that holds the
// program folder (with the shipped data files), home, state and config folders, and a
// scratch folder that is emptied before every input. Every global the core keeps is
// set here once and put back each run, so one input cannot change how the next runs.

#include "config/L10n.h"
#include "platform/Folders.h"
#include "platform/KeyStore.h"
#include "platform/RegistryView.h"
#include "platform/UserInterface.h"
#include "profiles/Catalogue.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unistd.h> // mkdtemp

namespace tessarin::fuzz {

inline std::string Bytes(const std::uint8_t* data, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

inline void WriteFile(const std::filesystem::path& path, std::string_view content)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

class TFuzzEnvironment {
public:
    // The folder every target may write into; everything else stays untouched.
    static TFuzzEnvironment& Get()
    {
        static TFuzzEnvironment environment;
        return environment;
    }

    const std::string& Root() const { return root_; }       // ends in '/'
    const std::string& Home() const { return home_; }       // ends in '/'
    const std::string& Program() const { return program_; } // ends in '/'
    const std::string& Scratch() const { return scratch_; } // ends in '/'

    // Called at the start of every input: an empty scratch folder, a fresh error log,
    // and the folders, language, key store and registry as they were set up.
    void Reset()
    {
        namespace fs = std::filesystem;
        std::error_code ec;
        // Inputs may leave read-only folders behind; give permissions back first.
        for (auto it = fs::recursive_directory_iterator(scratch_, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(scratch_, ec);
        fs::create_directories(scratch_);
        fs::remove_all(state_, ec);
        SetFolders(folders_);
        SetUserKeyStore(keyStore_);
        SetMachineRegistry(registry_);
        ResetInstallationTable();
        // Set only when something else took its place: replaced objects live until exit.
        if (&Language() != language_.get())
            SetLanguage(language_);
    }

    // The machine registry a target wants (for example with an installed Firefox).
    void SetRegistry(std::shared_ptr<const IRegistryView> registry)
    {
        registry_ = std::move(registry);
        SetMachineRegistry(registry_);
        ResetInstallationTable();
    }

    ~TFuzzEnvironment()
    {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TFuzzEnvironment(const TFuzzEnvironment&) = delete;
    TFuzzEnvironment& operator=(const TFuzzEnvironment&) = delete;

private:
    TFuzzEnvironment()
    {
        namespace fs = std::filesystem;
        std::string tmpl = (fs::temp_directory_path() / "tessarin-fuzz-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        root_ = tmpl + "/";
        home_ = root_ + "home/";
        program_ = root_ + "program/";
        scratch_ = root_ + "scratch/";
        state_ = root_ + "state/";
        fs::create_directories(home_ + "Documents");
        fs::create_directories(program_);
        for (const char* f : {"Default.lng", "Backup.ini", "Profilefiles.txt"})
            fs::copy_file(fs::path(TESSARIN_SOURCE_DIR) / "data" / f, program_ + f);
        folders_.Home = home_;
        folders_.Documents = home_ + "Documents/";
        folders_.Program = program_;
        folders_.State = state_;
        folders_.Config = root_ + "config/";
        keyStore_ = std::make_shared<TMemoryKeyStore>();
        registry_ = std::make_shared<TMemoryRegistry>();
        // The built-in English texts: the shipped file is input of a target of its own.
        language_ = std::make_shared<Tl10n>(root_ + "missing.lng");
        SetLanguage(language_);
        Reset();
    }

    std::string root_;
    std::string home_;
    std::string program_;
    std::string scratch_;
    std::string state_;
    TFolders folders_;
    std::shared_ptr<TMemoryKeyStore> keyStore_;
    std::shared_ptr<const IRegistryView> registry_;
    std::shared_ptr<Tl10n> language_;
};

// Answers every question with No or Cancel, as nobody is there to answer.
using TFuzzUserInterface = TQuietUserInterface;

} // namespace tessarin::fuzz
