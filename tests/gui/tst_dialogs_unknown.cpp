// The unknown-files dialog: its lines, the Select/Deselect all box, and the marks that
// OK keeps and Cancel throws away. Shown non-modally; nothing waits for a person.

#include "DialogTestSupport.h"
#include "app/dialogs/UnknownFilesDialog.h"
#include "config/L10n.h"
#include "support/TestEnvironment.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

using namespace tessarin;

using namespace tessarin::test;
namespace dlg = names::unknownFiles;

namespace {

QListWidget* List(QWidget& dialog)
{
    return Control<QListWidget>(dialog, dlg::List);
}

QStringList Lines(QWidget& dialog)
{
    QStringList lines;
    for (int i = 0; i < List(dialog)->count(); ++i)
        lines << List(dialog)->item(i)->text();
    return lines;
}

std::vector<bool> Marks(QWidget& dialog)
{
    std::vector<bool> marks;
    for (int i = 0; i < List(dialog)->count(); ++i)
        marks.push_back(List(dialog)->item(i)->checkState() == Qt::Checked);
    return marks;
}

// Toggles line i the way a person does with the keyboard.
void Toggle(QWidget& dialog, int i)
{
    List(dialog)->setCurrentRow(i);
    QTest::keyClick(List(dialog), Qt::Key_Space);
}

// Top-level leftovers of a real Firefox profile that no component covers.
const std::vector<TUnknowItem> ProfileLeftovers = {
    {"notes.txt", false}, {"bookmarkbackups_old", true}, {"Prefs.js", false}};

using TStrings = std::vector<std::string>;

} // namespace

class TestUnknownFilesDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TTestEnvironment> env_;

