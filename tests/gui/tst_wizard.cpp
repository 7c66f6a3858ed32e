// The wizard driven through its pages as a person does: a home with a Firefox and a
// Thunderbird installation and their profiles, scripted answers for every box and
// dialog. Each page is saved as a PNG into the build folder for a reviewer to look at.

#include "AppTestSupport.h"

#include "config/OutputNames.h"
#include "engine/ReportPages.h"
#include "engine/WizardSteps.h"
#include "platform/ProcessList.h"
#include "platform/RegistryView.h"
#include "profiles/Catalogue.h"
#include "support/ProfileFixture.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <unistd.h>

#include <zip.h>

namespace fs = std::filesystem;
using namespace tessarin;
using namespace tessarin::test;

namespace {

const char* Registry = R"(
[SOFTWARE\mozilla\Mozilla Firefox]
CurrentVersion=153.8.0
[SOFTWARE\mozilla\Mozilla Firefox\153.8.0\Main]
Install Directory=/usr/lib/firefox-esr
[SOFTWARE\mozilla\Mozilla Thunderbird]
CurrentVersion=153.8.0
[SOFTWARE\mozilla\Mozilla Thunderbird\153.8.0\Main]
Install Directory=/usr/lib/thunderbird
)";

bool ArchiveHolds(const std::string& path, const char* name)
{
    int err = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_RDONLY, &err);
    if (za == nullptr)
        return false;
    const bool found = zip_name_locate(za, name, 0) >= 0;
    zip_discard(za);
    return found;
}

// The controls the program placed, not the parts Qt builds inside them.
bool IsControl(const QWidget* widget)
{
    const QString name = widget->objectName();
    return !widget->isWindow() && widget->isVisible() && !name.isEmpty() &&
           !name.startsWith(QLatin1String("qt_"));
}

// A frame that holds controls: a group box, or a framed panel drawn under them.
bool IsFrame(const QWidget* widget)
{
    if (qobject_cast<const QGroupBox*>(widget) != nullptr)
        return true;
    const auto* frame = qobject_cast<const QFrame*>(widget);
    return frame != nullptr && widget->metaObject() == &QFrame::staticMetaObject &&
           frame->frameShape() != QFrame::NoFrame && frame->frameShape() != QFrame::HLine &&
           frame->frameShape() != QFrame::VLine;
}

// What a person sees as broken below parent: two visible controls of one parent that
// overlap, a control that reaches out of its parent, or one that runs into the title or
// the border of the frame it stands in. A frame's inside is its contents rectangle as
// the style in use draws it.
void FindGeometryProblems(const QWidget* parent, QStringList& problems)
{
    QList<const QWidget*> controls;
    for (const QWidget* child : parent->findChildren<const QWidget*>(Qt::FindDirectChildrenOnly))
        if (IsControl(child))
            controls.push_back(child);
    const QRect room = IsFrame(parent) ? parent->contentsRect() : parent->rect();
    for (const QWidget* control : controls)
        if (!room.contains(control->geometry()))
            problems << control->objectName() +
                            (parent->rect().contains(control->geometry())
                                 ? QStringLiteral(" crosses the frame of ")
                                 : QStringLiteral(" leaves ")) +
                            parent->objectName();
    for (qsizetype i = 0; i < controls.size(); ++i) {
        for (qsizetype j = i + 1; j < controls.size(); ++j) {
            const QWidget* a = controls[i];
            const QWidget* b = controls[j];
            if (!a->geometry().intersects(b->geometry()))
                continue;
            const QWidget* frame = IsFrame(a) && a->geometry().contains(b->geometry())   ? a
                                   : IsFrame(b) && b->geometry().contains(a->geometry()) ? b
                                                                                         : nullptr;
            const QWidget* inner = frame == a ? b : a;
            if (frame == nullptr)
                problems << a->objectName() + QStringLiteral(" overlaps ") + b->objectName();
            else if (!frame->contentsRect().translated(frame->pos()).contains(inner->geometry()))
                problems << inner->objectName() + QStringLiteral(" crosses the frame of ") +
                                frame->objectName();
        }
    }
    for (const QWidget* control : controls)
        FindGeometryProblems(control, problems);
}

