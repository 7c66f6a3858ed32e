#include "engine/ChromeRegistry.h"

#include "platform/FileUtil.h"
#include "platform/TextConv.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace tessarin {

namespace {

constexpr std::string_view Attribute = "c:baseURL=\"";
constexpr std::string_view ExtensionsFolder = "/extensions/";

// A path as the body of a file URL: bytes outside plain ASCII from UTF-8, blanks and
// the characters that would end or change the URL as %XX.
std::string UrlPath(std::string_view path)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c > 127 || c <= ' ' || c == '%' || c == '"' || c == '#' || c == '?' || c == '<' ||
            c == '>' || c == '\'') {
            out += '%';
            out += Hex[c >> 4];
            out += Hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

} // namespace

std::string RewriteChromeLine(std::string_view line, const std::string& profileDir)
{
    const std::size_t attribute = line.find(Attribute);
    if (attribute == std::string_view::npos)
        return std::string(line);
    const std::size_t valueBegin = attribute + Attribute.size();
    const std::size_t valueEnd = line.find('"', valueBegin);
    if (valueEnd == std::string_view::npos)
        return std::string(line);
    const std::string_view value = line.substr(valueBegin, valueEnd - valueBegin);
    const std::size_t folder = value.find(ExtensionsFolder);
    if (folder == std::string_view::npos)
        return std::string(line); // a package in the application's own folder

    std::string profile = AnsiToUtf8(profileDir);
    while (profile.size() > 1 && profile.back() == '/')
        profile.pop_back();
    if (profile.empty() || profile.front() != '/')
        profile.insert(profile.begin(), '/');
    std::string url = "jar:file://" + UrlPath(profile) + "/extensions";
    url += value.substr(folder + ExtensionsFolder.size() - 1); // from the "/" after it

    std::string out(line.substr(0, valueBegin));
    out += url;
    out += line.substr(valueEnd);
    return out;
}

void RewriteChromeRegistry(const std::string& profileDir)
{
    const fs::path file = fs::path(profileDir) / "chrome" / "chrome.rdf";
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(file, ec)))
        return;
    std::string text;
    if (!ReadWholeFile(file, text, ec))
        throw std::system_error(ec, file.string());

    // Each line keeps its own end; a last line without one gets the file's first.
    std::string eol = "\r\n";
    if (const std::size_t lf = text.find('\n'); lf != std::string::npos)
        eol = lf > 0 && text[lf - 1] == '\r' ? "\r\n" : "\n";
    std::string out;
    out.reserve(text.size() + 256);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        const bool last = end == std::string::npos;
        if (last)
            end = text.size();
        std::size_t contentEnd = end;
        if (contentEnd > pos && text[contentEnd - 1] == '\r')
            --contentEnd;
        out += RewriteChromeLine(std::string_view(text).substr(pos, contentEnd - pos), profileDir);
        out += last ? eol : text.substr(contentEnd, end + 1 - contentEnd);
        pos = end + 1;
    }
    if (!WriteFileAtomically(file, out, ec))
        throw std::system_error(ec, file.string());
}

} // namespace tessarin
