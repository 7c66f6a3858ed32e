#pragma once
// The names of the running processes, for the check that an application is not
// running while its profile is copied.

#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tessarin {

class IProcessList {
public:
    virtual ~IProcessList() = default;
    // One or two names per process, in the order the system reports the processes.
    virtual std::vector<std::string> Names() const = 0;
};

// Reads /proc (or a folder laid out like it): for each process the base name of its
// executable (the exe link) and, where that differs or the link cannot be read, its
// comm name. Debian's Thunderbird runs thunderbird-bin under the name thunderbird.
// A process that ends while it is being read is left out.
class TProcFsProcessList : public IProcessList {
public:
    explicit TProcFsProcessList(std::filesystem::path procRoot = "/proc");
    std::vector<std::string> Names() const override;

private:
    std::filesystem::path root_;
};

// For tests: answers with the given snapshots one after another; the last one repeats.
class TFixedProcessList : public IProcessList {
public:
    explicit TFixedProcessList(std::vector<std::vector<std::string>> snapshots);
    std::vector<std::string> Names() const override;
    int Calls() const { return calls_; }

private:
    mutable std::deque<std::vector<std::string>> snapshots_;
    mutable int calls_ = 0;
};

} // namespace tessarin
