#include "platform/FileUtil.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tessarin {

fs::path TemporarySibling(const fs::path& target)
{
    static std::atomic<unsigned> counter{0};
    const std::string name = "." + target.filename().string() + ".tmp-" +
                             std::to_string(::getpid()) + "-" + std::to_string(counter++);
    return target.parent_path() / name;
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

bool WriteFileAtomically(const fs::path& target, std::string_view data, std::error_code& ec)
{
    ec.clear();
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

bool ReadWholeFile(const fs::path& path, std::string& data, std::error_code& ec)
{
    ec.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
        if (fs::exists(path))
            ec = std::make_error_code(std::errc::permission_denied);
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        ec = std::make_error_code(std::errc::io_error);
        return false;
    }
    data = buffer.str();
    return true;
}

} // namespace tessarin
