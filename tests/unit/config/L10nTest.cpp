#include "config/L10n.h"

#include "ConfigFixture.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace fs = std::filesystem;
using namespace tessarin;

namespace {

class Language : public test::TConfigFixture {
protected:
    Tl10n WithFile(std::string_view content)
    {
        return Tl10n(WriteProgramFile("Default.lng", content));
    }
    Tl10n Czech()
    {
        fs::copy_file(fs::path(TESSARIN_TEST_DATA) / "config/cs.lng", ProgramPath("Default.lng"),
                      fs::copy_options::overwrite_existing);
        return Tl10n(ProgramPath("Default.lng"));
    }
};

TEST_F(Language, BuiltInTableGivesTheStatedDefaults)
{
    EXPECT_EQ(Tl10n::DefaultText("LANG_BUTTON_1"), "Next >");
    EXPECT_EQ(Tl10n::DefaultText("LANG_OKNO_1"), " - Welcome");
    EXPECT_EQ(Tl10n::DefaultText("LANG_SOUBOR"), "Restored file: ");
    EXPECT_EQ(Tl10n::DefaultText("LANG_END_FILE"),
              "The backup file is corrupted.  The program will exit.");
    EXPECT_EQ(Tl10n::DefaultText("LANG_CAPTION"), "Enter ZIP Password");
    EXPECT_EQ(Tl10n::DefaultText("LANG_NO_PROGRAM"),
              "Mozilla application doesn't found on your system.");
    EXPECT_EQ(Tl10n::DefaultText("LANG_FILE"), "File");
    // Nothing named that this platform does not have.
    EXPECT_EQ(Tl10n::DefaultText("LANG_MEMO11"),
              "It is strongly recommended that you exit all programs that can manipulate any of "
              "your Mozilla user profiles before continuing.");
    EXPECT_EQ(Tl10n::DefaultText("LANG_BADINIREAD"), "I cannot read file Backup.ini");
    EXPECT_EQ(Tl10n::DefaultText("LANG_DIALOGS"), "Tessarin vault (*.pcv) | *.pcv");
    EXPECT_EQ(Tl10n::DefaultText("LANG_BADFIRSTPARAM"),
              "Bad first param. You can use \"-m\", \"-f\" or \"-t\" only. See documentation.");
    EXPECT_EQ(Tl10n::DefaultText("LANG_WRITE_ERROR"),
              "The program can not write in the backup file. Either the disk is full or you do "
              "not have write permissions. The program will exit.");
    EXPECT_EQ(Tl10n::DefaultText("DefaultCharset"), "1");
    EXPECT_EQ(Tl10n::DefaultText("Font"), "");
    // Keys match with case in the table.
    EXPECT_EQ(Tl10n::DefaultText("LANG_WARNING"), "Warning");
    EXPECT_EQ(Tl10n::DefaultText("lang_warning"), "");
    EXPECT_EQ(Tl10n::DefaultText("LANG_NO_SUCH_KEY"), "");

    const auto table = DefaultLanguageTable();
    ASSERT_EQ(table.size(), 236u);
    EXPECT_EQ(table.front().Key, "DefaultCharset");
    EXPECT_EQ(table[2].Key, "LANG_OKNO_1");
    EXPECT_EQ(table.back().Key, "LANG_OLD_BACKUP_REMOVED");
    for (const TLanguageRow& row : table) {
        EXPECT_EQ(Tl10n::DefaultText(std::string(row.Key)), row.Text) << row.Key;
        if (row.Key != "Font") {
            EXPECT_FALSE(row.Text.empty()) << row.Key;
        }
    }
}

TEST_F(Language, MissingEmptyOrUnusableFileGivesEnglish)
{
    const Tl10n missing(ProgramPath("Default.lng"));
    const Tl10n empty = WithFile("");
    const Tl10n noSections = WithFile("LANG_BUTTON_1=Weiter >\nFont=Arial\n");
    const Tl10n longLine = WithFile(std::string(100000, 'x') + "\n[TForm1\n");
    std::string garbage;
    for (int i = 0; i < 8192; ++i)
        garbage += static_cast<char>((i * 2654435761u) >> 24);
    for (const Tl10n* l : {&missing, &empty, &noSections, &longLine}) {
        EXPECT_EQ(l->GetText("TForm1", "LANG_BUTTON_1"), "Next >");
        EXPECT_EQ(l->GetText("Tessarin14", "LANG_DIRECTORY"), "directory");
        EXPECT_EQ(l->GetFontName(), "");
        EXPECT_EQ(l->GetUsableFontName(), "");
        EXPECT_EQ(l->GetFontCharset(), 1);
    }
    const Tl10n binary = WithFile(garbage);
    EXPECT_EQ(binary.GetText("TForm1", "LANG_BUTTON_2"), "Cancel");
    EXPECT_EQ(binary.GetFontCharset(), 1);

    // A folder in the file's place cannot be read: no error, English.
    fs::remove(ProgramPath("Default.lng"));
    fs::create_directory(ProgramPath("Default.lng"));
    EXPECT_EQ(missing.GetText("TForm1", "LANG_BUTTON_3"), "< Back");
}

TEST_F(Language, FileTextWinsInItsOwnSectionOnly)
{
    const Tl10n cs = Czech();
    EXPECT_EQ(cs.GetText("TForm1", "LANG_BUTTON_1"), "Další >");
    EXPECT_EQ(cs.GetText("Tessarin14", "LANG_BUTTON_1"), "Tohle se nikde nezobrazí");
    EXPECT_EQ(cs.GetText("TForm4", "LANG_BUTTON_1"), "Next >");
    // Names in the file match in any case; the quoted leading blank stays.
    EXPECT_EQ(cs.GetText("TForm1", "LANG_BUTTON_2"), "Storno");
    EXPECT_EQ(cs.GetText("TFORM1", "lang_okno_1"), " - Vítejte");
    EXPECT_EQ(cs.GetText("TForm4", "LANG_CAPTION"), "Nastavit heslo");
    EXPECT_EQ(cs.GetText("TForm5", "LANG_CAPTION"), "Zadejte heslo k ZIP");
    // Unquoted blanks go.
    EXPECT_EQ(cs.GetText("TForm1", "LANG_WARNING"), "Upozornění");
    // A translation keeps its own wording, even where the English one changed.
    EXPECT_EQ(cs.GetText("TForm1", "LANG_MEMO11"),
              "Před pokračováním ukončete všechny programy Windows, které mohou měnit profily.");
    // Empty value, missing key, missing section: the table answers.
    EXPECT_EQ(cs.GetText("TForm1", "LANG_BUTTON_3"), "< Back");
    EXPECT_EQ(cs.GetText("TForm1", "LANG_QUESTION"), "Question");
    EXPECT_EQ(cs.GetText("LANG_DIRECTORY", "LANG_PREFS_JS_NOT_FOUND"),
              "Config file prefs.js doesn't found.");
    // A key unknown to file and table gives nothing.
    EXPECT_EQ(cs.GetText("TForm1", "LANG_NOTHING"), "");
    EXPECT_EQ(cs.GetFontName(), "Tahoma");
    EXPECT_EQ(cs.GetFontCharset(), 238);
}

TEST_F(Language, EveryLookupReadsTheFileAgain)
{
    const Tl10n l = WithFile("[TForm1]\nLANG_BUTTON_1=Weiter >\n");
    EXPECT_EQ(l.GetText("TForm1", "LANG_BUTTON_1"), "Weiter >");
    WriteProgramFile("Default.lng", "[TForm1]\nLANG_BUTTON_1=Avanti >\n");
    EXPECT_EQ(l.GetText("TForm1", "LANG_BUTTON_1"), "Avanti >");
    fs::remove(ProgramPath("Default.lng"));
    EXPECT_EQ(l.GetText("TForm1", "LANG_BUTTON_1"), "Next >");
}

TEST_F(Language, ArgumentsReplaceTheFirstPercentSOnly)
{
    const Tl10n l(ProgramPath("Default.lng"));
    EXPECT_EQ(l.GetTextWithArg("Tessarin14", "LANG_DETEKCE", "Mozilla Firefox"),
              "Mozilla Firefox is running. Exit it and click the Retry button.");
    EXPECT_EQ(
        l.GetTextWithArg("LANG_SECTION_TESSARIN15", "LANG_CMD_CONFIG_NOT_FOUND", "C:\\task.ini"),
        "Cannot find config file C:\\task.ini.");
    EXPECT_EQ(l.GetTextWithArgs("Tessarin15", "LANG_INVALID_BACKUP_VERSION", "Mozilla Firefox",
                                "Mozilla Thunderbird"),
              "Selected backup file is not for selected application. Selected application: "
              "Mozilla Firefox, backup file is from application: Mozilla Thunderbird.");
    // One argument for two "%s": the second stays.
    EXPECT_EQ(l.GetTextWithArg("Tessarin15", "LANG_INVALID_BACKUP_VERSION", "A"),
              "Selected backup file is not for selected application. Selected application: A, "
              "backup file is from application: %s.");
    // A "%s" brought in by the first argument receives the second.
    EXPECT_EQ(l.GetTextWithArgs("Tessarin15", "LANG_INVALID_BACKUP_VERSION", "%s!", "B"),
              "Selected backup file is not for selected application. Selected application: B!, "
              "backup file is from application: %s.");
    // Extra arguments are ignored; other "%" sequences are left alone.
    EXPECT_EQ(l.GetTextWithArgs("TForm1", "LANG_DETEKCE", "X", "Y"),
              "X is running. Exit it and click the Retry button.");
    EXPECT_EQ(l.GetTextWithArg("TForm1", "LANG_WARNING", "X"), "Warning");
    const Tl10n odd = WithFile("[TForm1]\nLANG_X=100% %d %S %s %s\n");
    EXPECT_EQ(odd.GetTextWithArg("TForm1", "LANG_X", "a%sb"), "100% %d %S a%sb %s");

    const Tl10n cs = Czech();
    EXPECT_EQ(cs.GetTextWithArg("Tessarin14", "LANG_DETEKCE", "Mozilla Firefox"),
              "Mozilla Firefox běží. Ukončete ho a klepněte na Opakovat.");
    EXPECT_EQ(cs.GetTextWithArg("TForm1", "LANG_DETEKCE", "Mozilla Firefox"),
              "Mozilla Firefox běží (hlavní okno).");
}

TEST_F(Language, FontNameAndCharset)
{
    EXPECT_EQ(WithFile("[Common]\nDefaultCharset=238\n").GetFontCharset(), 238);
    EXPECT_EQ(WithFile("[common]\ndefaultcharset=  0  \n").GetFontCharset(), 0);
    EXPECT_EQ(WithFile("[Common]\nDefaultCharset=\n").GetFontCharset(), 1);
    for (const char* bad : {"abc", "238x", "1.5", "99999999999"}) {
        const Tl10n l = WithFile(std::string("[Common]\nDefaultCharset=") + bad + "\n");
        EXPECT_THROW(l.GetFontCharset(), std::invalid_argument) << bad;
    }

    const std::string longName = "Bitstream Vera Sans Mono Condensed Oblique";
    const Tl10n l = WithFile("[Common]\nFont=" + longName + "\n");
    EXPECT_EQ(l.GetFontName(), longName);
    EXPECT_EQ(l.GetUsableFontName(), longName.substr(0, 31));
    EXPECT_EQ(WithFile("[Common]\nFont=\"  \"\n").GetUsableFontName(), "  ");
}

TEST(CutFontName, CountsCharactersNotBytes)
{
    EXPECT_EQ(CutFontName(""), "");
    EXPECT_EQ(CutFontName("Arial"), "Arial");
    EXPECT_EQ(CutFontName(std::string(31, 'a')), std::string(31, 'a'));
    EXPECT_EQ(CutFontName(std::string(32, 'a')), std::string(31, 'a'));
    // 40 two-byte letters: 31 of them, none cut in half.
    std::string wide;
    for (int i = 0; i < 40; ++i)
        wide += "\xC3\xA9";
    EXPECT_EQ(CutFontName(wide).size(), 62u);
    // A three-byte character straddling the limit stays whole.
    EXPECT_EQ(CutFontName(std::string(30, 'a') + "\xE6\x98\x8E" + "bc"),
              std::string(30, 'a') + "\xE6\x98\x8E");
    // Stray continuation bytes (a broken file) count as characters of their own.
    EXPECT_EQ(CutFontName("Tahoma" + std::string(200, '\xB6')), "Tahoma" + std::string(25, '\xB6'));
}

TEST_F(Language, TextsComeFromTheCurrentEnvironment)
{
    WriteProgramFile("Default.lng", "[TForm1]\nLANG_BUTTON_1=Weiter >\n");
    EXPECT_EQ(Text("TForm1", "LANG_BUTTON_1"), "Weiter >");
    {
        test::TTestEnvironment other;
        other.UseLanguageText("[TForm1]\nLANG_BUTTON_1=Avanti >\n");
        EXPECT_EQ(Text("TForm1", "LANG_BUTTON_1"), "Avanti >");
    }
    EXPECT_EQ(Text("TForm1", "LANG_BUTTON_1"), "Weiter >");
}

} // namespace
