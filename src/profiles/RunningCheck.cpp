#include "profiles/RunningCheck.h"

#include "config/L10n.h"
#include "platform/Folders.h"
#include "platform/ProcessList.h"
#include "platform/UserInterface.h"
#include "profiles/Catalogue.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tessarin {

std::vector<std::string> RunningCheckExecutables(std::uint8_t number)
{
    return ApplicationExecutables(number);
}

bool IsApplicationRunning(const IProcessList& processes, std::uint8_t number)
{
    const std::vector<std::string> wanted = RunningCheckExecutables(number);
    if (wanted.empty())
        return false;
    const std::vector<std::string> running = processes.Names();
    return std::any_of(running.begin(), running.end(), [&](const std::string& name) {
        return std::find(wanted.begin(), wanted.end(), name) != wanted.end();
    });
}

std::string WizardRunningName(std::uint8_t number)
{
    return Application(number).WizardName;
}
std::string EngineRunningName(std::uint8_t number)
{
    return Application(number).ProductName;
}
std::string EngineExitName(std::uint8_t number)
{
    return Application(number).ExitName;
}

namespace {

std::string OrElse(std::string text, const std::string& otherwise)
{
    return text.empty() ? otherwise : text;
}

// A Retry/Cancel box naming name for as long as busy() holds; false on Cancel.
template <typename Busy>
bool RetryWhile(Busy busy, const char* section, const std::string& name, IUserInterface& ui)
{
    while (busy())
        if (!ui.RetryCancelBox(Text("TForm1", "LANG_WARNING"),
                               Language().GetTextWithArg(section, "LANG_DETEKCE", name)))
            return false;
    return true;
}

[[noreturn]] void ExitForEngine(const std::string& name, IUserInterface& ui)
{
    ui.WarningBox(Text("TForm1", "LANG_WARNING"),
                  Language().GetTextWithArg("TForm1", "LANG_DETEKCE2", name));
    throw TProgramExit{1};
}

} // namespace

bool WaitUntilApplicationClosed(const IProcessList& processes, std::uint8_t number,
                                IUserInterface& ui)
{
    return RetryWhile([&] { return IsApplicationRunning(processes, number); }, "Tessarin14",
                      WizardRunningName(number), ui);
}

void EnsureApplicationClosedForEngine(const IProcessList& processes, std::uint8_t number,
                                      IUserInterface& ui)
{
    if (!RetryWhile([&] { return IsApplicationRunning(processes, number); }, "TForm1",
                    EngineRunningName(number), ui))
        ExitForEngine(EngineExitName(number), ui);
}

int ProfileLockOwner(const std::string& profileDir)
{
    const std::string link = WithTrailingSeparator(profileDir) + "lock";
    char target[256];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return 0;
    const std::string_view text(target, static_cast<std::size_t>(n));
    const std::size_t plus = text.rfind(":+");
    if (plus == std::string_view::npos)
        return 0;
    int pid = 0;
    const char* begin = text.data() + plus + 2;
    const char* end = text.data() + text.size();
    const auto [last, ec] = std::from_chars(begin, end, pid);
    if (ec != std::errc() || last != end || pid <= 0 || pid == ::getpid())
        return 0;
    // EPERM: alive, but another user's.
    return ::kill(pid, 0) == 0 || errno == EPERM ? pid : 0;
}

bool ParentLockHeld(const std::string& profileDir)
{
    const std::string path = WithTrailingSeparator(profileDir) + ".parentlock";
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock query {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_GETLK, &query) == 0 && query.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

bool ProfileInUse(const std::string& profileDir)
{
    return !profileDir.empty() && (ProfileLockOwner(profileDir) != 0 || ParentLockHeld(profileDir));
}

bool WaitUntilProfileClosed(const IProcessList& processes, const std::string& profileDir,
                            std::uint8_t number, IUserInterface& ui)
{
    return RetryWhile(
        [&] { return IsApplicationRunning(processes, number) || ProfileInUse(profileDir); },
        "Tessarin14", OrElse(WizardRunningName(number), profileDir), ui);
}

void EnsureProfileNotInUse(const std::string& profileDir, std::uint8_t number, IUserInterface& ui)
{
    const std::string name = OrElse(EngineRunningName(number), profileDir);
    if (!RetryWhile([&] { return ProfileInUse(profileDir); }, "TForm1", name, ui))
        ExitForEngine(OrElse(EngineExitName(number), name), ui);
}

} // namespace tessarin
