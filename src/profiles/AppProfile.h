#pragma once
// One profile of an application on the object road (batch mode).

#include <string>

namespace tessarin {

class TAppProfile {
public:
    TAppProfile(std::string name, std::string relativePath, std::string path)
        : name_(std::move(name)), relativePath_(std::move(relativePath)), path_(std::move(path))
    {
    }

    const std::string& GetName() const { return name_; }
    // Relative to the profile root, or as stored when it lies elsewhere.
    const std::string& GetRelativePath() const { return relativePath_; }
    // The full profile folder.
    const std::string& GetPath() const { return path_; }

private:
    std::string name_;
    std::string relativePath_;
    std::string path_;
};

} // namespace tessarin
