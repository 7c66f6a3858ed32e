#pragma once
// Shared set-up of the fuzz targets: one private folder per process that holds the
// program folder (with the shipped data files), home, state and config folders, and a
// scratch folder that is emptied before every input. The environment is set up here
// once and is the process's current one, so one input cannot change how the next runs.

#include "config/Environment.h"
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
    const TEnvironment& Env() const { return env_; }

    // Called at the start of every input: an empty scratch folder, a fresh error log,
    // and the installation table as it was.
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
        ResetInstallationTable();
    }

    // The machine registry a target wants (for example with an installed Firefox).
    void SetRegistry(std::shared_ptr<const IRegistryView> registry)
    {
        env_.MachineRegistry = std::move(registry);
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
        env_.Folders.Home = home_;
        env_.Folders.Documents = home_ + "Documents/";
        env_.Folders.Program = program_;
        env_.Folders.State = state_;
        env_.Folders.Config = root_ + "config/";
        env_.KeyStore = std::make_shared<TMemoryKeyStore>();
        env_.Launcher = std::make_shared<TRecordingLauncher>();
        env_.Processes =
            std::make_shared<TFixedProcessList>(std::vector<std::vector<std::string>>{});
        env_.MachineRegistry = std::make_shared<TMemoryRegistry>();
        // The built-in English texts: the shipped file is input of a target of its own.
        env_.Language = std::make_shared<Tl10n>(root_ + "missing.lng");
        Reset();
    }

    std::string root_;
    std::string home_;
    std::string program_;
    std::string scratch_;
    std::string state_;
    TEnvironment env_;
    TCurrentEnvironment current_{env_};
};

// Answers every question with No or Cancel, as nobody is there to answer.
using TFuzzUserInterface = TQuietUserInterface;

} // namespace tessarin::fuzz
