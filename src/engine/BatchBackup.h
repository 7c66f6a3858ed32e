#pragma once
// Batch mode: one backup described by a task file, made without asking anything.
// Problems with the task file go to the error log, never to the screen.

#include "config/SharedState.h"
#include "platform/UserInterface.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace tessarin {

class TMozManager;
class TMozApp;
class TAppProfile;
struct TFolders;

// What the task file asked for, once every check passed.
struct TBatchTask {
    std::string Action;
    std::string Application;
    std::string Profile;
    std::string Output; // expanded
    std::string Password;
    std::string OutputPattern; // as the task file gives it
    int Keep = 0;              // backups kept in the output folder; 0 keeps all
    int WaitMinutes = 0;       // how long a profile in use is waited for; 0: not at all
    const TMozApp* App = nullptr;
    const TAppProfile* FoundProfile = nullptr;
};

// Exit status of a run that found the profile in use (EX_TEMPFAIL): nothing was
// written, and the same run later may well succeed.
inline constexpr int ExitProfileInUse = 75;

// How a wait for a profile in use passes; tests replace both.
struct TWaitClock {
    std::function<std::chrono::steady_clock::time_point()> Now = [] {
        return std::chrono::steady_clock::now();
    };
    std::function<void(std::chrono::seconds)> Sleep = [](std::chrono::seconds s) {
        std::this_thread::sleep_for(s);
    };
};

class TBatchBackup {
public:
    TBatchBackup(TSharedState& state, IUserInterface& ui) : state_(state), ui_(ui) {}

    // The whole batch backup for the command-line argument; returns the exit status
    // (0 only when a backup was written and read back, and keep removed what it had to),
    // decided here, once everything after the run is done. May throw TProgramExit.
    int BackupAction(const std::string& argument,
                     std::shared_ptr<TMozManager> manager = nullptr);

    TWaitClock Clock;

    // Finds and loads the task file; false (and one error-log line) on failure.
    bool InitBatchTask(std::shared_ptr<TMozManager> manager, const std::string& argument);
    bool LoadTaskFile(const std::string& path);

    // The found profile's folder, ending in the separator.
    std::string BatchProfileFolder() const;
    const TBatchTask& Task() const { return task_; }

    // After a verified new backup: removes the oldest backups in its folder that the
    // task's output pattern produced, so that at most Keep remain. Returns the removed paths.
    std::vector<std::string> RemoveOldBackups();
    // The task's earlier backups beside its output (its own name excluded), oldest
    // first: files the output pattern names for this application and profile that open
    // as its backups with its password.
    std::vector<std::string> EarlierBackups();

private:
    bool Fail(const std::string& key);
    // The profile is open in its application (or the application runs at all).
    bool ProfileBusy() const;
    // Waits up to the task's wait for the profile to be free; false, with the error-log
    // line, when it is still in use then.
    bool WaitForProfile();
    void ReportProfileBusy();

    TSharedState& state_;
    IUserInterface& ui_;
    std::shared_ptr<TMozManager> manager_;
    TBatchTask task_;
};

// The batch backup for the command-line argument as typed; returns the program's
// exit status. May throw TProgramExit; the caller ends the program with either.
int RunBatchBackup(TSharedState& state, IUserInterface& ui, const std::string& taskFile);

// The file names an output pattern's file-name part can give for one application and
// profile: the date, time and version placeholders stand for any value they can take.
std::regex BackupNameRegex(const std::string& namePattern, const std::string& application,
                           const std::string& profile);

// The task file an argument names: as given when it has a folder part, else in
// the program folder.
std::string BatchTaskPath(const TFolders& folders, const std::string& argument);

} // namespace tessarin
