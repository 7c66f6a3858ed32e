#pragma once
// Reading a profile's prefs.js: the preference line rules, the mail accounts
// (mail.server.serverN.*) and where each account keeps its mail.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tessarin {

// prefs.js is missing or cannot be read. The text is what the person is shown.
class TPrefsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One line of prefs.js seen through its quotes and punctuation.
struct TPrefsLine {
    std::string Key;
    // A quoted value without its quotes, escapes still in place (as the file holds
    // it); otherwise the text between the first comma and the first ")" after the
    // key, blanks included (" 993" for `user_pref("x", 993);`).
    std::string Value;
    bool IsString = false;
    // Byte range of Value inside the line when it is a string (for rewriting it).
    std::size_t ValueBegin = 0;
    std::size_t ValueEnd = 0;

    // A line whose key or value is empty is not a preference.
    bool IsPreference() const { return !Key.empty() && !Value.empty(); }
};

// Splits a line into key and value. A backslash inside a quoted text escapes the
// next character, so `\"` does not end it; a text whose closing quote is missing
// gives an empty result.
TPrefsLine ParsePrefsLine(std::string_view line);

// Lines of prefs.js longer than this are garbage, not preferences: they are skipped
// instead of being held in memory.
inline constexpr std::size_t MaxPrefsLineLength = 4 * 1024 * 1024;

// Reads prefs.js line by line (lines end in LF, CR LF or CR). A line longer than
// MaxPrefsLineLength is consumed and returned empty with tooLong set.
class TPrefsLineReader {
public:
    explicit TPrefsLineReader(std::istream& in) : in_(in) {}
    // False at the end of the stream or after a read error (Failed() tells which).
    bool Next(std::string& line, bool& tooLong);
    bool Failed() const { return failed_; }

private:
    bool Fill();

    std::istream& in_;
    std::string buffer_;
    std::size_t pos_ = 0;
    bool failed_ = false;
    bool skipLf_ = false; // the last line ended in CR: an LF right after belongs to it
};

// A folder value from prefs.js to a file-system path: UTF-8 to the system code page,
// then the application's escapes undone ("\\" to "\", "\"" to a quote). Any other
// backslash stays, so a path written with single backslashes comes back unchanged.
std::string DecodePrefsPath(std::string_view value);
// A path to a prefs.js string value: system code page to UTF-8, then a backslash
// written as two and a quote as backslash + quote.
std::string EncodePrefsPath(std::string_view path);

// One mail server of prefs.js: "mail.server.server" + number + "." + field.
class TPrefsParserAccount {
public:
    explicit TPrefsParserAccount(std::int32_t number) : number_(number) {}

    std::int32_t GetNumber() const { return number_; }
    const std::string& GetType() const { return type_; }
    // ".directory", decoded (DecodePrefsPath).
    const std::string& GetDirectory() const { return directory_; }
    // ".directory-rel", decoded, with its "[ProfD]" prefix kept.
    const std::string& GetRelativeDirectory() const { return relativeDirectory_; }
    const std::string& GetCharset() const { return charset_; }
    // True when the account's mail folder lies outside the folder of prefs.js.
    bool IsExternal() const { return external_; }
    const std::string& GetNewsrcFile() const { return newsrcFile_; }
    const std::string& GetName() const { return name_; }
    const std::string& GetHostName() const { return hostName_; }

private:
    friend class TPrefsParser;

    std::int32_t number_;
    std::string type_;
    std::string directory_;
    std::string relativeDirectory_;
    std::string charset_;
    bool external_ = false;
    std::string newsrcFile_;
    std::string name_;
    std::string hostName_;
};

class TPrefsParser {
public:
    // Reads the file at once. Throws TPrefsError: LANG_PREFS_JS_NOT_FOUND when the
    // file does not exist, the system's reason when it cannot be read.
    explicit TPrefsParser(std::string path);
    TPrefsParser(std::string path, bool readNow);

    // Reads (again) from the file; accounts of an earlier read are dropped.
    void Read();
    // Reads from a stream; the path still decides which folder is the profile's.
    void Read(std::istream& in);

    const std::string& GetPath() const { return path_; }
    // In order of the first line that names each server number.
    const std::vector<std::unique_ptr<TPrefsParserAccount>>& GetAccounts() const
    {
        return accounts_;
    }
    // The account with that number, or null.
    const TPrefsParserAccount* FindAccount(std::int32_t number) const;

private:
    TPrefsParserAccount& AccountFor(std::int32_t number);
    void HandleServerLine(const TPrefsLine& line);
    void Finish();

    std::string path_;
    std::vector<std::unique_ptr<TPrefsParserAccount>> accounts_;
    // Every line of a server looks its account up: a list search per line would make
    // a file naming many servers quadratic.
    std::unordered_map<std::int32_t, TPrefsParserAccount*> byNumber_;
};

// The server number of a key "mail.server.server<N>.<field>", with the field name
// after the dot; 0 when the key has no dot after the number or the number is not a
// whole positive decimal number that fits 32 bits.
std::int32_t ServerNumberOfKey(std::string_view key, std::string* field = nullptr);

// The account's mail folder as it is on disk now: the relative directory with
// "[ProfD]" standing for profileDir, else the directory; empty when neither names an
// existing folder. Paths are resolved lexically ("a/../b" is "b") and come without a
// trailing separator, so "[ProfD]../Mail" of a folder beside the profile gives the
// same text as its absolute directory value.
std::string GetMailDirectory(const TPrefsParserAccount& account, const std::string& profileDir);

// Whether the profile's prefs.js names mail: a mail identity, an RSS server, or a
// mail server with a mail folder (Local Folders alone are mail too). Throws
// TPrefsError when prefs.js cannot be read.
bool ProfileHasMail(const std::string& profileDir);

// Whether path is folder itself or lies below it, comparing whole path components
// after lexical resolution ("/p/abc" is not below "/p/ab").
bool IsPathWithin(const std::filesystem::path& path, const std::filesystem::path& folder);

} // namespace tessarin
