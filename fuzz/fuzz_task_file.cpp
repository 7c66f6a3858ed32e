// A batch-mode task file, checked against an installed Firefox with two profiles.

#include "FuzzSupport.h"

#include "config/SharedState.h"
#include "engine/BatchBackup.h"
#include "platform/IniFile.h"
#include "profiles/MozManager.h"

using namespace tessarin;
namespace fs = std::filesystem;

namespace {

std::shared_ptr<TMozManager> Manager()
{
    static const std::shared_ptr<TMozManager> manager = [] {
        auto& env = fuzz::TFuzzEnvironment::Get();
        env.SetRegistry(std::make_shared<TMemoryRegistry>(TMemoryRegistry::FromText(
            "[SOFTWARE\\mozilla\\Mozilla Firefox]\nCurrentVersion=128.5.1esr\n"
            "[SOFTWARE\\mozilla\\Mozilla Firefox\\128.5.1esr\\Main]\n"
            "Install Directory=/usr/lib/firefox-esr\n")));
        const std::string root = env.Home() + ".mozilla/firefox/";
        fuzz::WriteFile(
            root + "profiles.ini",
            "[Profile1]\nName=Work Default\nIsRelative=1\nPath=ab12cd34.Work Default\n\n"
            "[Profile0]\nName=default-esr\nIsRelative=1\nPath=x7k2m9qa.default-esr\n"
            "Default=1\n\n[General]\nStartWithLastProfile=1\nVersion=2\n");
        fuzz::WriteFile(root + "ab12cd34.Work Default/prefs.js", "user_pref(\"a\", 1);\n");
        fuzz::WriteFile(root + "x7k2m9qa.default-esr/prefs.js", "user_pref(\"a\", 1);\n");
        return std::make_shared<TMozManager>(env.Env());
    }();
    return manager;
}

// The check makes the output's folder, one level deep: only below the fuzz home folder
// (a bare file name has no folder and is refused before anything is made).
bool OutputStaysInside(const std::string& text)
{
    const std::string output = Trim(TIniFile::FromText(text).ReadString("General", "output"));
    return output.find("..") == std::string::npos &&
           (output.rfind("~/", 0) == 0 || output.find('/') == std::string::npos);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& env = fuzz::TFuzzEnvironment::Get();
    const std::shared_ptr<TMozManager> manager = Manager();
    env.Reset();
    const std::string text = fuzz::Bytes(data, size);
    if (!OutputStaysInside(text))
        return 0;
    fuzz::WriteFile(env.Scratch() + "task.ini", text);

    TSharedState state(env.Env());
    fuzz::TFuzzUserInterface ui;
    TBatchBackup batch(state, ui);
    batch.InitBatchTask(manager, env.Scratch() + "task.ini");

    // Folders an output made in the home folder go, so the next input starts alike.
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(env.Home(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name != ".mozilla" && name != "Documents")
            fs::remove_all(entry.path(), ec);
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(env.Home() + "Documents", ec))
        fs::remove_all(entry.path(), ec);
    return 0;
}
