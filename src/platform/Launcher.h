#pragma once
// Running another program (an application asked to create a profile) and waiting,
// for a limited time, until it ends.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tessarin {

// How a program started with ILauncher::Run ended.
struct TRunResult {
    enum class TStatus {
        NotStarted, // missing, not executable, or refused by the system
        Exited,
        TimedOut, // still running when the time was up; left to run on its own
    };
    TStatus Status = TStatus::NotStarted;
    int ExitCode = -1; // Exited: the exit status, 128 + the signal's number when killed
};

class ILauncher {
public:
    virtual ~ILauncher() = default;
    // Starts executable (a full path) with the arguments, each passed as one argument,
    // and waits at most timeout for it to end.
    virtual TRunResult Run(const std::string& executable, const std::vector<std::string>& arguments,
                           std::chrono::milliseconds timeout) = 0;
};

// posix_spawn with the program's environment. A program still running at the time-out
// is reaped in the background so that it leaves no zombie behind.
class TPosixLauncher : public ILauncher {
public:
    TRunResult Run(const std::string& executable, const std::vector<std::string>& arguments,
                   std::chrono::milliseconds timeout) override;
};

// For tests: records each request; Application, when set, plays the started program
// (writes what it would write) before Outcome is answered. Started = false answers
// NotStarted without playing it.
class TRecordingLauncher : public ILauncher {
public:
    struct Request {
        std::string Executable;
        std::vector<std::string> Arguments;
        std::chrono::milliseconds Timeout{0};
    };
    std::vector<Request> Requests;
    bool Started = true;
    std::function<void(const Request&)> Application;
    TRunResult Outcome{TRunResult::TStatus::Exited, 0};

    TRunResult Run(const std::string& executable, const std::vector<std::string>& arguments,
                   std::chrono::milliseconds timeout) override
    {
        Requests.push_back({executable, arguments, timeout});
        if (!Started)
            return {};
        if (Application)
            Application(Requests.back());
        return Outcome;
    }
};

} // namespace tessarin
