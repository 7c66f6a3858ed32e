#include "engine/BackupTask.h"

#include "archive/ArchiveNames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tessarin {

namespace {
std::string JoinRelative(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}
} // namespace

bool MatchesMask(const std::string& name, const std::string& mask)
{
    if (mask == "*.*" || mask == "*")
        return true;
    return ::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

TBackupTask::TBackupTask(std::string root, IUserInterface& ui) : root_(std::move(root)), ui_(ui) {}

std::optional<std::uint64_t> TBackupTask::SizeOf(const std::string& path) const
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt; // missing, vanished, or not a plain file (fifo, socket, device)
    // Open it now: a file we cannot read would otherwise break the archive half-way.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw TRunError("Cannot open file " + path + ": " + std::strerror(errno));
    }
    ::close(fd);
    return static_cast<std::uint64_t>(st.st_size);
}

void TBackupTask::AddProfileFile(const std::string& name)
{
    if (const auto size = SizeOf(root_ + name)) {
        files_.push_back(name);
        totalSize_ += *size;
    }
}

void TBackupTask::AddExternalFile(const std::string& name, const std::string& root)
{
    if (const auto size = SizeOf(root + name)) {
        externals_.push_back(TBackupTaskExternal{root, name});
        totalSize_ += *size;
    }
}

void TBackupTask::AddFolder(const std::string& folder, const std::string& mask)
{
    WalkFolder(folder, mask, root_);
}

void TBackupTask::AddSubfolders(const std::string& parent, const std::string& mask)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(root_) / parent,
                                   fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code kindEc;
        if (it->is_symlink(kindEc) || !it->is_directory(kindEc))
            continue;
        const std::string name = it->path().filename().string();
        // Matched as the restore matches the stored names.
        if (NameMatchesMask(name, mask))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        ui_.ProcessEvents();
        WalkFolder(JoinRelative(parent, name), "*.*", root_);
    }
}

void TBackupTask::WalkFolder(const std::string& folder, const std::string& mask,
                             const std::string& root)
{
    const fs::path dir = folder.empty() ? fs::path(root) : fs::path(root) / folder;
    std::error_code ec;
    fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
    if (ec)
        return; // a folder that is not there (or vanished) holds nothing to save

    struct Entry {
        std::string name;
        bool isFolder;
    };
    std::vector<Entry> entries;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        // Symbolic links to folders are not followed: they could lead out of the
        // tree or round in a loop.
        const bool isLink = it->is_symlink(ec);
        const bool isFolder = !isLink && it->is_directory(ec);
        entries.push_back(Entry{it->path().filename().string(), isFolder});
    }

    bool matched = false;
    for (const Entry& e : entries) {
        if (!MatchesMask(e.name, mask))
            continue;
        matched = true;
        const std::string relative = JoinRelative(folder, e.name);
        if (e.isFolder) {
            ui_.ProcessEvents();
            if (relative.find(".mozmsgs") == std::string::npos)
                WalkFolder(relative, mask, root);
            continue;
        }
        const std::string full = root + relative;
        if (full.rfind(root_, 0) == 0)
            AddProfileFile(full.substr(root_.size()));
        else
            AddExternalFile(relative, root);
    }

    // A mask that found nothing here is looked for one level further down.
    if (!matched && mask != "*.*") {
        for (const Entry& e : entries) {
            if (!e.isFolder)
                continue;
            const std::string relative = JoinRelative(folder, e.name);
            if (relative.find(".mozmsgs") != std::string::npos)
                continue;
            ui_.ProcessEvents();
            WalkFolder(relative, mask, root);
        }
    }
}

} // namespace tessarin
