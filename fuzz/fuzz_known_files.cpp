// Profilefiles.txt, the list of names the components account for, and the unknown
// items it leaves in a small profile.

#include "FuzzSupport.h"

#include "engine/UnknowFilesBL.h"

#include <ios>

using namespace tessarin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& env = fuzz::TFuzzEnvironment::Get();
    env.Reset();
    const std::string list = env.Scratch() + "Profilefiles.txt";
    fuzz::WriteFile(list, fuzz::Bytes(data, size));
    const std::string profile = env.Scratch() + "profile/";
    for (const char* file : {"prefs.js", "places.sqlite", "notes.txt", "Prefs.js"})
        fuzz::WriteFile(profile + file, "x");
    for (const char* folder : {"Mail", "extensions", "my-scripts"})
        std::filesystem::create_directories(profile + folder);

    try {
        const TUnknowFilesBL known(list);
        for (const TUnknowItem& item : known.FindUnknownItems(profile)) {
            if (known.IsKnown(item.GetName(), item.IsFolder()))
                __builtin_trap();
            UnknownItemLine(item);
        }
    } catch (const std::ios_base::failure&) {
    }
    return 0;
}
