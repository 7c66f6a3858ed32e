#include "profiles/RunningCheck.h"

#include "config/L10n.h"
#include "platform/ProcessList.h"
#include "platform/UserInterface.h"
#include "platform/Folders.h"
#include "profiles/Catalogue.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tessarin {

namespace {

struct TRunningNames {
    const char* Wizard;
    const char* Engine;
    const char* EngineExit;
};

constexpr TRunningNames RunningNames[ApplicationCount + 1] = {
    {"", "", ""},
    {"SeaMonkey", "SeaMonkey", "SeaMonkey"},
    {"Firefox", "Mozilla Firefox", "Mozilla Firefox"},
    {"Thunderbird", "Mozilla Thunderbird", "Mozilla Thunderbird"},
    {"Sunbird", "Mozilla Sunbird", "Mozilla Sunbird"},
    {"Flock", "Flock", "Flock"},
    {"Netscape", "Netscape Navigator", "Netscape Navigator"},
    {"Netscape Messenger", "Netscape Messenger", "Netscape Messenger"},
    {"Spicebird", "Spicebird", "Spicebird"},
    {"Songbird", "Songbird", "Songbird"},
    {"", "", ""},
    {"PostBox", "Postbox", "PostBox"},
    {"Wyzo", "Wyzo", "Wyzo"},
};

const TRunningNames& NamesOf(std::uint8_t number)
{
    return RunningNames[number <= ApplicationCount ? number : 0];
}

} // namespace

std::vector<std::string> ListProcessNames()
{
    return ProcessList().Names();
}

std::vector<std::string> RunningCheckExecutables(std::uint8_t number)
{
    return number == AppPortable ? std::vector<std::string>{} : ApplicationExecutables(number);
}

bool IsApplicationRunning(std::uint8_t number)
{
    const std::vector<std::string> wanted = RunningCheckExecutables(number);
    if (wanted.empty())
        return false;
    const std::vector<std::string> running = ListProcessNames();
    return std::any_of(running.begin(), running.end(), [&](const std::string& name) {
        return std::find(wanted.begin(), wanted.end(), name) != wanted.end();
    });
}

std::string WizardRunningName(std::uint8_t number)
{
    return NamesOf(number).Wizard;
}
std::string EngineRunningName(std::uint8_t number)
{
    return NamesOf(number).Engine;
}
std::string EngineExitName(std::uint8_t number)
{
    return NamesOf(number).EngineExit;
}

bool WaitUntilApplicationClosed(std::uint8_t number, IUserInterface& ui)
{
    while (IsApplicationRunning(number)) {
        const bool retry = ui.RetryCancelBox(
            Text("TForm1", "LANG_WARNING"),
            Language().GetTextWithArg("Tessarin14", "LANG_DETEKCE", WizardRunningName(number)));
        if (!retry)
            return false;
    }
    return true;
}

void EnsureApplicationClosedForEngine(std::uint8_t number, IUserInterface& ui)
{
    while (IsApplicationRunning(number)) {
        const bool retry = ui.RetryCancelBox(
            Text("TForm1", "LANG_WARNING"),
            Language().GetTextWithArg("TForm1", "LANG_DETEKCE", EngineRunningName(number)));
        if (!retry) {
            ui.WarningBox(
                Text("TForm1", "LANG_WARNING"),
                Language().GetTextWithArg("TForm1", "LANG_DETEKCE2", EngineExitName(number)));
            throw TProgramExit{1};
        }
    }
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

bool WaitUntilProfileClosed(const std::string& profileDir, std::uint8_t number, IUserInterface& ui)
{
    while (IsApplicationRunning(number) || ProfileInUse(profileDir)) {
        std::string name = WizardRunningName(number);
        if (name.empty())
            name = profileDir;
        const bool retry = ui.RetryCancelBox(
            Text("TForm1", "LANG_WARNING"),
            Language().GetTextWithArg("Tessarin14", "LANG_DETEKCE", name));
        if (!retry)
            return false;
    }
    return true;
}

void EnsureProfileNotInUse(const std::string& profileDir, std::uint8_t number, IUserInterface& ui)
{
    while (ProfileInUse(profileDir)) {
        std::string name = EngineRunningName(number);
        if (name.empty())
            name = profileDir;
        const bool retry = ui.RetryCancelBox(
            Text("TForm1", "LANG_WARNING"),
            Language().GetTextWithArg("TForm1", "LANG_DETEKCE", name));
        if (!retry) {
            std::string exitName = EngineExitName(number);
            if (exitName.empty())
                exitName = name;
            ui.WarningBox(Text("TForm1", "LANG_WARNING"),
                          Language().GetTextWithArg("TForm1", "LANG_DETEKCE2", exitName));
            throw TProgramExit{1};
        }
    }
}

} // namespace tessarin
