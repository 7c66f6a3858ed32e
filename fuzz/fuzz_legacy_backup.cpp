// An older plain-text backup chosen for a restore: recognised, its header read, and its
// sections written into a new profile folder.

#include "FuzzSupport.h"

#include "config/SharedState.h"
#include "engine/BackupFileCheck.h"
#include "engine/BackupFormat.h"
#include "engine/RestoreRun.h"

using namespace tessarin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& env = fuzz::TFuzzEnvironment::Get();
    env.Reset();
    const std::string text = fuzz::Bytes(data, size);
    const std::string backup = env.Scratch() + "old backup.txt";
    fuzz::WriteFile(backup, text);

    TSharedState state(env.Env());
    state.Operation = TOperation::Restore;
    state.AppNumber = 1;
    for (int app = 1; app <= 12; ++app)
        if (IsLegacyBackupFor(text, app))
            state.AppNumber = static_cast<std::uint8_t>(app);
    fuzz::TFuzzUserInterface ui;
    try {
        // A file that is no legacy backup is read as one all the same: the restore must
        // cope with whatever the file holds by now.
        CheckBackupFile(backup, state, ui);
        state.BackupFormat = 1;
        state.BackupFile = backup;
        ReadBackupIndex(state, ui);
        state.Boxes[1].Checked = true;
        state.ExternalProfileDir = env.Scratch() + "target";
        RunRestore(state, ui);
    } catch (const TProgramExit&) {
    }
    return 0;
}
