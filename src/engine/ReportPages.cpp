#include "engine/ReportPages.h"

#include "config/L10n.h"

#include <string>

namespace tessarin {

void ShowProcessingPage(const TSharedState& state, IUserInterface& ui)
{
    if (state.Operation == TOperation::Backup) {
        ui.AddTaskLine(Text("Tessarin14", "LANG_BACKUP_PARTS"));
        for (int n = 1; n <= ComponentCount; ++n)
            if (state.Boxes[n].Checked)
                ui.AddTaskLine("- " + Text("TForm1", "LANG_CHECKBOX" + std::to_string(n)));
        ui.SetTaskText(Text("Tessarin14", "LANG_DISK_SPACE_CALCULATE"));
    }
    ui.ShowPage(TPage::Processing);
}

void ShowReportPage(const TSharedState& state, IUserInterface& ui)
{
    // A restore that could not write everything keeps its lines: they say what is missing.
    if (state.Operation == TOperation::Restore && state.BackupFailed)
        ui.SetReport(Text("Tessarin15", "LANG_RESTORE_FAILED"), true, true);
    else if (state.Operation == TOperation::Restore)
        ui.SetReport(Text("TForm1", "LANG_BACKUP_RESTOR"), false, true);
    else if (state.BackupFailed)
        ui.SetReport(Text("TForm1", "LANG_BACKUP_FAILED"), true, false);
    else
        ui.SetReport(Text("TForm1", "LANG_MEMO3"), false, true);
    ui.ShowPage(TPage::Report);
}

} // namespace tessarin