// One wizard over a home with real-shaped profiles.
class TWizard {
public:
    explicit TWizard(TTestEnvironment& environment) : env(environment)
    {
        home = fs::path(env.Home());
        const fs::path ffRoot = home / ".mozilla/firefox";
        firefox = CopyRealProfile("firefox", ffRoot, "x7k2m9qa.default-esr");
        fs::create_directories(ffRoot / "second.profile");
        std::ofstream(ffRoot / "second.profile/prefs.js") << "user_pref(\"mine\", true);\n";
        std::ofstream(ffRoot / "profiles.ini")
            << "[Profile1]\nName=second\nIsRelative=1\nPath=second.profile\n\n"
               "[Profile0]\nName=default-esr\nIsRelative=1\nPath=x7k2m9qa.default-esr\n"
               "Default=1\n\n[General]\nStartWithLastProfile=1\nVersion=2\n";
        const fs::path tbRoot = home / ".thunderbird";
        CopyRealProfile("thunderbird", tbRoot, "m4il.default-release");
        std::ofstream(tbRoot / "profiles.ini")
            << "[Profile0]\nName=default-release\nIsRelative=1\nPath=m4il.default-release\n"
               "Default=1\n\n[General]\nStartWithLastProfile=1\nVersion=2\n";
        UseRegistry(Registry);
    }
    ~TWizard() { ResetInstallationTable(); }

    void UseRegistry(const char* text)
    {
        env.UseRegistry(text);
        ResetInstallationTable();
    }

    void Start()
    {
        form = std::make_unique<TFormUnderTest>(env);
        form->Form->CreateDialogs();
        TQtUserInterface& ui = form->Form->Ui();
        ui.SetFileChooser([this](const TFileQuestion& q) { return Take(files, q); });
        ui.SetNewPasswordPrompt([] { return std::optional<std::string>(); });
        form->Form->show();
    }

    std::optional<std::string> Take(std::deque<std::optional<std::string>>& queue,
                                    const TFileQuestion& question)
    {
        fileQuestions.push_back(question);
        if (queue.empty())
            return std::nullopt;
        auto answer = queue.front();
        queue.pop_front();
        return answer;
    }

    template <typename T> T* Find(const char* name) const { return form->Find<T>(name); }
    void Next() { Find<QPushButton>(wiz::Next)->click(); }
    void Back() { Find<QPushButton>(wiz::Back)->click(); }
    void Select(const char* list, const QString& text)
    {
        auto* widget = Find<QListWidget>(list);
        const auto found = widget->findItems(text, Qt::MatchStartsWith);
        QVERIFY2(!found.isEmpty(), qPrintable(list + QStringLiteral(": ") + text));
        widget->setCurrentItem(found.front());
    }
    std::string Page() const { return std::to_string(int(form->State.PageNumber)); }
    void Snapshot(const QString& name) const
    {
        const QString folder = QStringLiteral(TESSARIN_BIN_DIR "/../screenshots");
        QDir().mkpath(folder);
        form->Form->grab().save(folder + QStringLiteral("/wizard-%1.png").arg(name));
    }
    // Through Welcome and Operation to the Profile selection page of an application.
    void ToProfilePage(bool backup, const QString& application)
    {
        Next();
        Find<QRadioButton>(backup ? wiz::BackupChoice : wiz::RestoreChoice)->setChecked(true);
        Select(wiz::ApplicationList, application);
        Next();
    }

    TTestEnvironment& env;
    fs::path home;
    TRealProfile firefox;
    std::unique_ptr<TFormUnderTest> form;
    std::deque<std::optional<std::string>> files;
    std::vector<TFileQuestion> fileQuestions;
};

} // namespace

