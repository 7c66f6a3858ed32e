// The set-password and enter-password dialogs, driven without a modal loop: each test
// shows the dialog non-modally, types with QTest and clicks its buttons.

#include "DialogTestSupport.h"
#include "app/dialogs/PasswordDialogs.h"
#include "config/L10n.h"
#include "support/TestEnvironment.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace tessarin;

using namespace tessarin::test;
namespace set = names::setPassword;
namespace enter = names::enterPassword;

namespace {

using TMessages = std::vector<std::pair<std::string, std::string>>;

// Types text key by key; letters beyond ASCII arrive as key events carrying their text.
void Type(QWidget& dialog, const char* field, const QString& text)
{
    auto* edit = Control<QLineEdit>(dialog, field);
    for (const QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(edit, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

} // namespace

class TestPasswordDialogs : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TTestEnvironment> env_;
    TMessages messages_;

    void Capture(TForm4& dialog)
    {
        dialog.SetMessagePresenter([this](const std::string& caption, const std::string& text) {
            messages_.emplace_back(caption, text);
        });
    }

private slots:
    void init()
    {
        env_ = std::make_unique<test::TTestEnvironment>();
        messages_.clear();
        env_->UseLanguageText("");
    }
    void cleanup() { env_.reset(); }

    void setPasswordLayoutAndEnglishTexts()
    {
        TForm4 dialog;
        ShowAndWait(dialog);
        QCOMPARE(dialog.size(), QSize(275, 181));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Enter ZIP Password"));

        const std::vector<std::pair<const char*, QRect>> boxes = {
            {set::Box, {8, 8, 257, 121}},        {set::Line, {16, 40, 217, 2}},
            {set::Password, {112, 54, 121, 21}}, {set::Repeat, {112, 80, 121, 21}},
            {set::Ok, {88, 144, 75, 25}},        {set::Cancel, {184, 144, 75, 25}}};
        for (const auto& [name, rect] : boxes)
            QCOMPARE(Control<QWidget>(dialog, name)->geometry(), rect);

        const std::vector<std::tuple<const char*, QPoint, QString>> labels = {
            {set::Prompt, {16, 16}, "Enter the password:"},
            {set::PasswordText, {16, 58}, "Password:"},
            {set::RepeatText, {16, 84}, "Confirm password:"}};
        for (const auto& [name, pos, text] : labels) {
            auto* label = Control<QLabel>(dialog, name);
            QCOMPARE(label->pos(), pos);
            QCOMPARE(label->text(), text);
            // The whole text fits: labels size themselves to their text.
            QVERIFY(label->width() >= label->sizeHint().width());
        }
        QCOMPARE(Control<QGroupBox>(dialog, set::Box)->title(), QString());
        QCOMPARE(Control<QPushButton>(dialog, set::Ok)->text(), QStringLiteral("OK"));
        QCOMPARE(Control<QPushButton>(dialog, set::Cancel)->text(), QStringLiteral("Cancel"));
        QVERIFY(Control<QPushButton>(dialog, set::Ok)->isDefault());
        QCOMPARE(dialog.focusWidget(), Control<QLineEdit>(dialog, set::Password));
    }

    void setPasswordTextsAndFontFromLanguageFile()
    {
        env_->UseLanguageText("[TForm4]\nLANG_CAPTION=Set password\nLANG_HESLO=Heslo:\n"
                              "LANG_NO_STEJ=Hesla se neshoduji.\n"
                              "[TForm1]\nLANG_BUTTON_2=Storno\nLANG_WARNING=Varovani\n"
                              "[Common]\nFont=DejaVu Serif\nDefaultCharset=238\n");
        TForm4 dialog;
        Capture(dialog);
        ShowAndWait(dialog);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Set password"));
        QCOMPARE(Control<QLabel>(dialog, set::PasswordText)->text(), QStringLiteral("Heslo:"));
        QCOMPARE(Control<QPushButton>(dialog, set::Cancel)->text(), QStringLiteral("Storno"));
        QCOMPARE(dialog.font().family(), QStringLiteral("DejaVu Serif"));
        QCOMPARE(Control<QLabel>(dialog, set::Prompt)->font().family(),
                 QStringLiteral("DejaVu Serif"));
        QCOMPARE(dialog.property("fontCharset").toInt(), 238);

        Type(dialog, set::Password, "abc");
        Type(dialog, set::Repeat, "abd");
        Click(dialog, set::Ok);
        QCOMPARE(messages_, (TMessages{{"Varovani", "Hesla se neshoduji."}}));
    }

    void fontNamesAreCutAndBrokenCharsetsTolerated()
    {
        env_->UseLanguageText(
            "[Common]\nFont=ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefgh\nDefaultCharset=many\n");
        TForm5 dialog;
        ShowAndWait(dialog);
        QCOMPARE(dialog.font().family(), QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcde"));
        QCOMPARE(dialog.property("fontCharset").toInt(), 1);

        // Without a font name the dialog keeps the font it was laid out for.
        env_->UseLanguageText("");
        dialog.hide();
        ShowAndWait(dialog);
        QCOMPARE(dialog.font().pixelSize(), 11);
        QVERIFY(dialog.font().families().contains(QStringLiteral("Liberation Sans")));
    }

    void setPasswordChecks_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("message"); // empty: accepted

        const QString tooShort = "Password should be at least three characters long.";
        const QString mismatch = "The passwords you typed do not match.";
        QTest::newRow("two characters") << "ab"
                                        << "ab" << tooShort;
        QTest::newRow("both empty") << ""
                                    << "" << tooShort;
        QTest::newRow("two letters, four bytes") << "éé"
                                                 << "éé" << tooShort;
        QTest::newRow("mismatch before length") << "a"
                                                << "b" << mismatch;
        QTest::newRow("case differs") << "secret"
                                      << "Secret" << mismatch;
        QTest::newRow("one character differs") << "secret1"
                                               << "secret2" << mismatch;
        QTest::newRow("second empty") << "abc"
                                      << "" << mismatch;
        QTest::newRow("three characters") << "abc"
                                          << "abc" << QString();
        QTest::newRow("blanks count") << " a "
                                      << " a " << QString();
    }

    void setPasswordChecks()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, message);

        TForm4 dialog;
        Capture(dialog);
        ShowAndWait(dialog);
        Type(dialog, set::Password, first);
        Type(dialog, set::Repeat, second);
        Click(dialog, set::Ok);

        if (message.isEmpty()) {
            QVERIFY(messages_.empty());
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(dialog.Result(), std::optional<std::string>(first.toStdString()));
        } else {
            QCOMPARE(messages_, (TMessages{{"Warning", message.toStdString()}}));
            QVERIFY(dialog.isVisible());
            QVERIFY(!dialog.IsAccepted());
            QCOMPARE(dialog.Result(), std::nullopt);
            // Both fields stay as typed, so the person can correct one of them.
            QCOMPARE(Control<QLineEdit>(dialog, set::Password)->text(), first);
            QCOMPARE(Control<QLineEdit>(dialog, set::Repeat)->text(), second);
        }
    }

