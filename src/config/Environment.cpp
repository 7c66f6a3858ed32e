#include "config/Environment.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

// Archive workers read it while the program runs; it changes only around a run.
std::atomic<const TEnvironment*> g_current{nullptr};

} // namespace

std::string TEnvironment::SettingsFile() const
{
    // The user's own file wins over the administrator's in the program folder.
    const fs::path user = Folders.Config + "Backup.ini";
    std::error_code ec;
    if (fs::status(user, ec).type() != fs::file_type::not_found)
        return user.string();
    return Folders.Program + "Backup.ini";
}

std::vector<std::string> CommandLineArguments(int argc, const char* const* argv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    return arguments;
}

TEnvironment SystemEnvironment(std::vector<std::string> arguments)
{
    TEnvironment env;
    env.Folders = DetectFolders();
    env.KeyStore = std::make_shared<TIniKeyStore>(fs::path(env.Folders.Config) / "registry.ini");
    env.Launcher = std::make_shared<TPosixLauncher>();
    // A test that runs the built program points it at a process folder of its own, so
    // that an application the developer has open is not taken for the test's.
    const char* root = std::getenv("TESSARIN_PROC_ROOT");
    env.Processes =
        std::make_shared<TProcFsProcessList>(root != nullptr && *root != '\0' ? root : "/proc");
    env.Language = std::make_shared<Tl10n>(env.Folders.Program + "Default.lng");
    env.Arguments = std::move(arguments);
    return env;
}

const TEnvironment& CurrentEnvironment()
{
    if (const TEnvironment* env = g_current.load())
        return *env;
    static const TEnvironment system = SystemEnvironment();
    return system;
}

TCurrentEnvironment::TCurrentEnvironment(const TEnvironment& env) : previous_(g_current.load())
{
    g_current = &env;
}

TCurrentEnvironment::~TCurrentEnvironment()
{
    g_current = previous_;
}

} // namespace tessarin