class WizardTest : public QObject {
    Q_OBJECT

private slots:
    void backupThroughAllPagesThenRestoreIntoAnotherProfile()
    {
        TProgramFolder program;
        TWizard w(program);
        w.Start();
        w.Snapshot("1-welcome");
        // Escape acts as Cancel: the close question, answered No.
        w.form->Boxes.Answers = {false};
        QTest::keyClick(w.form->Form.get(), Qt::Key_Escape);
        QTest::qWait(300); // the button's animated click
        QCOMPARE(w.form->Boxes.Calls.size(), std::size_t{1});
        QCOMPARE(w.form->Boxes.Calls.back().Text,
                 QString::fromStdString(Text("TForm1", "LANG_END_TEXT")));
        w.form->Boxes.Calls.clear();
        w.Next();
        QCOMPARE(w.Page(), std::string("2"));
        QCOMPARE(w.form->Form->windowTitle(), QStringLiteral("Tessarin 1.5.1 - Operation type"));
        w.Snapshot("2-operation");
        w.Select(wiz::ApplicationList, "Mozilla Firefox");
        w.Next();
        QCOMPARE(w.Page(), std::string("3"));
        w.Snapshot("3-profile");
        w.Select(wiz::ProfileList, "default-esr");
        const std::string proposed = w.form->State.BackupFile;
        QVERIFY(proposed.ends_with(".pcv"));
        w.form->Boxes.Answers = {false}; // no password
        w.Next();
        QCOMPARE(w.Page(), std::string("4"));
        w.Snapshot("4-components");
        QVERIFY(w.Find<QCheckBox>(wiz::ComponentBox[ComponentBookmarks])->isChecked());
        QVERIFY(w.Find<QCheckBox>(wiz::ComponentBox[ComponentAccountsOnly])->isVisible());
        // Another instance holds the profile (no process name the check knows): Cancel
        // on the close-it box keeps the page and writes nothing.
        const fs::path lock = fs::path(w.form->State.ProfileDir) / "lock";
        fs::create_symlink("127.0.1.1:+" + std::to_string(::getppid()), lock);
        w.form->Boxes.Answers = {false};
        w.Next();
        QCOMPARE(w.Page(), std::string("4"));
        QCOMPARE(w.form->Boxes.Calls.back().Kind, TBoxKind::RetryCancel);
        QVERIFY(!fs::exists(proposed));
        fs::remove(lock);
        w.Next();
        w.Snapshot("6-report-backup");
        QCOMPARE(w.Find<QLabel>(wiz::ResultText)->text(),
                 QString::fromStdString(Text("TForm1", "LANG_MEMO3")));
        QVERIFY(ArchiveHolds(proposed, "indexfile.txt"));
        QVERIFY(ArchiveHolds(proposed, "places.sqlite"));
        QVERIFY(!w.form->Boxes.Unscripted);

        // New backup or restore: back to Welcome with both lists empty.
        w.Find<QCheckBox>(wiz::NewRun)->setChecked(true);
        QCOMPARE(w.Find<QPushButton>(wiz::Cancel)->text(), QStringLiteral("Next >"));
        w.Find<QPushButton>(wiz::Cancel)->click();
        QCOMPARE(w.Page(), std::string("1"));
        QCOMPARE(w.Find<QListWidget>(wiz::TaskList)->count(), 0);
        QCOMPARE(w.Find<QListWidget>(wiz::ReportList)->count(), 0);

        w.ToProfilePage(false, "Mozilla Firefox");
        w.Select(wiz::ProfileList, "second");
        w.files = {proposed};
        w.Find<QPushButton>(wiz::Browse)->click();
        QCOMPARE(w.fileQuestions.back().Save, false);
        QCOMPARE(w.form->State.BackupFile, proposed);
        w.Select(wiz::ProfileList, "second");
        w.Next();
        QCOMPARE(w.Page(), std::string("4"));
        QVERIFY(!w.Find<QCheckBox>(wiz::ComponentBox[ComponentAccountsOnly])->isVisible());
        w.form->Boxes.Answers = {true}; // overwrite the profile's files
        w.Next();
        w.Snapshot("6-report-restore");
        QCOMPARE(w.Find<QLabel>(wiz::ResultText)->text(),
                 QString::fromStdString(Text("TForm1", "LANG_BACKUP_RESTOR")));
        const fs::path second = w.home / ".mozilla/firefox/second.profile";
        QCOMPARE(ReadFile(second / "places.sqlite"), ReadFile(w.firefox.Profile / "places.sqlite"));
        QVERIFY(!w.form->Boxes.Unscripted);
        // The Processing page as a run shows it while it works.
        w.form->State.Operation = TOperation::Backup;
        w.form->Form->SetButtonCaptions();
        ShowProcessingPage(w.form->State, w.form->Form->Ui());
        w.form->Form->Ui().SetTaskText(Text("Tessarin14", "LANG_FILE") + ": places.sqlite");
        w.form->Form->Ui().SetProgressPosition(40);
        w.Snapshot("5-processing");
        w.form->Form->Ui().ShowPage(TPage::Report);
        // Finish on the Report page closes without a question.
        w.Find<QPushButton>(wiz::Cancel)->click();
        QCOMPARE(w.form->Exits, std::vector<int>{0});
    }

