#include "platform/FileUtil.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <regex>
#include <signal.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tessarin {

fs::path TemporarySibling(const fs::path& target)
{
    static std::atomic<unsigned> counter{0};
    const std::string prefix = ".tsr-" + std::to_string(::getpid()) + "-";
    for (;;) {
        // A dead process with our number may have left one: libzip would open that
        // as the archive to add to.
        fs::path candidate = target.parent_path() / (prefix + std::to_string(counter++));
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(candidate, ec)))
            return candidate;
    }
}

bool IsStaleTemporaryName(std::string_view name)
{
    if (name.size() < 2 || name.front() != '.')
        return false;
    static const std::regex patterns[] = {
        std::regex(R"(\.tsr-([0-9]{1,10})-[0-9]+(\.[A-Za-z0-9]{6})?)"),
        std::regex(R"(\..+\.tmp-([0-9]{1,10})-[0-9]+(\.[A-Za-z0-9]{6})?)"),
        std::regex(R"(\.tessarin-([0-9]{1,10})-[0-9]+\.part)"),
    };
    for (const std::regex& pattern : patterns) {
        std::match_results<std::string_view::const_iterator> match;
        if (!std::regex_match(name.begin(), name.end(), match, pattern))
            continue;
        long long pid = 0;
        const auto digits = match[1];
        std::from_chars(&*digits.first, &*digits.first + digits.length(), pid);
        // kill() with 0 or below signals whole groups; 1 is init and always there.
        if (pid <= 1 || pid > INT_MAX || pid == ::getpid())
            return false;
        return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
    }
    return false;
}

int RemoveStaleTemporaries(const fs::path& folder)
{
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path path = it->path();
        if (!IsStaleTemporaryName(path.filename().string()))
            continue;
        // Only plain files of our own: never a folder, a link, or another user's file.
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        if (::unlink(path.c_str()) == 0)
            ++removed;
    }
    return removed;
}

bool LeadsBackUp(const std::string& target, const std::vector<std::string>& tops)
{
    return std::any_of(tops.begin(), tops.end(), [&](const std::string& top) {
        return top == target || target == "/" ||
               (top.size() > target.size() && top.starts_with(target) && top[target.size()] == '/');
    });
}

TPrivateTempDir::TPrivateTempDir()
{
    std::string tmpl = (fs::temp_directory_path() / "tessarin-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "cannot create a temporary folder");
    folder_ = tmpl + "/";
}

TPrivateTempDir::~TPrivateTempDir()
{
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

bool WriteFileAtomically(const fs::path& linkOrFile, std::string_view data, std::error_code& ec)
{
    ec.clear();
    // Renaming over a link would put a plain file in its place and leave the linked
    // file (a dotfiles copy, say) stale: write beside the file the link leads to.
    fs::path target = linkOrFile;
    std::error_code linkEc;
    if (fs::is_symlink(fs::symlink_status(linkOrFile, linkEc)))
        if (fs::path resolved = fs::canonical(linkOrFile, linkEc); !linkEc)
            target = std::move(resolved);
    // What killed runs left here would otherwise stay for good.
    RemoveStaleTemporaries(target.parent_path().empty() ? fs::path(".") : target.parent_path());
    const fs::path temp = TemporarySibling(target);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        ec.assign(errno, std::generic_category());
        return false;
    }
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ec.assign(errno, std::generic_category());
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (!ec && ::fsync(fd) != 0)
        ec.assign(errno, std::generic_category());
    if (::close(fd) != 0 && !ec)
        ec.assign(errno, std::generic_category());
    // Keep the permissions of a file we replace.
    if (!ec) {
        std::error_code permEc;
        const auto st = fs::status(target, permEc);
        if (!permEc && fs::exists(st))
            fs::permissions(temp, st.permissions(), permEc);
        fs::rename(temp, target, ec);
    }
    if (ec) {
        std::error_code ignored;
        fs::remove(temp, ignored);
        return false;
    }
    return true;
}

std::string NormalPath(const std::string& path)
{
    std::string out = fs::path(path).lexically_normal().string();
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

bool ReadWholeFile(const fs::path& path, std::string& data, std::error_code& ec)
{
    ec.clear();
    // Plain system calls: a stream would read a folder, or a file whose read fails
    // half-way, as a shorter file without a word.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ec.assign(errno, std::generic_category());
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        ec.assign(error, std::generic_category());
        return false;
    }
    std::string buffer;
    if (S_ISREG(st.st_mode) && st.st_size > 0)
        buffer.reserve(static_cast<std::size_t>(st.st_size));
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ec.assign(errno, std::generic_category());
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    data = std::move(buffer);
    return true;
}

} // namespace tessarin
