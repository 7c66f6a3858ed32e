#pragma once
// A private program folder and state folder for each test, so no test touches the real
// program folder, the real error log or the user's home.

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <string>

namespace tessarin::test {

class TConfigFixture : public ::testing::Test {
protected:
    std::filesystem::path ProgramPath(const std::string& name) const
    {
        return env_.ProgramFile(name);
    }
    std::filesystem::path WriteProgramFile(const std::string& name, std::string_view content) const
    {
        return env_.WriteProgramFile(name, content);
    }
    std::filesystem::path LogPath() const { return env_.LogPath(); }
    std::string Log() const { return env_.Log(); }

    TTestEnvironment env_;
    const TTempDir& dir_ = env_.Dir();
};

} // namespace tessarin::test