    void firstRunLayoutSelectsTheProfileInUseAndTheUnusedOneKeepsThePage()
    {
        TProgramFolder program;
        TWizard w(program);
        // As firefox-esr leaves it after its first start.
        const fs::path root = w.home / ".mozilla/firefox";
        fs::create_directories(root / "d83xf7av.default");
        std::ofstream(root / "d83xf7av.default/times.json") << "{\"created\":1765000000000}\n";
        std::ofstream(root / "profiles.ini")
            << "[Profile1]\nName=default\nIsRelative=1\nPath=d83xf7av.default\nDefault=1\n\n"
               "[Profile0]\nName=default-esr\nIsRelative=1\nPath=x7k2m9qa.default-esr\n\n"
               "[General]\nStartWithLastProfile=1\nVersion=2\n\n"
               "[Install3B6073811A6ABF12]\nDefault=x7k2m9qa.default-esr\nLocked=1\n\n";
        std::ofstream(root / "installs.ini") << "[3B6073811A6ABF12]\nDefault=x7k2m9qa.default-esr\nLocked=1\n\n";
        w.Start();
        w.form->State.FolderSettings[FolderPattern] = "<profile>.pcv";
        w.ToProfilePage(true, "Mozilla Firefox");
        auto* list = w.Find<QListWidget>(wiz::ProfileList);
        QCOMPARE(list->item(0)->text(), QStringLiteral("default")); // the order stays sorted
        QCOMPARE(list->currentItem()->text(), QStringLiteral("default-esr"));
        QVERIFY(w.form->State.BackupFile.ends_with("/default-esr.pcv"));

        // The arrow key chooses as a click does: the proposed name follows.
        QTest::keyClick(list, Qt::Key_Up);
        QCOMPARE(list->currentItem()->text(), QStringLiteral("default"));
        QVERIFY2(w.form->State.BackupFile.ends_with("/default.pcv"), w.form->State.BackupFile.c_str());

        // Never used: said so, no password question, the page stays and the program goes on.
        w.Next();
        QCOMPARE(w.Page(), std::string("3"));
        QCOMPARE(w.form->Boxes.Calls.size(), std::size_t(1));
        QVERIFY(w.form->Boxes.Calls[0].Text.contains("has not been used yet"));
        QVERIFY(w.form->Exits.empty());

        QTest::keyClick(list, Qt::Key_Down);
        w.form->Boxes.Answers = {false}; // no password
        w.Next();
        QCOMPARE(w.Page(), std::string("4"));
        QCOMPARE(w.form->State.ProfileDir, w.firefox.Folder());
    }