    void setPasswordTakesEightyMaskedCharacters()
    {
        TForm4 dialog;
        Capture(dialog);
        ShowAndWait(dialog);
        const QString eighty(80, QLatin1Char('x'));
        Type(dialog, set::Password, eighty + "yz");
        Type(dialog, set::Repeat, eighty);
        auto* edit1 = Control<QLineEdit>(dialog, set::Password);
        QCOMPARE(edit1->text(), eighty);
        QCOMPARE(edit1->echoMode(), QLineEdit::Password);
        QCOMPARE(edit1->displayText(), QString(80, QLatin1Char('*')));
        QCOMPARE(Control<QLineEdit>(dialog, set::Repeat)->displayText(),
                 QString(80, QLatin1Char('*')));
        Click(dialog, set::Ok);
        QCOMPARE(dialog.Result(), std::optional<std::string>(eighty.toStdString()));
    }

    void setPasswordEnterConfirmsEscapeCancels()
    {
        TForm4 dialog;
        Capture(dialog);
        ShowAndWait(dialog);
        Type(dialog, set::Password, "pass");
        Type(dialog, set::Repeat, "pass");
        QTest::keyClick(Control<QLineEdit>(dialog, set::Repeat), Qt::Key_Return);
        QCOMPARE(dialog.Result(), std::optional<std::string>("pass"));

        ShowAndWait(dialog);
        Type(dialog, set::Password, "pass");
        Type(dialog, set::Repeat, "pass");
        QTest::keyClick(Control<QLineEdit>(dialog, set::Repeat), Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.Result(), std::nullopt);

        ShowAndWait(dialog);
        Type(dialog, set::Password, "pass");
        Type(dialog, set::Repeat, "pass");
        dialog.close(); // the close box
        QCOMPARE(dialog.Result(), std::nullopt);
        QVERIFY(messages_.empty());
    }

    void setPasswordStartsEmptyAtEveryShowing()
    {
        TForm4 dialog;
        Capture(dialog);
        ShowAndWait(dialog);
        Type(dialog, set::Password, "first");
        Type(dialog, set::Repeat, "first");
        Click(dialog, set::Ok);
        QVERIFY(dialog.IsAccepted());

        ShowAndWait(dialog);
        QVERIFY(!dialog.IsAccepted());
        QCOMPARE(Control<QLineEdit>(dialog, set::Password)->text(), QString());
        QCOMPARE(Control<QLineEdit>(dialog, set::Repeat)->text(), QString());
        QCOMPARE(dialog.focusWidget(), Control<QLineEdit>(dialog, set::Password));
        Type(dialog, set::Password, "typed");
        Click(dialog, set::Cancel);
        QCOMPARE(dialog.Result(), std::nullopt);

        ShowAndWait(dialog);
        QCOMPARE(Control<QLineEdit>(dialog, set::Password)->text(), QString());
        QCOMPARE(Control<QLineEdit>(dialog, set::Repeat)->text(), QString());
    }

