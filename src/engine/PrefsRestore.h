#pragma once
// The restore side of prefs.js: putting mail folders back (outside accounts to the
// very folders they came from) and re-pointing their preferences, then dropping the
// preferences that do not belong to the target application or to the components
// that were not restored. prefs.js is always rewritten into a temporary file beside
// it and renamed into place, so a failure leaves the previous complete file.

#include "config/SharedState.h"
#include "platform/UserInterface.h"

#include <string>
#include <string_view>
#include <vector>

namespace tessarin {

class TZipFactory;

// The line rebuilt with newValue as its string value: the line up to and including
// its first comma, then the text of the rest up to and including its first quote,
// then newValue, a quote and ");". Whatever followed the old value is dropped.
std::string ReplaceValue(std::string_view line, std::string_view newValue);

// Component 2 of a restore into profileDir (ending in the separator): extracts
// "ImapMail", "Mail" and "News" through zip, puts each outside mail folder that the
// backup's index names (state.ExternalMailDirs) and a ".directory" line names back at
// its original absolute path, and rewrites prefs.js so that the accounts point at
// where their mail now is. Folders are compared after normalising them. A folder the
// outside-mail rules refuse is not written: its accounts point at an empty folder in
// the profile instead. Shows LANG_CANNOT_RESTORE_ORIG_EXT for an allowed folder that
// cannot be given back (the line then stays). Throws TPrefsError when prefs.js is
// missing, std::system_error when it cannot be read or replaced.
// Lines for the report (files that could not be written, refused folders, folders no
// account uses) are appended to report. False when the person cancelled a password
// question: nothing more was extracted.
bool RestoreExternalMail(const std::string& profileDir, TZipFactory& zip, TSharedState& state,
                         IUserInterface& ui, std::vector<std::string>& report);

// Last step of every restore: rewrites prefs.js of profileDir without the lines the
// application (state.AppNumber) or the unchosen components (state.Boxes) exclude,
// without empty lines, with CR LF line ends. No prefs.js: nothing happens. A read or
// write failure shows LANG_NOT_FOUND2 and throws TProgramExit{1}; prefs.js is then
// as it was before.
void FilterRestoredPrefs(const std::string& profileDir, const TSharedState& state,
                         IUserInterface& ui);

} // namespace tessarin