    void withoutApplicationsThePortableEntryStaysWithTheReasonBesideIt()
    {
        TProgramFolder program;
        TWizard w(program);
        w.UseRegistry("");
        fs::remove_all(w.home / ".mozilla");
        fs::remove_all(w.home / ".thunderbird");
        w.Start();
        w.Next();
        auto* list = w.Find<QListWidget>(wiz::ApplicationList);
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), QString::fromStdString(Text("Tessarin14", "LANG_PORTABLE_APPS")));
        QCOMPARE(w.Find<QLabel>(wiz::ApplicationText)->text(),
                 QString::fromStdString(Text("TForm1", "LANG_NO_PROGRAM")));
        QVERIFY(w.Find<QPushButton>(wiz::Next)->isVisible());
        QVERIFY(w.Find<QPushButton>(wiz::Next)->isEnabled());
        QCOMPARE(w.Find<QPushButton>(wiz::Cancel)->text(), QStringLiteral("Cancel"));
        w.Next(); // on to the profile page, where Portable picks the folder
        QCOMPARE(w.Page(), std::string("3"));
        QVERIFY(w.Find<QPushButton>(wiz::FindProfile)->isVisible());
        QVERIFY(w.form->Boxes.Calls.empty());
    }

    void existingBackupAnsweredNoStaysAndRemembersTheFolder()
    {
        TProgramFolder program;
        TWizard w(program);
        w.Start();
        w.ToProfilePage(true, "Mozilla Firefox");
        const std::string existing = (w.home / "Backups/old.pcv").string();
        fs::create_directories(w.home / "Backups");
        std::ofstream(existing) << "earlier";
        w.files = {existing};
        w.Find<QPushButton>(wiz::Browse)->click();
        QCOMPARE(w.form->State.BackupFile, existing);
        // The save dialog Browse shows leaves the replace question to the wizard.
        QFileDialog dialog;
        PrepareFileDialog(dialog, w.fileQuestions.back());
        QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptSave);
        QVERIFY(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        w.form->Boxes.Answers = {false};
        w.Next();
        QCOMPARE(w.Page(), std::string("3"));
        QCOMPARE(w.form->Boxes.Calls.size(), std::size_t{1}); // asked once, in the language's words
        QCOMPARE(w.form->Boxes.Calls.back().Text,
                 QString::fromStdString(Text("TForm1", "LANG_SOUBOR_EXIST")));
        QCOMPARE(ReadRememberedFolder(*program.Env.KeyStore, AppFirefox),
                 (w.home / "Backups/").string());
        QCOMPARE(ReadFile(existing), std::string("earlier"));
    }

    void backupOfAnotherApplicationIsRefusedWithBothNames()
    {
        TProgramFolder program;
        TWizard w(program);
        w.Start();
        w.ToProfilePage(true, "Mozilla Thunderbird");
        const std::string tbBackup = w.form->State.BackupFile;
        w.form->Boxes.Answers = {false};
        w.Next();
        w.Next(); // the backup
        QVERIFY(fs::exists(tbBackup));
        w.Find<QCheckBox>(wiz::NewRun)->setChecked(true);
        w.Find<QPushButton>(wiz::Cancel)->click();

        w.ToProfilePage(false, "Mozilla Firefox");
        w.files = {tbBackup};
        w.Find<QPushButton>(wiz::Browse)->click();
        w.Next();
        QCOMPARE(w.Page(), std::string("3"));
        const QString message = w.form->Boxes.Calls.back().Text;
        QVERIFY2(message.contains("Mozilla Firefox") && message.contains("Mozilla Thunderbird"),
                 qPrintable(message));
    }

    void restoreOfABackupFromANewerVersionIsAskedFirst()
    {
        TProgramFolder program;
        TWizard w(program);
        w.Start();
        w.ToProfilePage(true, "Mozilla Firefox");
        const std::string backup = w.form->State.BackupFile;
        w.form->Boxes.Answers = {false};
        w.Next();
        w.Next();
        // The installed Firefox is older than the one that last used the profile.
        std::string older = Registry;
        older.replace(older.find("153.8.0"), 7, "102.0");
        older.replace(older.find("153.8.0"), 7, "102.0");
        w.UseRegistry(older.c_str());
        w.Start();
        w.ToProfilePage(false, "Mozilla Firefox");
        w.Select(wiz::ProfileList, "second");
        w.files = {backup};
        w.Find<QPushButton>(wiz::Browse)->click();
        w.Next();
        w.form->Boxes.Answers = {true, false}; // overwrite: Yes; newer version: No
        w.Next();
        QCOMPARE(w.Page(), std::string("4"));
        QVERIFY(w.form->Boxes.Calls.back().Text.contains(QStringLiteral("102.0")));
        QVERIFY(!fs::exists(w.home / ".mozilla/firefox/second.profile/places.sqlite"));
    }

    void backFromComponentsProposesTheNameAgainForTheChosenProfile()
    {
        TProgramFolder program;
        TWizard w(program);
        w.Start();
        w.ToProfilePage(true, "Mozilla Firefox");
        w.Select(wiz::ProfileList, "second");
        const std::string proposed = w.form->State.BackupFile;
        w.files = {(w.home / "chosen-by-hand.pcv").string()};
        w.Find<QPushButton>(wiz::Browse)->click();
        QVERIFY(w.form->State.BackupFile != proposed);
        w.form->Boxes.Answers = {false};
        w.Next();
        QCOMPARE(w.Page(), std::string("4"));
        w.Back();
        QCOMPARE(w.Page(), std::string("3"));
        QCOMPARE(w.form->State.BackupFile, proposed);
        // The chosen profile stays chosen.
        QCOMPARE(w.Find<QListWidget>(wiz::ProfileList)->currentItem()->text(),
                 QStringLiteral("second"));
        QCOMPARE(w.form->State.SelectedProfile, std::string("second"));
    }

    void closingDuringARunLeavesNoHalfWrittenFile()
    {
        TProgramFolder program;
        TWizard w(program);
        // Closed with Yes while the run works: status 1, and the files are as before.
        const auto closeDuringRun = [&w] {
            w.form->Boxes.Answers.push_back(true);
            QTimer::singleShot(0, w.form->Form.get(), [&w] { w.form->Form->close(); });
            w.Next();
            QCOMPARE(w.form->Exits, std::vector<int>{1});
        };
        const auto count = [](const fs::path& folder) {
            return std::distance(fs::directory_iterator(folder), {});
        };

        w.Start();
        w.ToProfilePage(true, "Mozilla Firefox");
        const std::string backup = w.form->State.BackupFile;
        w.form->Boxes.Answers = {false}; // no password
        w.Next();
        w.Next();
        QVERIFY(fs::exists(backup));

        w.Start();
        w.ToProfilePage(true, "Mozilla Firefox");
        QCOMPARE(w.form->State.BackupFile, backup);
        const std::string earlier = ReadFile(backup);
        const auto files = count(w.home);
        w.form->Boxes.Answers = {true, false}; // overwrite it; no password
        w.Next();
        QCOMPARE(w.Page(), std::string("4"));
        closeDuringRun();
        QCOMPARE(ReadFile(backup), earlier);
        QCOMPARE(count(w.home), files);

        const fs::path second = w.home / ".mozilla/firefox/second.profile";
        const std::string prefs = ReadFile(second / "prefs.js");
        w.Start();
        w.ToProfilePage(false, "Mozilla Firefox");
        w.Select(wiz::ProfileList, "second");
        w.files = {backup};
        w.Find<QPushButton>(wiz::Browse)->click();
        w.Next();
        QCOMPARE(w.Page(), std::string("4"));
        w.form->Boxes.Answers = {true}; // overwrite the profile's files
        closeDuringRun();
        QCOMPARE(ReadFile(second / "prefs.js"), prefs);
        QCOMPARE(count(second), 1);
    }

    // Every page and dialog, at the design font and at a language font that runs wider.
    void controlsStayApartOnEveryPageAndDialog_data()
    {
        QTest::addColumn<QString>("font");
        QTest::newRow("design font") << QString();
        QTest::newRow("language font") << QStringLiteral("DejaVu Sans");
    }

    void controlsStayApartOnEveryPageAndDialog()
    {
        QFETCH(QString, font);
        TProgramFolder program;
        if (!font.isEmpty()) {
            std::string lng = ReadFile(program.ProgramFile("Default.lng"));
            lng.replace(lng.find("Font="), 5, "Font=" + font.toStdString());
            program.WriteProgramFile("Default.lng", lng);
            program.ReloadLanguage();
        }
        TWizard w(program);
        w.Start();
        using TShow = QWidget* (*)(TWizard&);
        struct TStep {
            const char* Name;
            TShow Show;         // brings the window up, dialogs without exec
            const char* Extra;  // a control shown only in the window's fullest state
        };
        static const TStep steps[] = {
            {"welcome", [](TWizard& wz) -> QWidget* { return wz.form->Form.get(); }, nullptr},
            {"operation",
             [](TWizard& wz) -> QWidget* {
                 wz.Next();
                 return wz.form->Form.get();
             },
             nullptr},
            {"profile-restore",
             [](TWizard& wz) -> QWidget* {
                 wz.Find<QRadioButton>(wiz::RestoreChoice)->setChecked(true);
                 wz.Select(wiz::ApplicationList, "Mozilla Firefox");
                 wz.Next();
                 return wz.form->Form.get();
             },
             nullptr},
            {"new-profile", [](TWizard& wz) -> QWidget* { return wz.form->Form->Form2.get(); },
             nullptr},
            {"profile-backup",
             [](TWizard& wz) -> QWidget* {
                 wz.Back();
                 wz.Find<QRadioButton>(wiz::BackupChoice)->setChecked(true);
                 wz.Select(wiz::ApplicationList, "Mozilla Firefox");
                 wz.Next();
                 return wz.form->Form.get();
             },
             nullptr},
            {"set-password", [](TWizard& wz) -> QWidget* { return wz.form->Form->Form4.get(); },
             nullptr},
            {"components",
             [](TWizard& wz) -> QWidget* {
                 wz.Select(wiz::ProfileList, "default-esr");
                 wz.form->Boxes.Answers = {false}; // no password
                 wz.Next();
                 return wz.form->Form.get();
             },
             wiz::UnknownFiles},
            {"unknown-files",
             [](TWizard& wz) -> QWidget* { return wz.form->Form->UnknowFilesFM.get(); }, nullptr},
            {"enter-password", [](TWizard& wz) -> QWidget* { return wz.form->Form->Form5.get(); },
             nullptr},
            {"processing",
             [](TWizard& wz) -> QWidget* {
                 TQtUserInterface& ui = wz.form->Form->Ui();
                 ShowProcessingPage(wz.form->State, ui);
                 ui.SetTaskText(Text("Tessarin14", "LANG_FILE") + ": places.sqlite");
                 ui.SetProgressPosition(40);
                 return wz.form->Form.get();
             },
             nullptr},
            {"report",
             [](TWizard& wz) -> QWidget* {
                 wz.form->Form->Ui().SetReport(Text("TForm1", "LANG_MEMO3"), true, true);
                 wz.form->Form->Ui().ShowPage(TPage::Report);
                 return wz.form->Form.get();
             },
             nullptr},
        };
        QStringList problems;
        for (const TStep& step : steps) {
            QWidget* window = step.Show(w);
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            if (step.Extra != nullptr)
                QVERIFY2(window->findChild<QWidget*>(step.Extra)->isVisible(), step.Extra);
            QStringList found;
            FindGeometryProblems(window, found);
            for (const QString& problem : found)
                problems << QString::fromLatin1(step.Name) + QStringLiteral(": ") + problem;
            const QString folder = QStringLiteral(TESSARIN_BIN_DIR "/../screenshots");
            QDir().mkpath(folder);
            const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '-');
            window->grab().save(QStringLiteral("%1/geometry-%2-%3.png")
                                    .arg(folder, tag, QString::fromLatin1(step.Name)));
            if (window != w.form->Form.get())
                window->hide();
        }
        QVERIFY(!w.form->Boxes.Unscripted);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("\n"))));
    }

    void labelsFitTheLanguageFont()
    {
        TProgramFolder program;
        std::string lng = ReadFile(program.ProgramFile("Default.lng"));
        lng.replace(lng.find("Font="), 5, "Font=DejaVu Sans Mono");
        program.WriteProgramFile("Default.lng", lng);
        program.ReloadLanguage();
        TWizard w(program);
        w.Start();
        const auto fits = [&w](const char* name) {
            const QLabel* label = w.Find<QLabel>(name);
            return QFontMetrics(label->font()).horizontalAdvance(label->text()) <= label->width();
        };
        QVERIFY(fits(wiz::WelcomeTitle)); // the Welcome title, shown before any page change
        w.Next();
        QVERIFY(fits(wiz::OperationTitle));
    }

    void longPathsAreShortenedOnTheLabel()
    {
        QCOMPARE(ShortenForLabel(QString(39, 'a'), 33), QString(39, 'a'));
        const QString forty = QStringLiteral("/home/") + QString(29, 'b') + QStringLiteral("x.pcv");
        QCOMPARE(forty.size(), 40);
        QCOMPARE(ShortenForLabel(forty, 33), QStringLiteral("/ho...") + forty.right(33));
        QCOMPARE(StripNameChars("a<b>c?d|e^f.pcv"), std::string("abcdef.pcv"));

        TProgramFolder program;
        TWizard w(program);
        w.Start();
        w.ToProfilePage(true, "Mozilla Firefox");
        w.files = {forty.toStdString()};
        w.Find<QPushButton>(wiz::Browse)->click();
        auto* label = w.Find<QLabel>(wiz::BackupFilePath);
        QCOMPARE(label->toolTip(), forty);
        // Cut as the rule says, and further where the font would clip it.
        QVERIFY(label->text().startsWith(QStringLiteral("/ho...")));
        QVERIFY(forty.right(33).endsWith(label->text().mid(6)));
        QVERIFY(label->text().size() > 16);
        QVERIFY(QFontMetrics(label->font()).horizontalAdvance(label->text()) <= label->width());
        // The proposed name offered by Browse is a plain file name.
        QCOMPARE(w.fileQuestions.back().Save, true);
        QVERIFY(w.fileQuestions.back().Name.find('/') == std::string::npos);
    }
};

QTEST_MAIN(WizardTest)
#include "tst_wizard.moc"
