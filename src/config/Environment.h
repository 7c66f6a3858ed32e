#pragma once
// What the program takes from the system it runs on. main builds it once from the real
// system, tests build it from fakes; the wizard, batch mode, the catalogue and the
// engine runs get it through TSharedState::Env.

#include "config/L10n.h"
#include "platform/Folders.h"
#include "platform/KeyStore.h"
#include "platform/Launcher.h"
#include "platform/ProcessList.h"
#include "platform/RegistryView.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace tessarin {

struct TEnvironment {
    TFolders Folders;
    std::shared_ptr<IKeyStore> KeyStore; // the remembered folders
    std::shared_ptr<ILauncher> Launcher;
    std::shared_ptr<const IProcessList> Processes;
    // nullptr: the catalogue reads the installations found on this system instead.
    std::shared_ptr<const IRegistryView> MachineRegistry;
    std::shared_ptr<const Tl10n> Language;
    // The program's arguments, argv[0] left out, kept before any toolkit takes its
    // own options out of argv.
    std::vector<std::string> Arguments;
    // Batch runs from cron or systemd have nobody reading the log file: every log line
    // then goes to this stream too ("tessarin: " in front).
    std::FILE* ErrorLogEcho = nullptr;

    // Exactly one argument (the path of a task file) means batch backup.
    bool IsBatchMode() const { return Arguments.size() == 1; }
    // The task file argument as typed; empty outside batch mode.
    std::string BatchTaskArgument() const { return IsBatchMode() ? Arguments.front() : ""; }
    // The Backup.ini that is read: Folders.Config's when it exists, else the program
    // folder's (the system-wide default).
    std::string SettingsFile() const;
};

std::vector<std::string> CommandLineArguments(int argc, const char* const* argv);

// The real system: the detected folders, registry.ini in the configuration folder,
// /proc (or $TESSARIN_PROC_ROOT), posix_spawn, no registry and the program folder's
// Default.lng.
TEnvironment SystemEnvironment(std::vector<std::string> arguments = {});

// The error log is written from deep leaf code, and the texts are looked up without
// an environment being passed: only those find the environment here. Until one is made current, the
// real system's.
const TEnvironment& CurrentEnvironment();

// Makes env current for as long as it lives; the one before comes back afterwards.
class TCurrentEnvironment {
public:
    explicit TCurrentEnvironment(const TEnvironment& env);
    ~TCurrentEnvironment();
    TCurrentEnvironment(const TCurrentEnvironment&) = delete;
    TCurrentEnvironment& operator=(const TCurrentEnvironment&) = delete;

private:
    const TEnvironment* previous_;
};

} // namespace tessarin
