// The prefs.js line rules: one line split into key and value, a value rewritten, server
// keys and folder values, and the line reader over the whole input.

#include "FuzzSupport.h"

#include "engine/PrefsParser.h"
#include "engine/PrefsRestore.h"

#include <sstream>

using namespace tessarin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = fuzz::Bytes(data, size);
    std::istringstream in(text);
    TPrefsLineReader reader(in);
    std::string line;
    bool tooLong = false;
    std::size_t seen = 0;
    while (reader.Next(line, tooLong)) {
        seen += line.size();
        if (seen > text.size())
            __builtin_trap();
        const TPrefsLine parsed = ParsePrefsLine(line);
        if (parsed.IsString) {
            if (parsed.ValueBegin > parsed.ValueEnd || parsed.ValueEnd > line.size())
                __builtin_trap();
            ReplaceValue(line, EncodePrefsPath(DecodePrefsPath(parsed.Value)));
        }
        std::string field;
        ServerNumberOfKey(parsed.Key, &field);
    }
    return 0;
}
