#include "platform/Launcher.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace tessarin {

namespace {
std::optional<pid_t> Spawn(const std::string& executable, const std::vector<std::string>& arguments)
{
    if (executable.empty())
        return std::nullopt;
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
        return std::nullopt;
    return pid;
}

int ExitCodeOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

} // namespace

TRunResult TPosixLauncher::Run(const std::string& executable,
                               const std::vector<std::string>& arguments,
                               std::chrono::milliseconds timeout)
{
    using namespace std::chrono_literals;
    const std::optional<pid_t> pid = Spawn(executable, arguments);
    if (!pid)
        return {};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Short pauses first: creating a profile usually takes well under a second.
    std::chrono::milliseconds pause = 1ms;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(*pid, &status, WNOHANG);
        if (done == *pid)
            return {TRunResult::TStatus::Exited, ExitCodeOf(status)};
        if (done < 0 && errno != EINTR)
            return {TRunResult::TStatus::Exited, -1}; // reaped elsewhere: ended, status unknown
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            break;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    std::thread([pid = *pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return {TRunResult::TStatus::TimedOut, -1};
}

} // namespace tessarin
