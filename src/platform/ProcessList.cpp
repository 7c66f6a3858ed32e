#include "platform/ProcessList.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

bool IsPid(const std::string& name)
{
    return !name.empty() &&
           std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// readlink of /proc/<pid>/exe; the kernel appends " (deleted)" when the file was
// replaced, which happens to a running browser after a package upgrade.
bool ReadExeName(const fs::path& link, std::string& name)
{
    char buffer[4096];
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
    if (n <= 0)
        return false;
    std::string target(buffer, static_cast<std::size_t>(n));
    const std::string deleted = " (deleted)";
    if (target.size() > deleted.size() && target.ends_with(deleted))
        target.resize(target.size() - deleted.size());
    const std::size_t slash = target.find_last_of('/');
    name = slash == std::string::npos ? target : target.substr(slash + 1);
    return !name.empty();
}

bool ReadComm(const fs::path& file, std::string& name)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[256];
    ssize_t n;
    do {
        n = ::read(fd, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n <= 0)
        return false;
    name.assign(buffer, static_cast<std::size_t>(n));
    while (!name.empty() && (name.back() == '\n' || name.back() == '\0'))
        name.pop_back();
    return !name.empty();
}

} // namespace

TProcFsProcessList::TProcFsProcessList(fs::path procRoot) : root_(std::move(procRoot)) {}

std::vector<std::string> TProcFsProcessList::Names() const
{
    std::vector<std::pair<long long, fs::path>> pids;
    std::error_code ec;
    for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (IsPid(name) && name.size() < 18)
            pids.emplace_back(std::stoll(name), it->path());
    }
    // The kernel lists /proc by pid; keep that order for fake trees too.
    std::sort(pids.begin(), pids.end());

    std::vector<std::string> names;
    for (const auto& [pid, folder] : pids) {
        std::string exe;
        std::string comm;
        const bool haveExe = ReadExeName(folder / "exe", exe);
        const bool haveComm = ReadComm(folder / "comm", comm);
        if (haveExe)
            names.push_back(exe);
        if (haveComm && (!haveExe || comm != exe))
            names.push_back(comm);
    }
    return names;
}

TFixedProcessList::TFixedProcessList(std::vector<std::vector<std::string>> snapshots)
    : snapshots_(snapshots.begin(), snapshots.end())
{
}

std::vector<std::string> TFixedProcessList::Names() const
{
    ++calls_;
    if (snapshots_.empty())
        return {};
    std::vector<std::string> names = snapshots_.front();
    if (snapshots_.size() > 1)
        snapshots_.pop_front();
    return names;
}

} // namespace tessarin
