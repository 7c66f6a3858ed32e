// The new-profile dialog and the folder picker's answer handling. The picker itself is
// replaced by a scripted one, so no modal dialog opens.

#include "DialogTestSupport.h"
#include "app/dialogs/NewProfileDialog.h"
#include "config/L10n.h"
#include "support/TestEnvironment.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace tessarin;

using namespace tessarin::test;
namespace dlg = names::newProfile;

namespace {

// Answers Browse from a queue and records what it was asked.
struct TScriptedBrowser {
    std::deque<std::optional<std::string>> Answers;
    std::vector<std::pair<std::string, std::string>> Calls;

    TFolderBrowser Browser()
    {
        return [this](const std::string& caption, const std::string& folder) {
            Calls.emplace_back(caption, folder);
            if (Answers.empty())
                qFatal("Browse was not expected");
            auto answer = Answers.front();
            Answers.pop_front();
            return answer;
        };
    }
};

} // namespace

class TestNewProfileDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TTestEnvironment> env_;

private slots:
    void init()
    {
        env_ = std::make_unique<test::TTestEnvironment>();
        env_->UseLanguageText("");
    }
    void cleanup() { env_.reset(); }

    void layoutAndEnglishTexts()
    {
        TForm2 dialog;
        ShowAndWait(dialog);
        QCOMPARE(dialog.size(), QSize(316, 154));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("New profile"));
        QCOMPARE(Control<QLabel>(dialog, dlg::NameText)->text(),
                 QStringLiteral("Enter the new profile name:"));
        QCOMPARE(Control<QLabel>(dialog, dlg::NameText)->pos(), QPoint(16, 8));
        auto* group = Control<QGroupBox>(dialog, dlg::LocationBox);
        QCOMPARE(group->title(), QStringLiteral("Location:"));
        auto* location = Control<QLabel>(dialog, dlg::Location);
        QCOMPARE(location->parentWidget(), group);
        QCOMPARE(location->pos(), QPoint(10, 22));
        QCOMPARE(location->text(), QStringLiteral("Default directory"));
        QCOMPARE(location->toolTip(), QString());
        auto* browse = Control<QPushButton>(dialog, dlg::Browse);
        QCOMPARE(browse->parentWidget(), group);
        QCOMPARE(browse->text(), QStringLiteral("Browse..."));

        const std::vector<std::pair<const char*, QRect>> boxes = {
            {dlg::Name, {16, 24, 281, 21}},
            {dlg::LocationBox, {16, 56, 281, 49}},
            {dlg::Browse, {200, 16, 75, 25}},
            {dlg::Ok, {64, 120, 75, 25}},
            {dlg::Cancel, {168, 120, 75, 25}}};
        for (const auto& [name, rect] : boxes)
            QCOMPARE(Control<QWidget>(dialog, name)->geometry(), rect);
        QCOMPARE(Control<QPushButton>(dialog, dlg::Ok)->text(), QStringLiteral("OK"));
        QCOMPARE(Control<QPushButton>(dialog, dlg::Cancel)->text(), QStringLiteral("Cancel"));
        QVERIFY(Control<QPushButton>(dialog, dlg::Ok)->isDefault());
        QCOMPARE(dialog.focusWidget(), Control<QLineEdit>(dialog, dlg::Name));
    }

    void textsAndFontFromLanguageFile()
    {
        env_->UseLanguageText(
            "[TForm1]\nLANG_NEW_PROFIL=Novy profil\nLANG_DIR_DEFAULT=Vychozi adresar\n"
            "LANG_LOCATION=Umisteni:\n[Common]\nFont=DejaVu Sans Mono\n");
        TForm2 dialog;
        ShowAndWait(dialog);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Novy profil"));
        QCOMPARE(Control<QLabel>(dialog, dlg::Location)->text(), QStringLiteral("Vychozi adresar"));
        QCOMPARE(Control<QGroupBox>(dialog, dlg::LocationBox)->title(),
                 QStringLiteral("Umisteni:"));
        QCOMPARE(Control<QLabel>(dialog, dlg::NameText)->font().family(),
                 QStringLiteral("DejaVu Sans Mono"));
    }

    // OK hands the name back as typed: checking it belongs to profile creation.
    void okHandsBackTheNameUnchecked_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("empty") << QString();
        QTest::newRow("mixed case") << "MyProfile";
        QTest::newRow("forbidden characters") << "a:b/c*?";
        QTest::newRow("blanks") << "  work profile ";
    }
    void okHandsBackTheNameUnchecked()
    {
        QFETCH(QString, typed);
        TForm2 dialog;
        ShowAndWait(dialog);
        QTest::keyClicks(Control<QLineEdit>(dialog, dlg::Name), typed);
        Click(dialog, dlg::Ok);
        QVERIFY(!dialog.isVisible());
        const auto answer = dialog.Result();
        QVERIFY(answer.has_value());
        QCOMPARE(QString::fromStdString(answer->Name), typed);
        QCOMPARE(answer->Location, std::string());
    }

    void enterConfirmsEscapeAndCloseCancel()
    {
        TForm2 dialog;
        ShowAndWait(dialog);
        QTest::keyClicks(Control<QLineEdit>(dialog, dlg::Name), "p1");
        QTest::keyClick(Control<QLineEdit>(dialog, dlg::Name), Qt::Key_Return);
        QVERIFY(dialog.Result().has_value());

        ShowAndWait(dialog);
        QVERIFY(!dialog.IsAccepted());
        QTest::keyClicks(Control<QLineEdit>(dialog, dlg::Name), "p2");
        QTest::keyClick(Control<QLineEdit>(dialog, dlg::Name), Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.Result(), std::nullopt);

        ShowAndWait(dialog);
        dialog.close();
        QCOMPARE(dialog.Result(), std::nullopt);
    }

    void browseShowsTheChosenFolder()
    {
        const std::string shortPath = "/home/anna/profiles/thunderbird"; // 31 characters
        const std::string longPath = "/home/anna/profiles/thunderbird2"; // 32 characters
        QCOMPARE(shortPath.size(), std::size_t(31));
        TScriptedBrowser browser;
        browser.Answers = {shortPath, longPath, std::nullopt};
        TForm2 dialog;
        dialog.SetFolderBrowser(browser.Browser());
        ShowAndWait(dialog);
        auto* location = Control<QLabel>(dialog, dlg::Location);

        Click(dialog, dlg::Browse);
        QCOMPARE(location->text(), QString::fromStdString(shortPath));
        QCOMPARE(location->toolTip(), QString::fromStdString(shortPath));

        Click(dialog, dlg::Browse);
        QCOMPARE(location->text(), QStringLiteral("/ho...home/anna/profiles/thunderbird2"));
        QCOMPARE(location->toolTip(), QString::fromStdString(longPath));
        QVERIFY(location->width() >= location->sizeHint().width());

        // Cancelling the picker keeps the folder chosen before.
        Click(dialog, dlg::Browse);
        QCOMPARE(location->toolTip(), QString::fromStdString(longPath));
        QCOMPARE(dialog.Location(), longPath);

        // Every Browse asks with the same caption and no preselected folder.
        const std::pair<std::string, std::string> call{
            "Select folder where you want to store a profile.", ""};
        QCOMPARE(browser.Calls, (std::vector{call, call, call}));

        QTest::keyClicks(Control<QLineEdit>(dialog, dlg::Name), "new");
        Click(dialog, dlg::Ok);
        const auto answer = dialog.Result();
        QVERIFY(answer.has_value());
        QCOMPARE(answer->Name, std::string("new"));
        QCOMPARE(answer->Location, longPath);
    }

    void cancelAfterBrowseForgetsTheFolder()
    {
        TScriptedBrowser browser;
        browser.Answers = {std::string("/srv/profiles")};
        TForm2 dialog;
        dialog.SetFolderBrowser(browser.Browser());
        ShowAndWait(dialog);
        QTest::keyClicks(Control<QLineEdit>(dialog, dlg::Name), "typed");
        Click(dialog, dlg::Browse);
        Click(dialog, dlg::Cancel);
        QCOMPARE(dialog.Result(), std::nullopt);

        ShowAndWait(dialog);
        QCOMPARE(Control<QLabel>(dialog, dlg::Location)->text(),
                 QStringLiteral("Default directory"));
        QCOMPARE(Control<QLabel>(dialog, dlg::Location)->toolTip(), QString());
        QCOMPARE(Control<QLineEdit>(dialog, dlg::Name)->text(), QString());
        QCOMPARE(dialog.Location(), std::string());
        Click(dialog, dlg::Ok);
        QCOMPARE(dialog.Result()->Location, std::string());
    }

    void shortenLocationCountsCharacters()
    {
        QCOMPARE(TForm2::ShortenLocation(QString()), QString());
        const QString thirtyOne(31, QLatin1Char('a'));
        QCOMPARE(TForm2::ShortenLocation(thirtyOne), thirtyOne);
        const QString forty = QStringLiteral("/abcdefghijklmnopqrstuvwxyz0123456789ABC");
        QCOMPARE(forty.size(), 40);
        QCOMPARE(TForm2::ShortenLocation(forty), QStringLiteral("/ab...") + forty.right(31));
        // Letters outside the basic plane are not cut in half.
        const QString wide = QString::fromUtf8("/\xF0\x9F\x93\x81") + QString(40, QLatin1Char('x'));
        const QString shortened = TForm2::ShortenLocation(wide);
        QCOMPARE(shortened.toUcs4().size(), 37);
        QVERIFY(shortened.startsWith(QString::fromUtf8("/\xF0\x9F\x93\x81x...")));
    }

    void chosenFolderNeedsAnExistingFolder()
    {
        const auto folder = env_->Dir().Path() / "Profiles";
        std::filesystem::create_directories(folder);
        env_->Dir().Write("file.txt", "x");
        const QString base = QString::fromStdString(env_->Dir().Path().string());

        QCOMPARE(ChosenFolder(QString()), std::nullopt);
        QCOMPARE(ChosenFolder(base + "/Profiles/"), std::optional(folder.string()));
        QCOMPARE(ChosenFolder(base + "//Profiles"), std::optional(folder.string()));
        QCOMPARE(ChosenFolder(base + "/missing"), std::nullopt);
        QCOMPARE(ChosenFolder(base + "/file.txt"), std::nullopt);
        QCOMPARE(ChosenFolder(QStringLiteral("/")), std::optional<std::string>("/"));
    }

    void grabForReview()
    {
        const QString folder = qEnvironmentVariable("TESSARIN_DIALOG_GRABS");
        if (folder.isEmpty())
            QSKIP("set TESSARIN_DIALOG_GRABS to a folder to write the pictures");
        TScriptedBrowser browser;
        browser.Answers = {std::string("/home/anna/.thunderbird/profiles/work-2009")};
        TForm2 dialog;
        dialog.SetFolderBrowser(browser.Browser());
        ShowAndWait(dialog);
        QVERIFY(dialog.grab().save(folder + "/TForm2.png"));
        QTest::keyClicks(Control<QLineEdit>(dialog, dlg::Name), "work");
        Click(dialog, dlg::Browse);
        QVERIFY(dialog.grab().save(folder + "/TForm2-folder.png"));
    }
};

QTEST_MAIN(TestNewProfileDialog)
#include "tst_dialogs_newprofile.moc"
