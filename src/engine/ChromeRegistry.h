#pragma once
// Older applications record in chrome/chrome.rdf where each extension's files are, as
// jar:file:/// URLs into the profile. After a restore into another folder these point
// into the old profile; RewriteChromeRegistry points them into the restored one.

#include <string>
#include <string_view>

namespace tessarin {

// The line with the URL of its c:baseURL attribute pointed into profileDir (ending in
// the separator), or the line unchanged when it holds no such URL into an extensions
// folder.
std::string RewriteChromeLine(std::string_view line, const std::string& profileDir);

// Rewrites profileDir + "chrome/chrome.rdf" line by line, into a temporary file that
// replaces it when complete. No chrome.rdf: nothing happens. Throws
// std::system_error when it cannot be read or replaced; the old file then stays.
void RewriteChromeRegistry(const std::string& profileDir);

} // namespace tessarin
