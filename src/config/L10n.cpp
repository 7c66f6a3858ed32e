#include "config/L10n.h"

#include "config/Environment.h"
#include "config/Settings.h"
#include "platform/FileUtil.h"

#include <array>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace tessarin {

namespace {

// The English texts. Keys are matched with case; where a key stands twice, the later
// row wins, so a correction can be appended without touching the older row.
// data/Default.lng says the same in its sections: ShippedFilesTest holds the two together.
constexpr TLanguageRow DefaultRows[] = {
    {"DefaultCharset", "1"},
    {"Font", ""},
    {"LANG_OKNO_1", " - Welcome"},
    {"LANG_APLIKACE_WELCOME", "Welcome to Tessarin"},
    {"LANG_APLIKACE_VOLBA", " - Operation type"},
    {"LANG_BUTTON_1", "Next >"},
    {"LANG_BUTTON_2", "Cancel"},
    {"LANG_BUTTON_3", "< Back"},
    {"LANG_BUTTON_OK", "OK"},
    {"LANG_BUTTON_KONEC", "Finish"},
    {"LANG_WARNING", "Warning"},
    {"LANG_QUESTION", "Question"},
    {"LANG_VOLBA", "Operation"},
    {"LANG_CO_PROVEST", "Choose the operation you want to perform:"},
    {"LANG_ZALOHA", "Backup a profile"},
    {"LANG_OBNOVA", "Restore a profile"},
    {"LANG_VOLBA_PROFILU", " - Profile selection"},
    {"LANG_TEXT2_1", "Select the profile you want to backup:"},
    {"LANG_TEXT4_1", "Then select the location of the backup file:"},
    {"LANG_TEXT2_2", "Select the profile you want to restore."},
    {"LANG_TEXT4_2", "Then select the backup file to restore the profile from:"},
    {"LANG_END_PROGRAM", "Exit the program"},
    {"LANG_END_TEXT", "The operation is not finished. Do you really want to exit the program?"},
    {"LANG_NEW_PROFIL", "New profile"},
    {"LANG_RELOAD", "Refresh"},
    {"LANG_CHOOSE_FILE", "Select file"},
    {"LANG_CHOOSE", "Browse..."},
    {"LANG_NEW_PROFIL_NAME", "Enter the new profile name:"},
    {"LANG_BAD_CREATE", "Creation of the new profile did not succeed."},
    {"LANG_PROFIL_EXIST", "A profile with this name already exists."},
    {"LANG_NO_NAME", "No profile name was entered."},
    {"LANG_NO_PROFIL", "No profile was found. The program will exit."},
    {"LANG_SOUCASTI", " - Components selection"},
    {"LANG_CHOOSE_ZALOHA", "Select the details you want to backup:"},
    {"LANG_CHOOSE_OBNOVA", "Select the details you want to restore:"},
    {"LANG_CHECKBOX1", "General settings"},
    {"LANG_CHECKBOX2", "Emails"},
    {"LANG_CHECKBOX3", "Address books"},
    {"LANG_CHECKBOX4", "Bookmarks"},
    {"LANG_CHECKBOX5", "History"},
    {"LANG_CHECKBOX6", "Sidebars"},
    {"LANG_CHECKBOX7", "Accounts settings only"},
    {"LANG_CHECKBOX8", "User styles"},
    {"LANG_CHECKBOX9", "Saved passwords"},
    {"LANG_CHECKBOX10", "Cookies"},
    {"LANG_CHECKBOX11", "Saved form details"},
    {"LANG_CHECKBOX12", "Downloaded file list"},
    {"LANG_CHECKBOX14", "Extensions"},
    {"LANG_CHECKBOX14_HINT", "Firefox & Thunderbird only"},
    {"LANG_CHECKBOX15", "Cache"},
    {"LANG_GROUPBOX3", "Details"},
    {"LANG_BAD_FILE2", "The selected file is not a valid backup file."},
    {"LANG_BAD_PROFIL", "The selected user profile is corrupted. The program will exit."},
    {"LANG_NOT_FOUND",
     "A critical error occurred while accessing the file. The program will exit."},
    {"LANG_NOT_FOUND2",
     "A critical error occurred while modifying the preferences file. The program will exit."},
    {"LANG_PROV_AKCE", " - Processing operation"},
    {"LANG_STATICTEXT6", "Task:"},
    {"LANG_ZAVER", " - Report"},
    {"LANG_WRITE_ERROR",
     "The program can not write in the backup file. Either the disk is full or you do not have "
     "write permissions. The program will exit."},
    {"LANG_WRITE_ERROR2",
     "Some files can not be restored. Either the disk is full or you do not have write "
     "permissions. The program will exit."},
    {"LANG_END_FILE", "The backup file is corrupted.  The program will exit."},
    {"LANG_AKCE_OBECNE", "Task: Backing up general settings"},
    {"LANG_AKCE_OBECNE_OK", "General settings backup... OK"},
    {"LANG_AKCE_MAIL", "Task: Backing up emails"},
    {"LANG_AKCE_MAIL_OK", "Emails backup... OK"},
    {"LANG_AKCE_KONTAKTY", "Task: Backing up address books"},
    {"LANG_AKCE_KONTAKTY_OK", "Address books backup... OK"},
    {"LANG_AKCE_FAVORITES", "Task: Backing up bookmarks"},
    {"LANG_AKCE_FAVORITES_OK", "Bookmarks backup... OK"},
    {"LANG_AKCE_HISTORIE", "Task: Backing up history"},
    {"LANG_AKCE_HISTORIE_OK", "History backup... OK"},
    {"LANG_AKCE_PANELY", "Task: Backing up sidebars"},
    {"LANG_AKCE_PANELY_OK", "Sidebars backup... OK"},
    {"LANG_AKCE_STYLY", "Task: Backing up user styles"},
    {"LANG_AKCE_STYLY_OK", "User styles backup... OK"},
    {"LANG_AKCE_HESLA", "Task: Backing up passwords"},
    {"LANG_AKCE_HESLA_OK", "Password Backup ... OK"},
    {"LANG_AKCE_COOKIES", "Task: Backing up cookies"},
    {"LANG_AKCE_COOKIES_OK", "Cookies backup... OK"},
    {"LANG_AKCE_FORMULARE", "Task: Backing up saved form details"},
    {"LANG_AKCE_FORMULARE_OK", "Saved form details backup... OK"},
    {"LANG_AKCE_SOUBORY", "Task: Backing up downloaded file list"},
    {"LANG_AKCE_SOUBORY_OK", "Downloaded file list backup... OK"},
    {"LANG_AKCE_EXTENSIONS", "Task: Backing up extensions"},
    {"LANG_AKCE_EXTENSIONS_OK", "Extensions backup... OK"},
    {"LANG_AKCE_CACHE", "Task: Backing up cache"},
    {"LANG_AKCE_CACHE_OK", "Cache backup... OK"},
    {"LANG_KONEC",
     "An error occurred while backing up some files. Either the disk is full or you don't have "
     "write permission. The program will exit."},
    {"LANG_DIR_ERROR",
     "Creation of the directory did not succeed. Either the disk is full or you don't have "
     "write permission. The program will exit."},
    {"LANG_AKCE_OBECNE1", "Task: Restoring general settings"},
    {"LANG_AKCE_MAIL1", "Task: Restoring emails"},
    {"LANG_KONTATKY1", "Task: Restoring address books"},
    {"LANG_FAVORITES1", "Task: Restoring bookmarks"},
    {"LANG_HISTORIE1", "Task: Restoring history"},
    {"LANG_PANELY1", "Task: Restoring sidebars"},
    {"LANG_STYLY1", "Task: Restoring user styles"},
    {"LANG_HESLA1", "Task: Restoring saved passwords"},
    {"LANG_COOKIES1", "Task: Restoring cookies"},
    {"LANG_FORMULAR1", "Task: Restoring saved form details"},
    {"LANG_DOWNLOAD1", "Task: Restoring downloaded file list"},
    {"LANG_EXTENSIONS1", "Task: Restoring extensions"},
    {"LANG_CACHE1", "Task: Restoring cache"},
    {"LANG_SOUBOR", "Restored file: "},
    {"LANG_NOT_FOUND_FILE", "The backup file does not exist. The program will exit."},
    {"LANG_SOUBOR_EXIST", "This file already exists. Overwrite it?"},
    {"LANG_ONLYPROFIL", "(profiles only)"},
    {"LANG_CHOOSEPROFIL", "Find profile..."},
    {"LANG_PROFILCAP", "Path to profile"},
    {"LANG_TIP", "Choose path to your profile:"},
    {"LANG_BAD_PROFIL2", "This directory does not contain a Mozilla profile."},
    {"LANG_PROFIL_NAME", "External profile"},
    {"LANG_BAD_DIRECTORY", "Directory with profile not found. Backup failed."},
    {"LANG_NO_BACKUP_FILE", "The backup file was not found or corrupted."},
    {"LANG_BACKUP_RESTOR", "The backup was restored. You can read the report below:"},
    {"LANG_MEMO1", "This wizard will help you to backup or restore your Mozilla user profile(s)."},
    {"LANG_MEMO11",
     "It is strongly recommended that you exit all programs that can manipulate any of your "
     "Mozilla user profiles before continuing."},
    {"LANG_MEMO12", "Click Cancel to quit the program, or click Next to continue."},
    {"LANG_MEMO2", "It is possible to backup or restore Mozilla user profile(s) for the following "
                   "application(s):"},
    {"LANG_MEMO3", "The backup was created. You can read the report below:"},
    {"LANG_PROFILE_RESTORED", "Complete"},
    {"LANG_CHECKBOX13", "Certificates"},
    {"LANG_AKCE_CERTIF", "Task: Backing up certificates"},
    {"LANG_CERTIF1", "Task: Restoring certificates"},
    {"LANG_CERTIF_OK", "Certificates... OK"},
    {"LANG_NO_FILES", "Some files not found. Please reinstall."},
    {"LANG_DIR_DEFAULT", "Default directory"},
    {"LANG_LOCATION", "Location:"},
    {"LANG_DIALOGS", "Tessarin vault (*.pcv) | *.pcv"},
    {"LANG_NEW_BR", "&New backup or restore"},
    {"LANG_EXT_WARNING",
     "Some extensions have got problematic restoration. Author of Tessarin cannot detect all "
     "these extensions. Use this option on your risk."},
    {"LANG_ENCRYPT", "Do you want to password-protect the backup file?"},
    {"LANG_TEXT", "Enter the password:"},
    {"LANG_HESLO", "Password:"},
    {"LANG_HESLO2", "Confirm password:"},
    {"LANG_NO_PASS", "Password should be at least three characters long."},
    {"LANG_NO_STEJ", "The passwords you typed do not match."},
    {"LANG_CAPTION", "Enter ZIP Password"},
    {"LANG_LABEL1", "This file is encrypted. Please enter password:"},
    {"LANG_BADINIREAD", "I cannot read file Backup.ini"},
    {"LANG_BADINIWRITE", "I cannot write to file Backup.ini"},
    {"LANG_NO_PROGRAM", "Mozilla application doesn't found on your system."},
    {"LANG_NO_PROFILE", "Profile was not found."},
    {"LANG_BADFIRSTPARAM",
     "Bad first param. You can use \"-m\", \"-f\" or \"-t\" only. See documentation."},
    {"LANG_OVERWRITE_PROFILE",
     "Restoration can overwrite exist files in selected profile. Do you want to continue?"},
    {"LANG_INVALID_OUTPUT", "Backup's file isn't valid. Backup has failed."},
    {"LANG_SELECT_PROFILE_FOLDER", "Select folder where you want to store a profile."},
    {"LANG_CANNOT_CREATE_PROFILE_DIR", "Cannot create Tessarin profile directory."},
    {"LANG_DIRECTORY", "directory"},
    {"LANG_PREFS_JS_NOT_FOUND", "Config file prefs.js doesn't found."},
    {"LANG_MAILBOX_BACKUP_PROBLEM", "Problem with backup email account! Account: "},
    {"LANG_AKCE_UNKNOW", "Task: Backing up unknow files"},
    {"LANG_AKCE_UNKNOW_OK", "Unknow files backup... OK"},
    {"LANG_UNKNOW", "Task: Restoring unknow files"},
    {"LANG_UNKNOW_FILES", "Unknow files"},
    {"LANG_UNKNOW_FILES_DESC",
     "Check unknow files in your profile which you want to backup/restore:"},
    {"LANG_AKCE_OBECNE_R_OK", "General settings restore... OK"},
    {"LANG_AKCE_MAIL_R_OK", "Emails restore... OK"},
    {"LANG_AKCE_KONTAKTY_R_OK", "Address books restore... OK"},
    {"LANG_AKCE_FAVORITES_R_OK", "Bookmarks restore... OK"},
    {"LANG_AKCE_HISTORIE_R_OK", "History restore... OK"},
    {"LANG_AKCE_PANELY_R_OK", "Sidebars restore... OK"},
    {"LANG_AKCE_STYLY_R_OK", "User styles restore... OK"},
    {"LANG_AKCE_HESLA_R_OK", "Password restore ... OK"},
    {"LANG_AKCE_COOKIES_R_OK", "Cookies restore... OK"},
    {"LANG_AKCE_FORMULARE_R_OK", "Saved form details restore... OK"},
    {"LANG_AKCE_SOUBORY_R_OK", "Downloaded file list restore... OK"},
    {"LANG_AKCE_EXTENSIONS_R_OK", "Extensions restore... OK"},
    {"LANG_AKCE_CACHE_R_OK", "Cache restore... OK"},
    {"LANG_CERTIF_R_OK", "Certificates restore... OK"},
    {"LANG_AKCE_UNKNOW_R_OK", "Unknow files restore... OK"},
    {"LANG_PORTABLE", "Portable"},
    {"LANG_PORTABLE_PROFILE", "Portable profile"},
    {"LANG_PORTABLE_SELECT_PROFILE", "Select profile of your portable Mozilla application."},
    {"LANG_NO_PROFIL2", "No profile was found."},
    {"LANG_ERROR", "Error"},
    {"LANG_DETEKCE", "%s is running. Exit it and click the Retry button."},
    {"LANG_DETEKCE2", "You must exit %s before backing up. The program will exit."},
    {"LANG_CHOOSE_FILE_BACKUP", "Save backup to directory"},
    {"LANG_CHOOSE_FILE_RESTORE", "Restore backup from directory"},
    {"LANG_SEL_DESEL_ALL", "Select/Deselect all"},
    {"LANG_CANNOT_RESTORE_ORIG_EXT", "Cannot restore external mail account to original location!"},
    {"LANG_TEST_VERSION_WARNING", "This is test version. Use on your own risk."},
    {"LANG_BACKUP_PARTS", "Backup contains:"},
    {"LANG_DISK_SPACE_CALCULATE", "Calculating disk space. This takes some time."},
    {"LANG_FILE", "File"},
    {"LANG_PORTABLE_APPS", "Portable applications"},
    {"LANG_NO_PROFILE_SELECTION", "No profile was selected."},
    {"LANG_CMD_BAD_ACTION", "Bad action defined in config file."},
    {"LANG_CMD_BAD_APPLICATION", "Bad application defined in config file."},
    {"LANG_CMD_BAD_PROFILE", "Cannot find profile with this name."},
    {"LANG_CMD_BAD_OUTPUT_DIR", "Cannot create directory for output file."},
    {"LANG_CMD_CONFIG_NOT_FOUND", "Cannot find config file %s."},
    {"LANG_BACKUP_FAILED", "Backup wasn't successfully created."},
    {"LANG_WRITE_ERROR3",
     "The program can not write in the backup file. Either the disk is full or you do not have "
     "write permissions."},
    {"LANG_BACKUP_NOT_FOUND",
     "Selected backup file was not found. Please select valid backup file."},
    {"LANG_INVALID_BACKUP_VERSION",
     "Selected backup file is not for selected application. Selected application: %s, backup "
     "file is from application: %s."},
    {"LANG_RESTORE_FAILED",
     "The backup was not restored completely. You can read the report below:"},
    {"LANG_NOT_RESTORED", "Not restored: "},
    {"LANG_NEWER_BACKUP",
     "This backup was made with version %s of the application, which is newer than the "
     "installed version %s. The installed version may refuse the restored profile or misread "
     "its data. Do you want to continue?"},
    {"LANG_ADDON_DATA_NO_SETTINGS",
     "Extensions were restored without the general settings: extensions may not find their "
     "own data."},
    {"LANG_OUTSIDE_MAIL_TO",
     "This backup holds mail folders that were outside its profile. They are restored to "
     "these folders, and files of the same name there are replaced:"},
    {"LANG_OUTSIDE_MAIL_REFUSED",
     "These folders of the backup are not written; their accounts get an empty folder in the "
     "profile instead:"},
    {"LANG_OUTSIDE_MAIL_CONTINUE", "Do you want to continue?"},
    {"LANG_PROFILE_NOT_USED",
     "This profile has not been used yet, so there is nothing to back up. Choose another "
     "profile."},
    // Report lines of the backup, restore and archive layer (section "Messages").
    {"LANG_NAME_LINE_BREAK", "a line break in the name cannot be kept; left out"},
    {"LANG_NAME_OF_INDEX", "has the name of the backup's index; left out"},
    {"LANG_PASSWORD_STOPPED", "wrong or missing password; the restore stopped"},
    {"LANG_NAME_OUTSIDE", "name reaches outside the target folder; skipped"},
    {"LANG_SYMLINK_SKIPPED", "symbolic link; skipped"},
    {"LANG_WRONG_PASSWORD", "wrong or missing password"},
    {"LANG_NO_EXTRACT_FOLDER", "no folder to extract to"},
    {"LANG_NOT_BELOW", "not below %s"},
    {"LANG_PLACE_OUTSIDE", "names a place outside %s"},
    {"LANG_NOT_REGULAR_FILE", "not a regular file"},
    {"LANG_NAME_TAKEN", "another file is already stored under this name"},
    {"LANG_DECRYPTION_FAILED", "decryption failed"},
    {"LANG_LINK_NOT_FOLLOWED", "link to a folder stored already; not followed"},
    {"LANG_NOT_PLAIN_ITEM", "not a single name at the profile's top level; skipped"},
    {"LANG_OUTSIDE_NOT_ABSOLUTE", "not an absolute path of this system"},
    {"LANG_OUTSIDE_UNREADABLE", "its path cannot be followed"},
    {"LANG_OUTSIDE_HOME", "the home folder itself"},
    {"LANG_OUTSIDE_HOLDS_PROFILE", "holds the home folder or the profile"},
    {"LANG_OUTSIDE_IN_PROFILE", "the target profile or a folder inside it"},
    {"LANG_OUTSIDE_HIDDEN", "a hidden folder of the home folder, not a place for mail"},
    {"LANG_OUTSIDE_SYSTEM", "a folder of the system"},
    {"LANG_OUTSIDE_OTHER_OWNER", "a folder of another user"},
    {"LANG_OUTSIDE_NO_ACCOUNT", "outside mail folder that no account of the backup uses"},
    {"LANG_OUTSIDE_NOW_IN_PROFILE", "mail folder refused (%s); the account now uses %s"},
    {"LANG_CMD_BAD_WAIT", "Bad wait value defined in config file: %s (minutes, 0 or more)."},
    {"LANG_WAITING_FOR_PROFILE", "%s is using the profile %s; waiting until it is closed"},
    {"LANG_PROFILE_BUSY", "%s is using the profile %s; close it or set wait="},
    {"LANG_CMD_BAD_KEEP", "Bad keep value defined in config file: %s (a whole number, 1 or more)."},
    {"LANG_BACKUP_NOT_VERIFIED", "The new backup %s cannot be read back; no older backup was removed."},
    {"LANG_VERIFYING_BACKUP", "Task: Checking the new backup"},
    {"LANG_BACKUP_CHECK_FAILED",
     "The new backup does not read back correctly (%s). It was not kept; an earlier backup "
     "file stays as it was."},
    {"LANG_OLD_BACKUP_REMOVED", "Removed old backup: "},
};

std::string ReplaceFirst(std::string text, const std::string& arg)
{
    if (const std::size_t at = text.find("%s"); at != std::string::npos)
        text.replace(at, 2, arg);
    return text;
}

} // namespace

