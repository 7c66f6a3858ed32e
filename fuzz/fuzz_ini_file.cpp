// The INI reader behind Backup.ini, task files, profiles.ini and the language file, and
// the registry text built on it.

#include "FuzzSupport.h"

#include "platform/IniFile.h"
#include "platform/RegistryView.h"

using namespace tessarin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = fuzz::Bytes(data, size);
    const TIniFile ini = TIniFile::FromText(text);
    for (const std::string& section : ini.SectionNames()) {
        ini.SectionExists(section);
        for (const std::string& key : ini.KeyNames(section)) {
            const std::string value = ini.ReadString(section, key);
            if (value.size() > TIniFile::MaxValueLength)
                __builtin_trap();
            ini.KeyExists(section, key);
        }
    }
    ini.ReadString("General", "action", "none");

    const TMemoryRegistry registry = TMemoryRegistry::FromText(text);
    for (const std::string& section : ini.SectionNames()) {
        registry.KeyExists(section);
        for (const std::string& child : registry.SubKeyNames(section))
            registry.KeyExists(section + "\\" + child);
        for (const std::string& key : ini.KeyNames(section))
            registry.ReadString(section, key);
    }
    return 0;
}
