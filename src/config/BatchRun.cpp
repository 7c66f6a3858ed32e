#include "config/BatchRun.h"

#include "config/BatchMode.h"

namespace tessarin {

// The task-file reader and the backup run behind it are not part of this build yet.
// Until they are, a batch start fails visibly instead of pretending to have made a backup.
int RunBatchBackup(TSharedState&, IUserInterface& ui, const std::string& taskFile)
{
    if (!CheckRequiredFiles(ui))
        return 1;
    ui.ErrorBox("Tessarin", "Batch backup is not available in this version of Tessarin; no backup "
                            "was made for task file \"" +
                                taskFile + "\".");
    return 1;
}

} // namespace tessarin
