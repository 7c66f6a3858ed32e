#pragma once
// What the Processing and Report pages show for a run; the user interface draws it.

#include "config/SharedState.h"
#include "platform/UserInterface.h"

namespace tessarin {

// Lists the ticked components of a backup and shows the Processing page.
void ShowProcessingPage(const TSharedState& state, IUserInterface& ui);
// Sets the result text and shows the Report page; in batch mode the program then ends.
void ShowReportPage(const TSharedState& state, IUserInterface& ui, bool batchMode);

} // namespace tessarin
