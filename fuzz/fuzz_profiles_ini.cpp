// profiles.ini as the profile list reads it, from the text and from a profile root.

#include "FuzzSupport.h"

#include "config/SharedState.h"
#include "profiles/ProfileDiscovery.h"
#include "profiles/ProfileFiles.h"

using namespace tessarin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& env = fuzz::TFuzzEnvironment::Get();
    env.Reset();
    const std::string text = fuzz::Bytes(data, size);
    const std::string root = env.Scratch() + "firefox/";
    for (const TProfilesIniEntry& entry : ReadProfilesIni(text)) {
        if (const auto folder = ResolveProfileFolder(root, entry.Path, entry.IsRelative != 0)) {
            // What comes back must lie below the root or be absolute elsewhere, never the root.
            if (*folder + "/" == root)
                __builtin_trap();
        }
    }
    fuzz::WriteFile(root + "profiles.ini", text);
    TSharedState state(env.Env());
    ParseProfileRoot(state, root);
    for (const std::string& entry : state.ProfileList)
        ResolveSelectedProfile(state, entry);
    return 0;
}
