#pragma once
// Starting another program (an application asked to create a profile). The caller
// does not wait for it.

#include <memory>
#include <string>
#include <vector>

namespace tessarin {

class ILauncher {
public:
    virtual ~ILauncher() = default;
    // Starts executable (a full path) with the arguments, each passed as one argument.
    // False when it could not be started; what the program does afterwards is not
    // watched.
    virtual bool Start(const std::string& executable,
                       const std::vector<std::string>& arguments) = 0;
};

// posix_spawn with the program's environment. The child is reaped in the background
// so that it leaves no zombie behind.
class TPosixLauncher : public ILauncher {
public:
    bool Start(const std::string& executable, const std::vector<std::string>& arguments) override;
};

// For tests: records each request and answers with Result.
class TRecordingLauncher : public ILauncher {
public:
    struct Request {
        std::string Executable;
        std::vector<std::string> Arguments;
    };
    std::vector<Request> Requests;
    bool Result = true;

    bool Start(const std::string& executable, const std::vector<std::string>& arguments) override
    {
        Requests.push_back({executable, arguments});
        return Result;
    }
};

// The launcher in use: TPosixLauncher unless a test set another. nullptr goes back.
ILauncher& Launcher();
void SetLauncher(std::shared_ptr<ILauncher> launcher);

} // namespace tessarin
