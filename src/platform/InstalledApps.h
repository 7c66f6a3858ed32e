#pragma once
// The applications installed on this system, as their application.ini files tell:
// what the catalogue learns installations from where no registry view is set.

#include <string>
#include <vector>

namespace tessarin {

// Where installed applications are looked for: each folder of Folders may hold an
// application.ini; so may each direct subfolder of ParentFolders (/opt/<app>).
struct TInstallSearch {
    std::vector<std::string> Folders;
    std::vector<std::string> ParentFolders;
};

// The known installation places of Debian packages, /opt, snaps and flatpaks (system
// and per-user). sysroot is prepended to the system places and home is the user's
// home folder; both exist so the layout can be tested against a fake tree.
TInstallSearch DefaultInstallSearch(const std::string& sysroot, const std::string& home);

// One installation found by its application.ini.
struct TInstalledApplication {
    std::string Name;    // [App] Name=
    std::string Version; // [App] Version=
    std::string Folder;  // the folder holding application.ini, without trailing separator
};

// Every installation under the search places with an [App] Name and a Version, in
// search order. Unreadable or malformed application.ini files are skipped.
std::vector<TInstalledApplication> FindInstalledApplications(const TInstallSearch& search);

} // namespace tessarin
