#pragma once
// What the Processing and Report pages show for a run; the user interface draws it.

#include "config/SharedState.h"
#include "platform/UserInterface.h"

namespace tessarin {

// Lists the ticked components of a backup and shows the Processing page.
void ShowProcessingPage(const TSharedState& state, IUserInterface& ui);
// Sets the result text and shows the Report page. It never ends the program: batch
// mode decides its exit status once, when everything after the run is done too.
void ShowReportPage(const TSharedState& state, IUserInterface& ui);

} // namespace tessarin