std::span<const TLanguageRow> DefaultLanguageTable()
{
    return DefaultRows;
}

std::string CutFontName(std::string_view name)
{
    std::size_t characters = 0;
    std::size_t end = 0;
    while (end < name.size()) {
        std::size_t next = end + 1;
        // Continuation bytes of UTF-8 (10xxxxxx) belong to the lead byte before them, at
        // most three; stray ones in a broken file are characters of their own, or a run
        // of them would make one endless name.
        if ((static_cast<unsigned char>(name[end]) & 0xC0) == 0xC0)
            while (next < name.size() && next - end < 4 &&
                   (static_cast<unsigned char>(name[next]) & 0xC0) == 0x80)
                ++next;
        if (++characters > MaxFontNameLength)
            break;
        end = next;
    }
    return std::string(name.substr(0, end));
}

struct Tl10n::TParsed {
    std::mutex Mutex;
    std::string Text;
    std::shared_ptr<const TIniFile> Ini;
};

Tl10n::Tl10n(std::filesystem::path file)
    : file_(std::move(file)), parsed_(std::make_shared<TParsed>())
{
}

std::shared_ptr<const TIniFile> Tl10n::Current() const
{
    // Read anew at each lookup, so an edited language file shows at once. An unreadable
    // one is no error: it reads as empty and the built-in table answers.
    std::string text;
    std::error_code ec;
    if (!ReadWholeFile(file_, text, ec))
        text.clear();
    const std::lock_guard lock(parsed_->Mutex);
    if (!parsed_->Ini || text != parsed_->Text) {
        parsed_->Ini = std::make_shared<const TIniFile>(TIniFile::FromText(text));
        parsed_->Text = std::move(text);
    }
    return parsed_->Ini;
}

