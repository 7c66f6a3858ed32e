#pragma once
// A profile must not be copied or overwritten while its application has it open: these
// checks look for a running process of the selected application and ask the person
// to close it.

#include <cstdint>
#include <string>
#include <vector>

namespace tessarin {

class IProcessList;
class IUserInterface;

// Process names that count as the application, compared exactly and with case.
// None for 0 (nothing selected) and 10 (portable).
std::vector<std::string> RunningCheckExecutables(std::uint8_t number);

// Whether processes (the environment's list) holds one of those names.
bool IsApplicationRunning(const IProcessList& processes, std::uint8_t number);

// The name in the wizard's LANG_DETEKCE message ("Firefox").
std::string WizardRunningName(std::uint8_t number);
// The names in the engine's LANG_DETEKCE and LANG_DETEKCE2 messages ("Mozilla Firefox").
std::string EngineRunningName(std::uint8_t number);
std::string EngineExitName(std::uint8_t number);

// The wizard's loop: while the application runs, a Retry/Cancel box. True when it
// is not (or no longer) running, false when the person cancelled.
bool WaitUntilApplicationClosed(const IProcessList& processes, std::uint8_t number,
                                IUserInterface& ui);

// The engine's loop during a legacy restore: as the wizard's, with the engine's names
// and texts; Cancel shows LANG_DETEKCE2 and throws TProgramExit{1}.
void EnsureApplicationClosedForEngine(const IProcessList& processes, std::uint8_t number,
                                      IUserInterface& ui);

// The process that holds profileDir's "lock" link ("host:+PID", as the applications
// write it on Linux) when that process is alive; 0 otherwise. Catches an application
// whose process name the running check does not know (a portable or renamed one).
int ProfileLockOwner(const std::string& profileDir);

// Whether another process holds a lock on profileDir's ".parentlock", as Firefox and
// Thunderbird do for as long as they have the profile open.
bool ParentLockHeld(const std::string& profileDir);

// The profile is open in some application: its "lock" names a live process or its
// ".parentlock" is locked. Sees instances the process names miss (another user's,
// another installation's, a portable copy).
bool ProfileInUse(const std::string& profileDir);

// The wizard's loop for a backup: while the application runs or the profile is in
// use, a Retry/Cancel box. False when the person cancelled.
bool WaitUntilProfileClosed(const IProcessList& processes, const std::string& profileDir,
                            std::uint8_t number, IUserInterface& ui);

// The engine's loop for a profile in use: while its lock is held, as
// EnsureApplicationClosedForEngine; Cancel shows LANG_DETEKCE2 and throws
// TProgramExit{1}.
void EnsureProfileNotInUse(const std::string& profileDir, std::uint8_t number,
                           IUserInterface& ui);

} // namespace tessarin
