#pragma once
// Copies one of the real-shaped profiles of tests/data/profiles-real into a test's
// temporary folder and fills in the absolute paths its prefs.js needs.

#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace tessarin::test {

struct TRealProfile {
    std::filesystem::path Profile; // the copied profile folder
    std::filesystem::path Outside; // the copied "outside" folder; empty when the fixture has none
    // The profile folder as the core holds it: ending in the separator.
    std::string Folder() const { return Profile.string() + "/"; }
};

// app: "firefox" or "thunderbird". The profile goes to dir/profileName and the
// fixture's "outside" folder, when it has one, to dir/outside. "@PROFILE@" and
// "@OUTSIDE@" in prefs.js become those two paths.
inline TRealProfile CopyRealProfile(const std::string& app, const std::filesystem::path& dir,
                                    const std::string& profileName = "x7k2m9qa.default-esr")
{
    namespace fs = std::filesystem;
    const fs::path source = TestDataDir() / "profiles-real" / app;
    TRealProfile out;
    out.Profile = dir / profileName;
    fs::create_directories(dir);
    fs::copy(source / "profile", out.Profile, fs::copy_options::recursive);
    if (fs::exists(source / "outside")) {
        out.Outside = dir / "outside";
        fs::copy(source / "outside", out.Outside, fs::copy_options::recursive);
    }

    const fs::path prefs = out.Profile / "prefs.js";
    std::string text = ReadFile(prefs);
    auto replaceAll = [&text](const std::string& what, const std::string& with) {
        for (std::size_t pos = 0; (pos = text.find(what, pos)) != std::string::npos;
             pos += with.size())
            text.replace(pos, what.size(), with);
    };
    replaceAll("@PROFILE@", out.Profile.string());
    replaceAll("@OUTSIDE@", out.Outside.string());
    std::ofstream(prefs, std::ios::binary | std::ios::trunc) << text;
    return out;
}

} // namespace tessarin::test
