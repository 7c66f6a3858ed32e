#pragma once
// One restore: writes the chosen components of a backup (archive or legacy text)
// into the target profile, puts outside mail folders back, rewrites chrome.rdf and
// prefs.js to fit, and ends on the Report page.

#include "config/SharedState.h"
#include "platform/UserInterface.h"

#include <istream>
#include <string>

namespace tessarin {

// The whole run. A fatal failure shows its messages and throws TProgramExit{1}.
void RunRestore(TSharedState& state, IUserInterface& ui);

} // namespace tessarin