std::string Tl10n::GetText(const std::string& section, const std::string& key) const
{
    const std::string value = Current()->ReadString(section, key);
    return value.empty() ? DefaultText(key) : value;
}

std::string Tl10n::GetTextWithArg(const std::string& section, const std::string& key,
                                  const std::string& arg) const
{
    return ReplaceFirst(GetText(section, key), arg);
}

std::string Tl10n::GetTextWithArgs(const std::string& section, const std::string& key,
                                   const std::string& first, const std::string& second) const
{
    return ReplaceFirst(ReplaceFirst(GetText(section, key), first), second);
}

std::string Tl10n::DefaultText(const std::string& key)
{
    std::string_view text;
    for (const TLanguageRow& row : DefaultRows)
        if (row.Key == key)
            text = row.Text;
    return std::string(text);
}

std::string Tl10n::GetFontName() const
{
    return GetText("Common", "Font");
}

int Tl10n::GetFontCharset() const
{
    const std::string text = GetText("Common", "DefaultCharset");
    const std::optional<std::int32_t> charset = ParseInteger(text);
    if (!charset)
        throw std::invalid_argument("'" + text + "' is not a valid character set number");
    return *charset;
}

const Tl10n& Language()
{
    return *CurrentEnvironment().Language;
}

} // namespace tessarin
