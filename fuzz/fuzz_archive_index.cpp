// A whole .pcv archive chosen for a restore: opened through TZipFactory, its index taken
// out into a private folder and read.

#include "FuzzSupport.h"

#include "config/SharedState.h"
#include "engine/BackupFileCheck.h"

using namespace tessarin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto& env = fuzz::TFuzzEnvironment::Get();
    env.Reset();
    const std::string archive = env.Scratch() + "backup.pcv";
    fuzz::WriteFile(archive, fuzz::Bytes(data, size));

    TSharedState state(env.Env());
    state.Operation = TOperation::Restore;
    state.AppNumber = 2;
    fuzz::TFuzzUserInterface ui;
    try {
        if (CheckBackupFile(archive, state, ui)) {
            state.BackupFile = archive;
            ReadBackupIndex(state, ui);
        }
    } catch (const TProgramExit&) {
    }
    return 0;
}
