// The last step of a restore: prefs.js filtered for the target application and the
// restored components. The first two bytes choose the application and the components.

#include "FuzzSupport.h"

#include "config/SharedState.h"
#include "engine/PrefsRestore.h"

using namespace tessarin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    auto& env = fuzz::TFuzzEnvironment::Get();
    env.Reset();
    TSharedState state(env.Env());
    state.AppNumber = static_cast<std::uint8_t>(data[0] % 13);
    const unsigned boxes = data[1] | (data[0] & 0x80 ? 0xFF00u : 0u);
    for (int n = 1; n <= ComponentCount; ++n)
        state.Boxes[n].Checked = (boxes >> (n % 16)) & 1u;
    const std::string profile = env.Scratch() + "profile/";
    fuzz::WriteFile(profile + "prefs.js", fuzz::Bytes(data + 2, size - 2));
    fuzz::TFuzzUserInterface ui;
    try {
        FilterRestoredPrefs(profile, state, ui);
    } catch (const TProgramExit&) {
    }
    return 0;
}
