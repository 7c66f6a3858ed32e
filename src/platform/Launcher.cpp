#include "platform/Launcher.h"

#include <cerrno>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace tessarin {

namespace {
std::mutex g_launcherMutex;
std::shared_ptr<ILauncher> g_launcher;
} // namespace

bool TPosixLauncher::Start(const std::string& executable, const std::vector<std::string>& arguments)
{
    if (executable.empty())
        return false;
    std::vector<std::string> args;
    args.reserve(arguments.size() + 1);
    args.push_back(executable);
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    // glibc reports a failed exec through posix_spawn's result.
    if (::posix_spawn(&pid, executable.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

ILauncher& Launcher()
{
    std::lock_guard lock(g_launcherMutex);
    if (!g_launcher)
        g_launcher = std::make_shared<TPosixLauncher>();
    return *g_launcher;
}

void SetLauncher(std::shared_ptr<ILauncher> launcher)
{
    std::lock_guard lock(g_launcherMutex);
    g_launcher = std::move(launcher);
}

} // namespace tessarin
