// The old suite's binary registry.dat (appreg), from the bytes and from a profile root.

#include "FuzzSupport.h"

#include "config/SharedState.h"
#include "profiles/ProfileDiscovery.h"
#include "profiles/ProfileFiles.h"

using namespace tessarin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& env = fuzz::TFuzzEnvironment::Get();
    env.Reset();
    const std::string bytes = fuzz::Bytes(data, size);
    const TRegistryDatContents contents = ReadRegistryDat(bytes);
    if (!contents.HasProfileNode && !contents.Profiles.empty())
        __builtin_trap();
    for (const TRegistryDatProfile& profile : contents.Profiles)
        if (profile.Name.empty() || profile.Folder.empty())
            __builtin_trap();

    const std::string root = env.Scratch() + "mozilla/";
    fuzz::WriteFile(root + "registry.dat", bytes);
    TSharedState state(env.Env());
    ParseProfileRoot(state, root);
    return 0;
}
