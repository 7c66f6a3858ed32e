#pragma once
// The list of files one backup stores: profile files by their profile-relative
// names, files of outside mail folders by root and relative name, and their size.

#include "platform/UserInterface.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tessarin {

// A failure with a message of its own, shown to the person before the run ends.
class TRunError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TBackupTaskExternal {
    std::string Root;         // ends in the separator
    std::string RelativeName; // mail folder's own name, '/', path inside it
};

class TBackupTask {
public:
    // root: the profile folder, ending in the separator. ui is pumped during walks.
    TBackupTask(std::string root, IUserInterface& ui);

    // Adds the file when it exists as a regular file; throws TRunError when it
    // exists but cannot be opened for reading.
    void AddProfileFile(const std::string& name);
    void AddExternalFile(const std::string& name, const std::string& root);
    void AddFolder(const std::string& folder, const std::string& mask);
    // Every file below each sub-folder of parent whose own name matches mask, sub-folders
    // in name order. Files beside them and linked folders are left alone.
    void AddSubfolders(const std::string& parent, const std::string& mask);
    void WalkFolder(const std::string& folder, const std::string& mask, const std::string& root);

    const std::string& Root() const { return root_; }
    const std::vector<std::string>& Files() const { return files_; }
    const std::vector<TBackupTaskExternal>& Externals() const { return externals_; }
    std::uint64_t TotalSize() const { return totalSize_; }

private:
    // Size of a regular file, or nothing when there is no such file.
    std::optional<std::uint64_t> SizeOf(const std::string& path) const;

    std::string root_;
    IUserInterface& ui_;
    std::vector<std::string> files_;
    std::vector<TBackupTaskExternal> externals_;
    std::uint64_t totalSize_ = 0;
};

// Whether name matches a mask as the Windows file functions match it: "*.*" takes
// every name, other masks compare without regard to case.
bool MatchesMask(const std::string& name, const std::string& mask);

} // namespace tessarin
