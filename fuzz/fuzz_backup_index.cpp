// indexfile.txt as a restore reads it, and the header of a legacy text backup.

#include "FuzzSupport.h"

#include "config/SharedState.h"
#include "engine/BackupFormat.h"

using namespace tessarin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = fuzz::Bytes(data, size);
    for (const bool legacy : {false, true}) {
        const TBackupIndex index = ParseBackupIndex(text, legacy);
        TSharedState state(fuzz::TFuzzEnvironment::Get().Env());
        ApplyIndexToBoxes(index, state);
        // What was read is written again as a backup would write it.
        std::vector<std::string> dirs;
        for (const std::string& dir : index.ExternalMailDirs)
            if (dir.find_first_of("\r\n") == std::string::npos)
                dirs.push_back(dir);
        BuildBackupIndexText(index.AppNumber, state.Boxes, dirs, index.UnknownItems, index.Version);
        CompareVersions(index.Version, "115.8.0esr");
    }
    for (int app = 0; app <= 12; ++app)
        IsLegacyBackupFor(text, app);
    return 0;
}