private slots:
    void init()
    {
        env_ = std::make_unique<test::TTestEnvironment>();
        env_->UseLanguageText("");
    }
    void cleanup() { env_.reset(); }

    void layoutTextsAndPlacement()
    {
        QWidget mainWindow;
        mainWindow.setGeometry(100, 80, 471, 327);
        mainWindow.show();
        TUnknowFilesFM dialog(&mainWindow);
        dialog.SetItems(ProfileLeftovers);
        ShowAndWait(dialog);

        QCOMPARE(dialog.size(), QSize(244, 327));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QCOMPARE(dialog.pos(), QPoint(100 + (471 - 244) / 2, 80));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Unknow files"));
        const std::vector<std::pair<const char*, QRect>> boxes = {
            {dlg::Description, {8, 8, 228, 35}},
            {dlg::List, {8, 49, 228, 208}},
            {dlg::SelectAll, {8, 263, 228, 17}},
            {dlg::Ok, {72, 286, 75, 25}},
            {dlg::Cancel, {161, 286, 75, 25}}};
        for (const auto& [name, rect] : boxes)
            QCOMPARE(Control<QWidget>(dialog, name)->geometry(), rect);
        QCOMPARE(
            Control<QLabel>(dialog, dlg::Description)->text(),
            QStringLiteral("Check unknow files in your profile which you want to backup/restore:"));
        QVERIFY(Control<QLabel>(dialog, dlg::Description)->wordWrap());
        QCOMPARE(Control<QCheckBox>(dialog, dlg::SelectAll)->text(),
                 QStringLiteral("Select/Deselect all"));
        QCOMPARE(Control<QPushButton>(dialog, dlg::Ok)->text(), QStringLiteral("OK"));
        QCOMPARE(Control<QPushButton>(dialog, dlg::Cancel)->text(), QStringLiteral("Cancel"));
        QVERIFY(Control<QPushButton>(dialog, dlg::Ok)->isDefault());

        QCOMPARE(Lines(dialog),
                 (QStringList{"notes.txt", "bookmarkbackups_old (directory)", "Prefs.js"}));
        QCOMPARE(Marks(dialog), (std::vector{true, true, true}));
        QVERIFY(Control<QCheckBox>(dialog, dlg::SelectAll)->isChecked());
    }

    void folderSuffixAndTextsFromLanguageFile()
    {
        env_->UseLanguageText(
            "[Tessarin14]\nLANG_DIRECTORY=adresar\nLANG_UNKNOW_FILES=Nezname soubory\n"
            "[TForm1]\nLANG_DIRECTORY=not this one\n[Common]\nFont=DejaVu Serif\n");
        TUnknowFilesFM dialog;
        dialog.SetItems({{"cache2_old", true}, {"a (directory)", false}});
        ShowAndWait(dialog);
        QCOMPARE(Lines(dialog), (QStringList{"cache2_old (adresar)", "a (directory)"}));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Nezname soubory"));
        QCOMPARE(List(dialog)->font().family(), QStringLiteral("DejaVu Serif"));
    }

    void checkedItemsAreReportedByName()
    {
        TUnknowFilesFM dialog;
        dialog.SetItems(ProfileLeftovers);
        QCOMPARE(dialog.ItemCount(), 3);
        // Never shown: every item counts as picked.
        QCOMPARE(dialog.CheckedItems(), ProfileLeftovers);

        ShowAndWait(dialog);
        Toggle(dialog, 0);
        Click(dialog, dlg::Ok);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.CheckedNames(), (TStrings{"bookmarkbackups_old", "Prefs.js"}));
        QCOMPARE(dialog.CheckedItems(),
                 (std::vector<TUnknowItem>{{"bookmarkbackups_old", true}, {"Prefs.js", false}}));
    }

    void selectDeselectAll()
    {
        TUnknowFilesFM dialog;
        dialog.SetItems(ProfileLeftovers);
        ShowAndWait(dialog);
        Toggle(dialog, 1);
        QCOMPARE(Marks(dialog), (std::vector{true, false, true}));

        Click(dialog, dlg::SelectAll);
        QVERIFY(!Control<QCheckBox>(dialog, dlg::SelectAll)->isChecked());
        QCOMPARE(Marks(dialog), (std::vector{false, false, false}));
        Click(dialog, dlg::SelectAll);
        QCOMPARE(Marks(dialog), (std::vector{true, true, true}));
        Click(dialog, dlg::SelectAll);
        Click(dialog, dlg::Ok);
        QCOMPARE(dialog.CheckedNames(), TStrings{});
        QCOMPARE(*dialog.StoredMarks(), (TStrings{"false", "false", "false"}));
    }

    void okKeepsTheMarks()
    {
        TUnknowFilesFM dialog;
        dialog.SetItems(ProfileLeftovers);
        QCOMPARE(dialog.StoredMarks(), std::nullopt);
        ShowAndWait(dialog);
        QCOMPARE(*dialog.StoredMarks(), (TStrings{"true", "true", "true"}));

        Toggle(dialog, 1);
        Click(dialog, dlg::Ok);
        QCOMPARE(*dialog.StoredMarks(), (TStrings{"true", "false", "true"}));

        ShowAndWait(dialog);
        QCOMPARE(Marks(dialog), (std::vector{true, false, true}));
        QTest::keyClick(List(dialog), Qt::Key_Return); // Enter presses OK
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.CheckedNames(), (TStrings{"notes.txt", "Prefs.js"}));
    }

    // Cancel throws the changes away at once, not only at the next showing, so a run
    // started right after reads the marks last confirmed.
    void cancelRestoresTheConfirmedMarks()
    {
        TUnknowFilesFM dialog;
        dialog.SetItems(ProfileLeftovers);
        ShowAndWait(dialog);
        Toggle(dialog, 2);
        Click(dialog, dlg::Ok);

        ShowAndWait(dialog);
        Toggle(dialog, 0);
        Toggle(dialog, 2);
        Click(dialog, dlg::Cancel);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(Marks(dialog), (std::vector{true, true, false}));
        QCOMPARE(dialog.CheckedNames(), (TStrings{"notes.txt", "bookmarkbackups_old"}));
        ShowAndWait(dialog);
        QCOMPARE(Marks(dialog), (std::vector{true, true, false}));

        // Deselect all, then Escape: lines and the box come back.
        Click(dialog, dlg::SelectAll);
        QTest::keyClick(List(dialog), Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QVERIFY(Control<QCheckBox>(dialog, dlg::SelectAll)->isChecked());
        QCOMPARE(Marks(dialog), (std::vector{true, true, false}));

        // The close box acts the same.
        ShowAndWait(dialog);
        Toggle(dialog, 1);
        dialog.close();
        QCOMPARE(Marks(dialog), (std::vector{true, true, false}));
    }

    void rebuildMarksEverythingAgain()
    {
        TUnknowFilesFM dialog;
        dialog.SetItems(ProfileLeftovers);
        ShowAndWait(dialog);
        Click(dialog, dlg::SelectAll);
        Click(dialog, dlg::Ok);
        QCOMPARE(dialog.CheckedNames(), TStrings{});

        // Entering the Components page again rebuilds the list.
        dialog.SetItems(ProfileLeftovers);
        QCOMPARE(dialog.StoredMarks(), std::nullopt);
        QVERIFY(Control<QCheckBox>(dialog, dlg::SelectAll)->isChecked());
        QCOMPARE(Marks(dialog), (std::vector{true, true, true}));
        ShowAndWait(dialog);
        QCOMPARE(Marks(dialog), (std::vector{true, true, true}));

        // A restore's list of another length replaces the old one entirely.
        dialog.hide();
        dialog.SetItems({{"extra", true}});
        ShowAndWait(dialog);
        QCOMPARE(Lines(dialog), QStringList{"extra (directory)"});
        QCOMPARE(*dialog.StoredMarks(), TStrings{"true"});
        dialog.hide();
        dialog.SetItems({});
        QCOMPARE(dialog.ItemCount(), 0);
        QCOMPARE(dialog.CheckedItems(), std::vector<TUnknowItem>{});
    }

    void resetStoredMarksDropsThem()
    {
        TUnknowFilesFM dialog;
        dialog.SetItems(ProfileLeftovers);
        ShowAndWait(dialog);
        Toggle(dialog, 0);
        Click(dialog, dlg::Ok);
        QVERIFY(dialog.StoredMarks().has_value());
        dialog.ResetStoredMarks();
        QCOMPARE(dialog.StoredMarks(), std::nullopt);
        // The next showing takes the lines as they are as the new confirmed state.
        ShowAndWait(dialog);
        QCOMPARE(*dialog.StoredMarks(), (TStrings{"false", "true", "true"}));
    }

    void grabForReview()
    {
        const QString folder = qEnvironmentVariable("TESSARIN_DIALOG_GRABS");
        if (folder.isEmpty())
            QSKIP("set TESSARIN_DIALOG_GRABS to a folder to write the pictures");
        TUnknowFilesFM dialog;
        dialog.SetItems(ProfileLeftovers);
        ShowAndWait(dialog);
        Toggle(dialog, 2);
        QVERIFY(dialog.grab().save(folder + "/TUnknowFilesFM.png"));
    }
};

QTEST_MAIN(TestUnknownFilesDialog)
#include "tst_dialogs_unknown.moc"
