#pragma once
// The environment of one test: a program folder, home, state and configuration folders
// of its own in one temporary tree, and fakes for the rest of the system (a memory key
// store, a recording launcher, no running processes, an empty registry). It is the
// current environment while it lives, so the error log and every text come from it too.

#include "config/Environment.h"
#include "support/TempDir.h"

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tessarin::test {

class TTestEnvironment {
public:
    // shipped: data files copied from the program's data folder into the program folder.
    explicit TTestEnvironment(std::initializer_list<const char*> shipped = {})
    {
        namespace fs = std::filesystem;
        fs::create_directories(dir_.Path() / "program");
        fs::create_directories(dir_.Path() / "home");
        for (const char* name : shipped)
            fs::copy_file(ShippedDataDir() / name, ProgramFile(name));
        Env.Folders.Home = dir_.Folder() + "home/";
        Env.Folders.Documents = Env.Folders.Home;
        Env.Folders.Program = dir_.Folder() + "program/";
        Env.Folders.State = dir_.Folder() + "state/tessarin/";
        Env.Folders.Config = dir_.Folder() + "config/tessarin/";
        Env.KeyStore = std::make_shared<TMemoryKeyStore>();
        Env.Launcher = Launcher;
        UseProcesses({});
        UseRegistry("");
        // Without a Default.lng every text is the built-in English one.
        UseLanguage(ProgramFile("Default.lng"));
    }
    TTestEnvironment(const TTestEnvironment&) = delete;
    TTestEnvironment& operator=(const TTestEnvironment&) = delete;

    const TTempDir& Dir() const { return dir_; }
    const std::string& Home() const { return Env.Folders.Home; }
    const std::string& Program() const { return Env.Folders.Program; }
    const std::string& State() const { return Env.Folders.State; }
    std::filesystem::path ProgramFile(const std::string& name) const
    {
        return dir_.Path() / "program" / name;
    }
    std::filesystem::path WriteProgramFile(const std::string& name, std::string_view content) const
    {
        return dir_.Write("program/" + name, content);
    }
    std::filesystem::path LogPath() const { return Env.Folders.State + "error.log"; }
    std::string Log() const { return ReadFile(LogPath()); }

    void UseLanguage(const std::filesystem::path& file)
    {
        Env.Language = std::make_shared<Tl10n>(file);
    }
    void UseLanguageText(std::string_view content)
    {
        UseLanguage(WriteProgramFile("Default.lng", content));
    }
    void UseRegistry(std::string_view text)
    {
        Env.MachineRegistry = std::make_shared<TMemoryRegistry>(TMemoryRegistry::FromText(text));
    }
    void UseProcesses(std::vector<std::vector<std::string>> snapshots)
    {
        Env.Processes = std::make_shared<TFixedProcessList>(std::move(snapshots));
    }

    std::shared_ptr<TRecordingLauncher> Launcher = std::make_shared<TRecordingLauncher>();
    TEnvironment Env;

private:
    TTempDir dir_;
    TCurrentEnvironment current_{Env};
};

} // namespace tessarin::test
