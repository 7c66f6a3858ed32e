// A language file (Default.lng or a translation) looked up as the wizard does.

#include "FuzzSupport.h"

#include "config/L10n.h"

#include <stdexcept>

using namespace tessarin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& env = fuzz::TFuzzEnvironment::Get();
    env.Reset();
    const std::string file = env.Scratch() + "Default.lng";
    fuzz::WriteFile(file, fuzz::Bytes(data, size));

    const Tl10n language(file);
    language.GetText("TForm1", "LANG_WARNING");
    language.GetTextWithArg("LANG_SECTION_TESSARIN15", "LANG_CMD_CONFIG_NOT_FOUND", "task.ini");
    language.GetTextWithArgs("Tessarin15", "LANG_NEWER_BACKUP", "%s 128.0", "115.0");
    const std::string font = language.GetUsableFontName();
    if (font.size() > 4 * MaxFontNameLength)
        __builtin_trap();
    try {
        language.GetFontCharset();
    } catch (const std::invalid_argument&) {
    }
    return 0;
}
