#include "engine/PrefsParser.h"

#include "config/L10n.h"
#include "platform/FileUtil.h"
#include "platform/TextConv.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

constexpr std::string_view ServerPrefix = "mail.server.server";
constexpr std::string_view ProfileToken = "[ProfD]";

// Position of the first quote at or after pos that no backslash escapes, or npos.
std::size_t ClosingQuote(std::string_view s, std::size_t pos)
{
    for (; pos < s.size(); ++pos) {
        if (s[pos] == '\\')
            ++pos; // the escaped character, whatever it is
        else if (s[pos] == '"')
            return pos;
    }
    return std::string_view::npos;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string NotReadable(const std::string& path, int error)
{
    return "Cannot read " + path + ": " + std::strerror(error);
}

bool IsExistingFolder(const std::string& path)
{
    if (path.empty() || path.front() != '/')
        return false; // a relative value would be resolved against whatever the working folder is
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// The relative directory with "[ProfD]" standing for the folder; empty without the token.
std::string ResolveRelative(const std::string& relative, const std::string& folder)
{
    const std::size_t at = relative.find(ProfileToken);
    if (at == std::string::npos || folder.empty())
        return {};
    std::string base = folder;
    if (base.back() != '/')
        base += '/';
    return NormalPath(relative.substr(0, at) + base + relative.substr(at + ProfileToken.size()));
}

} // namespace

TPrefsLine ParsePrefsLine(std::string_view line)
{
    TPrefsLine out;
    std::size_t first = 0;
    while (first < line.size() && IsBlank(line[first]))
        ++first;
    if (line.substr(first, 2) == "//")
        return out;

    const std::size_t keyOpen = line.find('"', first);
    if (keyOpen == std::string_view::npos)
        return out;
    const std::size_t keyClose = ClosingQuote(line, keyOpen + 1);
    if (keyClose == std::string_view::npos)
        return out;
    out.Key = std::string(line.substr(keyOpen + 1, keyClose - keyOpen - 1));

    // A string value: the next thing after the comma is a quote.
    std::size_t pos = keyClose + 1;
    while (pos < line.size() && IsBlank(line[pos]))
        ++pos;
    if (pos < line.size() && line[pos] == ',') {
        std::size_t open = pos + 1;
        while (open < line.size() && IsBlank(line[open]))
            ++open;
        if (open < line.size() && line[open] == '"') {
            const std::size_t close = ClosingQuote(line, open + 1);
            if (close == std::string_view::npos)
                return TPrefsLine{out.Key, {}, false, 0, 0}; // never closed: no value
            out.IsString = true;
            out.ValueBegin = open + 1;
            out.ValueEnd = close;
            out.Value = std::string(line.substr(open + 1, close - open - 1));
            return out;
        }
    }

    // Numbers and booleans: between the first comma and the first ")" after the key.
    const std::string_view rest = line.substr(keyClose + 1);
    const std::size_t comma = rest.find(',');
    if (comma == std::string_view::npos)
        return out;
    const std::size_t paren = rest.find(')', comma + 1);
    if (paren == std::string_view::npos)
        return out;
    out.Value = std::string(rest.substr(comma + 1, paren - comma - 1));
    return out;
}

bool TPrefsLineReader::Fill()
{
    constexpr std::size_t Chunk = 64 * 1024;
    buffer_.resize(Chunk);
    pos_ = 0;
    if (failed_ || !in_.good()) {
        buffer_.clear();
        return false;
    }
    try {
        in_.read(buffer_.data(), static_cast<std::streamsize>(Chunk));
    } catch (const std::exception&) {
        in_.setstate(std::ios::badbit);
    }
    buffer_.resize(static_cast<std::size_t>(in_.gcount()));
    if (in_.bad())
        failed_ = true;
    return !buffer_.empty();
}

bool TPrefsLineReader::Next(std::string& line, bool& tooLong)
{
    line.clear();
    tooLong = false;
    bool any = false;
    for (;;) {
        if (pos_ >= buffer_.size() && !Fill())
            return any && !failed_;
        if (skipLf_) {
            skipLf_ = false;
            if (buffer_[pos_] == '\n') {
                ++pos_;
                continue;
            }
        }
        any = true;
        const char* begin = buffer_.data() + pos_;
        const std::size_t left = buffer_.size() - pos_;
        const char* stop = static_cast<const char*>(std::memchr(begin, '\n', left));
        const char* cr =
            static_cast<const char*>(std::memchr(begin, '\r', stop ? stop - begin : left));
        if (cr != nullptr)
            stop = cr;
        const std::size_t length = stop != nullptr ? static_cast<std::size_t>(stop - begin) : left;
        if (!tooLong) {
            if (line.size() + length > MaxPrefsLineLength) {
                tooLong = true;
                std::string().swap(line);
            } else {
                line.append(begin, length);
            }
        }
        pos_ += length;
        if (stop != nullptr) {
            ++pos_;
            skipLf_ = *stop == '\r';
            return true;
        }
    }
}

std::string DecodePrefsPath(std::string_view value)
{
    const std::string text = Utf8ToAnsi(value);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            out.push_back(text[i + 1]);
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string EncodePrefsPath(std::string_view path)
{
    const std::string text = AnsiToUtf8(path);
    std::string out;
    out.reserve(text.size() + 8);
    for (const char c : text) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

std::int32_t ServerNumberOfKey(std::string_view key, std::string* field)
{
    if (key.substr(0, ServerPrefix.size()) != ServerPrefix)
        return 0;
    const std::string_view rest = key.substr(ServerPrefix.size());
    const std::size_t dot = rest.find('.');
    if (dot == std::string_view::npos || dot == 0)
        return 0;
    const std::string_view digits = rest.substr(0, dot);
    for (const char c : digits)
        if (c < '0' || c > '9')
            return 0;
    std::int32_t number = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (ec != std::errc() || end != digits.data() + digits.size() || number <= 0)
        return 0;
    if (field != nullptr)
        *field = std::string(rest.substr(dot + 1));
    return number;
}

bool IsPathWithin(const fs::path& path, const fs::path& folder)
{
    const fs::path p = path.lexically_normal();
    const fs::path f = folder.lexically_normal();
    auto pi = p.begin();
    for (auto fi = f.begin(); fi != f.end(); ++fi) {
        if (fi->empty()) // the trailing separator of "/a/b/"
            continue;
        if (pi == p.end() || *pi != *fi)
            return false;
        ++pi;
    }
    return true;
}

TPrefsParser::TPrefsParser(std::string path) : TPrefsParser(std::move(path), true) {}

TPrefsParser::TPrefsParser(std::string path, bool readNow) : path_(std::move(path))
{
    if (readNow)
        Read();
}

void TPrefsParser::Read()
{
    std::error_code ec;
    const fs::file_status status = fs::status(path_, ec);
    if (!fs::exists(status))
        throw TPrefsError(Text("LANG_DIRECTORY", "LANG_PREFS_JS_NOT_FOUND"));
    if (fs::is_directory(status))
        throw TPrefsError(NotReadable(path_, EISDIR));
    std::ifstream in(path_, std::ios::binary);
    if (!in)
        throw TPrefsError(NotReadable(path_, errno != 0 ? errno : EACCES));
    Read(in);
    if (in.bad())
        throw TPrefsError(NotReadable(path_, errno != 0 ? errno : EIO));
}

void TPrefsParser::Read(std::istream& in)
{
    accounts_.clear();
    byNumber_.clear();
    std::string text;
    bool tooLong = false;
    TPrefsLineReader reader(in);
    while (reader.Next(text, tooLong)) {
        if (tooLong || text.find(ServerPrefix) == std::string::npos)
            continue;
        const TPrefsLine line = ParsePrefsLine(text);
        if (line.IsPreference())
            HandleServerLine(line);
    }
    Finish();
}

const TPrefsParserAccount* TPrefsParser::FindAccount(std::int32_t number) const
{
    const auto it = byNumber_.find(number);
    return it == byNumber_.end() ? nullptr : it->second;
}

TPrefsParserAccount& TPrefsParser::AccountFor(std::int32_t number)
{
    if (const auto it = byNumber_.find(number); it != byNumber_.end())
        return *it->second;
    accounts_.push_back(std::make_unique<TPrefsParserAccount>(number));
    byNumber_.emplace(number, accounts_.back().get());
    return *accounts_.back();
}

void TPrefsParser::HandleServerLine(const TPrefsLine& line)
{
    std::string field;
    const std::int32_t number = ServerNumberOfKey(line.Key, &field);
    if (number <= 0)
        return;
    // Whole field names only: "mail.server.server1.foo.type" is not the account's type.
    std::string TPrefsParserAccount::*target = nullptr;
    if (field == "type")
        target = &TPrefsParserAccount::type_;
    else if (field == "directory")
        target = &TPrefsParserAccount::directory_;
    else if (field == "directory-rel")
        target = &TPrefsParserAccount::relativeDirectory_;
    else if (field == "charset")
        target = &TPrefsParserAccount::charset_;
    else if (field == "newsrc.file")
        target = &TPrefsParserAccount::newsrcFile_;
    else if (field == "name")
        target = &TPrefsParserAccount::name_;
    else if (field == "hostname")
        target = &TPrefsParserAccount::hostName_;
    if (target == nullptr)
        return;
    AccountFor(number).*target = line.IsString ? DecodePrefsPath(line.Value) : line.Value;
}

void TPrefsParser::Finish()
{
    // Outside or not is decided by the folder the account really uses: Thunderbird
    // prefers the relative form, and a profile moved to another place keeps stale
    // absolute values that would otherwise make its own Local Folders "outside".
    const std::string folder = NormalPath(fs::path(path_).parent_path().string());
    for (auto& account : accounts_) {
        const std::string relative = ResolveRelative(account->relativeDirectory_, folder);
        const std::string absolute =
            account->directory_.empty() ? std::string() : NormalPath(account->directory_);
        std::string used;
        if (IsExistingFolder(relative))
            used = relative;
        else if (IsExistingFolder(absolute))
            used = absolute;
        else
            used = !absolute.empty() ? absolute : relative;
        account->external_ = !used.empty() && !folder.empty() && !IsPathWithin(used, folder);
    }
}

std::string GetMailDirectory(const TPrefsParserAccount& account, const std::string& profileDir)
{
    const std::string relative = ResolveRelative(account.GetRelativeDirectory(), profileDir);
    if (IsExistingFolder(relative))
        return relative;
    if (!account.GetDirectory().empty()) {
        const std::string absolute = NormalPath(account.GetDirectory());
        if (IsExistingFolder(absolute))
            return absolute;
    }
    return {};
}

bool ProfileHasMail(const std::string& profileDir)
{
    std::string path = profileDir;
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += "prefs.js";

    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status))
        throw TPrefsError(Text("LANG_DIRECTORY", "LANG_PREFS_JS_NOT_FOUND"));
    if (fs::is_directory(status))
        throw TPrefsError(NotReadable(path, EISDIR));
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw TPrefsError(NotReadable(path, errno != 0 ? errno : EACCES));

    constexpr std::string_view identity = "user_pref(\"mail.identity.";
    constexpr std::string_view server = "user_pref(\"mail.server.server";
    std::string text;
    bool tooLong = false;
    TPrefsLineReader reader(in);
    while (reader.Next(text, tooLong)) {
        if (tooLong)
            continue;
        if (text.find(identity) != std::string::npos)
            return true;
        if (text.find(server) == std::string::npos)
            continue;
        if (text.find("rss") != std::string::npos)
            return true;
        std::string field;
        const TPrefsLine line = ParsePrefsLine(text);
        if (line.IsPreference() && ServerNumberOfKey(line.Key, &field) > 0 &&
            (field == "directory" || field == "directory-rel"))
            return true;
    }
    if (reader.Failed())
        throw TPrefsError(NotReadable(path, EIO));
    return false;
}

} // namespace tessarin
