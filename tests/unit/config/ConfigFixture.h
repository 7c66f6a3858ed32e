#pragma once
// A private program folder and state folder for each test, so no test touches the real
// program folder, the real error log or the user's home.

#include "config/L10n.h"
#include "platform/Folders.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tessarin::test {

class TConfigFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = Folders();
        std::filesystem::create_directories(dir_.Path() / "program");
        TFolders f;
        f.Home = dir_.Folder() + "home/";
        f.Documents = f.Home;
        f.Program = dir_.Folder() + "program/";
        f.State = dir_.Folder() + "state/tessarin/";
        f.Config = dir_.Folder() + "config/tessarin/";
        SetFolders(f);
        SetLanguage(std::make_shared<Tl10n>(ProgramPath("Default.lng")));
    }
    void TearDown() override
    {
        SetLanguage(nullptr);
        SetFolders(saved_);
    }

    std::filesystem::path ProgramPath(const std::string& name) const
    {
        return dir_.Path() / "program" / name;
    }
    std::filesystem::path WriteProgramFile(const std::string& name, std::string_view content) const
    {
        return dir_.Write("program/" + name, content);
    }
    std::filesystem::path LogPath() const { return dir_.Path() / "state/tessarin/error.log"; }
    std::string Log() const { return ReadFile(LogPath()); }

    TTempDir dir_;

private:
    TFolders saved_;
};

} // namespace tessarin::test
