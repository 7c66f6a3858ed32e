#pragma once
// The list of files one backup stores: profile files by their profile-relative
// names, files of outside mail folders by root and relative name, and their size.

#include "archive/ZipFactory.h"
#include "platform/UserInterface.h"

#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace tessarin {

// A failure with a message of its own, shown to the person before the run ends.
class TRunError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TBackupTask {
public:
    // root: the profile folder, ending in the separator. ui is pumped during walks.
    TBackupTask(std::string root, IUserInterface& ui);

    // Adds the file when it exists as a regular file; throws TRunError when it
    // exists but cannot be opened for reading.
    void AddProfileFile(const std::string& name);
    void AddExternalFile(const std::string& name, const std::string& root,
                         const std::string& entryName = {});
    void AddFolder(const std::string& folder, const std::string& mask);
    // Every file below each sub-folder of parent whose own name matches mask, sub-folders
    // in name order. Files beside them and linked folders are left alone.
    void AddSubfolders(const std::string& parent, const std::string& mask);
    // Links to folders are followed, each folder once: a link to a folder this walk
    // has met already (a loop, a link back up the tree) is named in a task line.
    // storedAs, when given, replaces folder in the stored names of outside files.
    void WalkFolder(const std::string& folder, const std::string& mask, const std::string& root,
                    const std::string& storedAs = {});
    // The file at path (the backup being written, its temporary file) is never
    // added, whatever name or link leads to it.
    void LeaveOut(const std::string& path);
    bool IsLeftOut(const std::string& path) const;

    const std::string& Root() const { return root_; }
    const std::vector<std::string>& Files() const { return files_; }
    std::vector<std::string> TakeFiles() { return std::move(files_); }
    const std::vector<TArchiveExternalFile>& Externals() const { return externals_; }
    std::uint64_t TotalSize() const { return totalSize_; }

private:
    struct TWalk {
        std::set<std::pair<dev_t, ino_t>> Walked;
        std::vector<std::pair<std::string, std::string>> Links; // relative name, mask
        std::vector<std::string> Tops; // where the tree and each followed link lead
        std::string Top;      // the folder the walk started from
        std::string StoredAs; // its stored name, when another
    };
    void Walk(const std::string& folder, const std::string& mask, const std::string& root,
              TWalk& walk);
    void FollowLinks(const std::string& root, TWalk& walk);
    bool LeftOutByPath(const std::string& path) const;
    // Size of a regular file, or nothing when there is no such file.
    std::optional<std::uint64_t> SizeOf(const std::string& path) const;

    std::string root_;
    IUserInterface& ui_;
    std::vector<std::string> files_;
    std::vector<TArchiveExternalFile> externals_;
    std::uint64_t totalSize_ = 0;
    std::vector<std::string> leftOutPaths_;
    std::set<std::pair<dev_t, ino_t>> leftOut_;
};

} // namespace tessarin
