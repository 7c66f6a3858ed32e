// A whole prefs.js through TPrefsParser: accounts, their mail folders, and the mail check.

#include "FuzzSupport.h"

#include "engine/PrefsParser.h"

#include <sstream>

using namespace tessarin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& env = fuzz::TFuzzEnvironment::Get();
    env.Reset();
    const std::string text = fuzz::Bytes(data, size);
    const std::string profile = env.Scratch() + "profile/";
    fuzz::WriteFile(profile + "prefs.js", text);
    std::filesystem::create_directories(profile + "Mail/Local Folders");

    TPrefsParser parser(profile + "prefs.js", false);
    std::istringstream in(text);
    parser.Read(in);
    for (const auto& account : parser.GetAccounts()) {
        if (parser.FindAccount(account->GetNumber()) != account.get())
            __builtin_trap();
        GetMailDirectory(*account, profile);
    }
    try {
        ProfileHasMail(profile);
    } catch (const TPrefsError&) {
    }
    return 0;
}