    void enterPasswordLayoutAndTexts()
    {
        // The password label comes from the set-password dialog's section.
        env_->UseLanguageText(
            "[TForm5]\nLANG_LABEL1=Soubor je zasifrovan:\n[TForm4]\nLANG_HESLO=Heslo:\n"
            "[TForm5]\nLANG_HESLO=not this one\n");
        QWidget mainWindow;
        mainWindow.setGeometry(200, 150, 471, 327);
        mainWindow.show();
        TForm5 dialog(&mainWindow);
        ShowAndWait(dialog);
        QCOMPARE(dialog.size(), QSize(290, 135));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Enter ZIP Password"));
        QCOMPARE(Control<QLabel>(dialog, enter::Prompt)->text(),
                 QStringLiteral("Soubor je zasifrovan:"));
        QCOMPARE(Control<QLabel>(dialog, enter::PasswordText)->text(), QStringLiteral("Heslo:"));
        QCOMPARE(Control<QLabel>(dialog, enter::Prompt)->pos(), QPoint(16, 16));
        QCOMPARE(Control<QLabel>(dialog, enter::PasswordText)->pos(), QPoint(16, 48));
        const std::vector<std::pair<const char*, QRect>> boxes = {
            {enter::Box, {8, 8, 273, 89}},
            {enter::Password, {80, 44, 169, 21}},
            {enter::Ok, {112, 104, 75, 25}},
            {enter::Cancel, {200, 104, 75, 25}}};
        for (const auto& [name, rect] : boxes)
            QCOMPARE(Control<QWidget>(dialog, name)->geometry(), rect);
        QVERIFY(Control<QPushButton>(dialog, enter::Ok)->isDefault());
        QCOMPARE(dialog.focusWidget(), Control<QLineEdit>(dialog, enter::Password));
        QCOMPARE(dialog.pos(), QPoint(200 + (471 - 290) / 2, 150 + (327 - 135) / 2));
    }

    void enterPasswordIgnoresEmptyOk()
    {
        TForm5 dialog;
        ShowAndWait(dialog);
        Click(dialog, enter::Ok);
        QVERIFY(dialog.isVisible());
        QVERIFY(!dialog.IsAccepted());
        QTest::keyClick(Control<QLineEdit>(dialog, enter::Password), Qt::Key_Return);
        QVERIFY(dialog.isVisible());

        Type(dialog, enter::Password, "x");
        Click(dialog, enter::Ok);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.Result(), std::optional<std::string>("x"));
    }

    void enterPasswordOkCancelAndFreshShowings()
    {
        TForm5 dialog;
        ShowAndWait(dialog);
        Type(dialog, enter::Password, "Geheim 1");
        Click(dialog, enter::Ok);
        QCOMPARE(dialog.Result(), std::optional<std::string>("Geheim 1"));

        // A new showing forgets the accepted answer and the text.
        ShowAndWait(dialog);
        QVERIFY(!dialog.IsAccepted());
        QCOMPARE(Control<QLineEdit>(dialog, enter::Password)->text(), QString());
        Type(dialog, enter::Password, "typed then cancelled");
        Click(dialog, enter::Cancel);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.Result(), std::nullopt);

        ShowAndWait(dialog);
        QCOMPARE(Control<QLineEdit>(dialog, enter::Password)->text(), QString());
        QTest::keyClick(Control<QLineEdit>(dialog, enter::Password), Qt::Key_Escape);
        QCOMPARE(dialog.Result(), std::nullopt);
    }

    void enterPasswordTakesEightyMaskedCharacters()
    {
        TForm5 dialog;
        ShowAndWait(dialog);
        Type(dialog, enter::Password, QString(81, QLatin1Char('p')));
        auto* edit = Control<QLineEdit>(dialog, enter::Password);
        QCOMPARE(edit->text().size(), 80);
        QCOMPARE(edit->displayText(), QString(80, QLatin1Char('*')));
    }

    // Writes pictures of both dialogs for a look at the layout; only on request.
    void grabForReview()
    {
        const QString folder = qEnvironmentVariable("TESSARIN_DIALOG_GRABS");
        if (folder.isEmpty())
            QSKIP("set TESSARIN_DIALOG_GRABS to a folder to write the pictures");
        TForm4 setDialog;
        ShowAndWait(setDialog);
        Type(setDialog, set::Password, "secret");
        QVERIFY(setDialog.grab().save(folder + "/TForm4.png"));
        TForm5 enterDialog;
        ShowAndWait(enterDialog);
        QVERIFY(enterDialog.grab().save(folder + "/TForm5.png"));
    }
};

QTEST_MAIN(TestPasswordDialogs)
#include "tst_dialogs_password.moc"
