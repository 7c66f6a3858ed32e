#include "engine/BackupTask.h"

#include "archive/ArchiveNames.h"
#include "config/L10n.h"
#include "platform/FileUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tessarin {

namespace {
std::string JoinRelative(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

std::string RealPath(const fs::path& path)
{
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    return ec ? std::string() : real.string();
}
} // namespace

TBackupTask::TBackupTask(std::string root, IUserInterface& ui) : root_(std::move(root)), ui_(ui) {}

std::optional<std::uint64_t> TBackupTask::SizeOf(const std::string& path) const
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt; // missing, vanished, or not a plain file (fifo, socket, device)
    if (!leftOutPaths_.empty() &&
        (leftOut_.contains({st.st_dev, st.st_ino}) || LeftOutByPath(path)))
        return std::nullopt;
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

void TBackupTask::LeaveOut(const std::string& path)
{
    leftOutPaths_.push_back(fs::path(path).lexically_normal().string());
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        leftOut_.emplace(st.st_dev, st.st_ino);
}

bool TBackupTask::LeftOutByPath(const std::string& path) const
{
    const std::string normal = fs::path(path).lexically_normal().string();
    return std::find(leftOutPaths_.begin(), leftOutPaths_.end(), normal) != leftOutPaths_.end();
}

bool TBackupTask::IsLeftOut(const std::string& path) const
{
    if (LeftOutByPath(path))
        return true;
    struct stat st {};
    return !leftOut_.empty() && ::stat(path.c_str(), &st) == 0 &&
           leftOut_.contains({st.st_dev, st.st_ino});
}

void TBackupTask::AddProfileFile(const std::string& name)
{
    if (const auto size = SizeOf(root_ + name)) {
        files_.push_back(name);
        totalSize_ += *size;
    }
}

void TBackupTask::AddExternalFile(const std::string& name, const std::string& root,
                                  const std::string& entryName)
{
    if (const auto size = SizeOf(root + name)) {
        externals_.push_back(TArchiveExternalFile{root, name, entryName});
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
                             const std::string& root, const std::string& storedAs)
{
    TWalk walk;
    walk.Top = folder;
    walk.StoredAs = storedAs;
    // The folder itself may be reached through a link: what counts is where it leads.
    const fs::path dir = folder.empty() ? fs::path(root) : fs::path(root) / folder;
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0)
        walk.Walked.emplace(st.st_dev, st.st_ino);
    walk.Tops.push_back(RealPath(dir));
    Walk(folder, mask, root, walk);
    FollowLinks(root, walk);
}

void TBackupTask::FollowLinks(const std::string& root, TWalk& walk)
{
    // After every real folder: a folder both present and linked keeps its own name,
    // and a link back into the tree (or round in a loop) adds nothing twice.
    for (std::size_t i = 0; i < walk.Links.size(); ++i) {
        const auto [relative, mask] = walk.Links[i]; // a copy: following one may add more
        const fs::path path = fs::path(root) / relative;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            continue; // vanished meanwhile
        const std::string real = RealPath(path);
        if (real.empty() || LeadsBackUp(real, walk.Tops) ||
            !walk.Walked.emplace(st.st_dev, st.st_ino).second) {
            ui_.AddTaskLine(relative + ": " + Text("Messages", "LANG_LINK_NOT_FOLLOWED"));
            continue;
        }
        walk.Tops.push_back(real);
        ui_.ProcessEvents();
        Walk(relative, mask, root, walk);
    }
}

void TBackupTask::Walk(const std::string& folder, const std::string& mask,
                       const std::string& root, TWalk& walk)
{
    const fs::path dir = folder.empty() ? fs::path(root) : fs::path(root) / folder;
    std::error_code ec;
    fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
    if (ec)
        return; // a folder that is not there (or vanished) holds nothing to save

    struct Entry {
        std::string name;
        bool isFolder;
        bool isLink;
    };
    std::vector<Entry> entries;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code kindEc;
        const bool isLink = it->is_symlink(kindEc);
        const bool isFolder = it->is_directory(kindEc); // follows links
        entries.push_back(Entry{it->path().filename().string(), isFolder, isLink});
    }
    // Of two links to one folder, the same one is followed every time.
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });

    // Real folders are walked at once, linked ones after the whole tree.
    auto descend = [&](const Entry& e, const std::string& relative) {
        if (relative.find(".mozmsgs") != std::string::npos)
            return;
        if (e.isLink) {
            walk.Links.emplace_back(relative, mask);
            return;
        }
        struct stat st {};
        const fs::path path = fs::path(root) / relative;
        if (::lstat(path.c_str(), &st) != 0)
            return;
        if (!walk.Walked.emplace(st.st_dev, st.st_ino).second) {
            ui_.AddTaskLine(relative + ": " + Text("Messages", "LANG_LINK_NOT_FOLLOWED"));
            return;
        }
        ui_.ProcessEvents();
        Walk(relative, mask, root, walk);
    };

    bool matched = false;
    for (const Entry& e : entries) {
        if (!NameMatchesMask(e.name, mask))
            continue;
        matched = true;
        const std::string relative = JoinRelative(folder, e.name);
        if (e.isFolder) {
            descend(e, relative);
            continue;
        }
        const std::string full = root + relative;
        if (full.starts_with(root_))
            AddProfileFile(full.substr(root_.size()));
        else if (!walk.StoredAs.empty() && relative.starts_with(walk.Top))
            AddExternalFile(relative, root, walk.StoredAs + relative.substr(walk.Top.size()));
        else
            AddExternalFile(relative, root);
    }

    // A mask that found nothing here is looked for one level further down.
    if (!matched && mask != "*.*") {
        for (const Entry& e : entries)
            if (e.isFolder)
                descend(e, JoinRelative(folder, e.name));
    }
}

} // namespace tessarin
