#pragma once
// Root reads and writes every file, so a test of what a person without rights meets
// proves nothing as root (CI runs as root). Such a test starts with
//     if (RerunUnprivileged()) return;
// As root, the current test then runs again in a child process as "nobody" (setpriv),
// with a temporary folder owned by nobody, and passes when the child passes. The
// checkout may lie where nobody cannot enter (a 0700 folder): the child runs a copy
// of the test program and reads copies of the test data, all in that folder.

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace tessarin::test {

inline bool RerunUnprivileged()
{
    if (::geteuid() != 0) {
        // Tells the parent that the filter found the test.
        if (const char* mark = std::getenv("TESSARIN_RERUN_MARK"))
            std::ofstream{mark};
        return false;
    }
    const passwd* nobody = ::getpwnam("nobody");
    const group* nogroup = ::getgrnam("nogroup");
    if (nobody == nullptr || nogroup == nullptr) {
        ADD_FAILURE() << "no user nobody or group nogroup to run as";
        return true;
    }
    char self[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        ADD_FAILURE() << "cannot find the test program";
        return true;
    }
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter =
        std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();

    TTempDir scratch;
    namespace fs = std::filesystem;
    const fs::path program = scratch.Path() / "bin" / fs::path(self).filename();
    std::error_code ec;
    fs::create_directories(program.parent_path(), ec);
    fs::copy_file(self, program, ec);
    if (!ec)
        fs::copy(TestDataDir(), scratch.Path() / "testdata", fs::copy_options::recursive, ec);
    if (!ec)
        fs::copy(ShippedDataDir(), scratch.Path() / "data", fs::copy_options::recursive, ec);
    if (ec) {
        ADD_FAILURE() << "cannot copy what the unprivileged run needs: " << ec.message();
        return true;
    }
    bool given = ::chown(scratch.Path().c_str(), nobody->pw_uid, nogroup->gr_gid) == 0;
    for (auto it = fs::recursive_directory_iterator(scratch.Path(), ec);
         given && !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        given = ::lchown(it->path().c_str(), nobody->pw_uid, nogroup->gr_gid) == 0;
    if (!given || ec) {
        ADD_FAILURE() << "cannot give the scratch folder to nobody";
        return true;
    }
    const std::string programPath = program.string();
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view var(*e);
        if (var.rfind("TMPDIR=", 0) != 0 && var.rfind("HOME=", 0) != 0)
            env.emplace_back(var);
    }
    const std::string mark = (scratch.Path() / "ran").string();
    env.push_back("TMPDIR=" + scratch.Path().string());
    env.push_back("HOME=" + scratch.Path().string());
    env.push_back("TESSARIN_RERUN_MARK=" + mark);
    env.push_back("TESSARIN_TEST_DATA_COPY=" + (scratch.Path() / "testdata").string());
    env.push_back("TESSARIN_SHIPPED_DATA_COPY=" + (scratch.Path() / "data").string());
    std::vector<std::string> args = {
        "setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", programPath, filter};
    std::vector<char*> argv, envp;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    // Its working folder too may be one nobody cannot enter.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addchdir_np(&actions, scratch.Path().c_str());
    pid_t pid = 0;
    const int started = ::posix_spawnp(&pid, "setpriv", &actions, nullptr, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (started != 0) {
        ADD_FAILURE() << "cannot start setpriv";
        return true;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the test failed as nobody (its output is above)";
    EXPECT_TRUE(std::filesystem::exists(mark)) << "the test did not run as nobody";
    return true;
}

} // namespace tessarin::test
