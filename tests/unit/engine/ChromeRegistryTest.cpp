#include "engine/ChromeRegistry.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace tessarin;
using namespace tessarin::test;

namespace {

// A chrome.rdf as Firefox 1.5 to 3.x wrote it (attributes on one line each).
const std::string OldUrl =
    "jar:file:///C:/Documents%20and%20Settings/jan/Application%20Data/Mozilla/Firefox/Profiles/"
    "old.default/extensions/%7Bguid%7D/chrome/tool.jar!/content/tool/";
const std::string Tail = "/%7Bguid%7D/chrome/tool.jar!/content/tool/";

} // namespace

TEST(ChromeRegistry, LinesAreRepointedKeepingTheirMarkup)
{
    struct Case {
        const char* What;
        std::string Line;
        std::string Profile;
        std::string Expected;
    };
    const std::string p = "/home/jan/.mozilla/firefox/abc.default/";
    const std::string url = "jar:file:///home/jan/.mozilla/firefox/abc.default/extensions" + Tail;
    const Case cases[] = {
        {"element and other attributes kept, self-closing",
         "  <RDF:Description RDF:about=\"urn:mozilla:package:tool\" c:baseURL=\"" + OldUrl +
             "\" c:name=\"tool\"/>",
         p,
         "  <RDF:Description RDF:about=\"urn:mozilla:package:tool\" c:baseURL=\"" + url +
             "\" c:name=\"tool\"/>"},
        {"attribute alone on its line", "                   c:baseURL=\"" + OldUrl + "\">", p,
         "                   c:baseURL=\"" + url + "\">"},
        {"blank and non-ASCII in the new profile folder",
         "<x c:baseURL=\"" + OldUrl + "\"/>", "/home/jan/Můj profil/",
         "<x c:baseURL=\"jar:file:///home/jan/M%C5%AFj%20profil/extensions" + Tail + "\"/>"},
        {"a package of the application's own folder stays",
         "<x c:baseURL=\"jar:resource:/chrome/classic.jar!/skin/\"/>", p,
         "<x c:baseURL=\"jar:resource:/chrome/classic.jar!/skin/\"/>"},
        {"no closing quote stays", "<x c:baseURL=\"" + OldUrl, p, "<x c:baseURL=\"" + OldUrl},
        {"other lines stay", "<RDF:Seq about=\"urn:mozilla:package:root\">", p,
         "<RDF:Seq about=\"urn:mozilla:package:root\">"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RewriteChromeLine(c.Line, c.Profile), c.Expected) << c.What;
}

TEST(ChromeRegistry, FileIsRewrittenInPlaceWithItsLineEndsAndMode)
{
    TTempDir dir;
    const std::string profile = dir.Folder() + "new profile/";
    // CR LF lines, a binary line, a long line without the attribute, no final line end.
    const std::string binary("\x01\xff\xfe\x00zz", 6);
    const std::string longLine(1 << 20, 'a');
    const std::string text = "<?xml version=\"1.0\"?>\r\n<x c:baseURL=\"" + OldUrl + "\"/>\r\n" +
                             binary + "\r\n" + longLine + "\r\n</RDF:RDF>";
    const fs::path file = dir.Write("new profile/chrome/chrome.rdf", text);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);

    RewriteChromeRegistry(profile);

    std::ifstream in(file, std::ios::binary);
    const std::string out((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(out, "<?xml version=\"1.0\"?>\r\n<x c:baseURL=\"jar:file://" + dir.Path().string() +
                       "/new%20profile/extensions" + Tail + "\"/>\r\n" + binary + "\r\n" +
                       longLine + "\r\n</RDF:RDF>\r\n");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), {}), 1)
        << "no temporary file is left";
}

TEST(ChromeRegistry, MissingFileIsNothingAndAnUnreadableOneStaysWhole)
{
    TTempDir dir;
    EXPECT_NO_THROW(RewriteChromeRegistry(dir.Folder()));
    EXPECT_FALSE(fs::exists(dir.Path() / "chrome"));

    fs::create_directories(dir.Path() / "chrome" / "chrome.rdf"); // a folder in its place
    EXPECT_THROW(RewriteChromeRegistry(dir.Folder()), std::system_error);
    EXPECT_TRUE(fs::is_directory(dir.Path() / "chrome" / "chrome.rdf"));
}
