// chrome/chrome.rdf of an older profile, rewritten for the restored profile's folder.

#include "FuzzSupport.h"

#include "engine/ChromeRegistry.h"

#include <system_error>

using namespace tessarin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& env = fuzz::TFuzzEnvironment::Get();
    env.Reset();
    const std::string text = fuzz::Bytes(data, size);
    const std::string profile = env.Scratch() + "restored.profile/";
    fuzz::WriteFile(profile + "chrome/chrome.rdf", text);
    try {
        RewriteChromeRegistry(profile);
    } catch (const std::system_error&) {
    }
    RewriteChromeLine(text, profile);
    return 0;
}
