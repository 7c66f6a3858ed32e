#include "engine/UnknowFilesBL.h"

#include "config/L10n.h"
#include "engine/Components.h"
#include "platform/AsciiCase.h"
#include "platform/Folders.h"
#include "platform/IniFile.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <ios>
#include <system_error>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

// Folder entries are written as the folder name followed by "\*.*"; probes get the
// same ending so one comparison serves files and folders.
constexpr std::string_view FolderSuffix = "\\*.*";

std::string Probe(const std::string& name, bool isFolder)
{
    return isFolder ? name + std::string(FolderSuffix) : name;
}

} // namespace

fs::path KnownFileListPath(const TFolders& folders)
{
    const fs::path folder = folders.Program;
    const fs::path preferred = folder / "Profilefiles.txt";
    std::error_code ec;
    if (fs::is_regular_file(preferred, ec))
        return preferred;
    // Windows does not tell upper from lower case in file names; a copy made there
    // may carry any spelling.
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (EqualsNoCase(it->path().filename().string(), "profilefiles.txt") &&
            it->is_regular_file(ec))
            return it->path();
    }
    return preferred;
}

TUnknowFilesBL::TUnknowFilesBL(const TFolders& folders) : TUnknowFilesBL(KnownFileListPath(folders))
{
}

TUnknowFilesBL::TUnknowFilesBL(const fs::path& knownFileList)
{
    LoadKnownFiles(knownFileList);
}

void TUnknowFilesBL::LoadKnownFiles(const fs::path& file)
{
    known_.clear();
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::ios_base::failure(
            "Cannot open file " + file.string(),
            std::error_code(errno ? errno : ENOENT, std::generic_category()));
    std::string line;
    while (std::getline(in, line)) {
        // Lines are taken as they are, but a file saved on Windows ends them in CR LF.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find("*.*") != std::string::npos) {
            // A folder: its name is the line without the four characters "\*.*" that
            // end it, counted from the last non-blank character.
            std::string trimmed = line;
            while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t'))
                trimmed.pop_back();
            const std::size_t cut = trimmed.size() >= 4 ? trimmed.size() - 4 : 0;
            known_.emplace_back(trimmed.substr(0, cut), true);
        } else {
            known_.emplace_back(line, false);
        }
    }
    if (in.bad())
        throw std::ios_base::failure("Cannot read file " + file.string());
}

bool TUnknowFilesBL::IsKnown(const std::string& name, bool isFolder) const
{
    const std::string probe = Probe(name, isFolder);
    for (const TUnknowItem& entry : known_) {
        const std::string text = Probe(entry.GetName(), entry.IsFolder());
        if (text == probe)
            return true;
        // "*suffix" covers every name that ends in suffix (for a folder entry the
        // suffix includes the folder ending, so a file never matches it).
        if (!text.empty() && text.front() == '*' &&
            probe.ends_with(std::string_view(text).substr(1)))
            return true;
    }
    return false;
}

std::vector<TUnknowItem> TUnknowFilesBL::FindUnknownItems(const std::string& profileDir) const
{
    struct TFound {
        std::string Name;
        bool Folder;
    };
    std::vector<TFound> found;
    std::error_code ec;
    for (fs::directory_iterator it(profileDir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const auto runTime = RunTimeFileNames();
        if (std::find(runTime.begin(), runTime.end(), name) != runTime.end())
            continue;
        std::error_code kindEc;
        const fs::file_status status = it->status(kindEc); // follows links
        if (kindEc)
            continue; // a dangling link, such as Firefox's "lock" while it is not running
        if (fs::is_directory(status)) {
            if (!IsKnown(name, true))
                found.push_back({name, true});
        } else if (fs::is_regular_file(status)) {
            // Sockets and pipes are left out: reading one would block the backup.
            if (!IsKnown(name, false))
                found.push_back({name, false});
        }
    }
    std::sort(found.begin(), found.end(), [](const TFound& a, const TFound& b) {
        const std::string la = ToLowerAscii(a.Name), lb = ToLowerAscii(b.Name);
        return la != lb ? la < lb : a.Name < b.Name;
    });
    std::vector<TUnknowItem> items;
    items.reserve(found.size());
    for (auto& f : found)
        items.emplace_back(std::move(f.Name), f.Folder);
    return items;
}

std::vector<TUnknowItem> FillUnknownFilesForBackup(const TFolders& folders,
                                                   const std::string& profileDir)
{
    const TUnknowFilesBL known(folders); // the list is read anew each time
    return known.FindUnknownItems(profileDir);
}

std::vector<TUnknowItem> FillUnknownFilesForRestore(const TSharedState& state)
{
    return state.UnknownItems;
}

std::string UnknownItemLine(const TUnknowItem& item)
{
    if (!item.IsFolder())
        return item.GetName();
    return item.GetName() + " (" + Text("Tessarin14", "LANG_DIRECTORY") + ")";
}

} // namespace tessarin
