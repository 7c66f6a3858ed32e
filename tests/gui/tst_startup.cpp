// Start-up, run modes and the closing of the main window.

#include "AppTestSupport.h"

#include "app/Placement.h"
#include "engine/ReportPages.h"
#include "support/TempDir.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include <filesystem>
#include <stdexcept>

using namespace tessarin;
using namespace tessarin::test;

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    // Closing a window in a test must not look like the end of the program.
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init() { folder_ = std::make_unique<TProgramFolder>(); }
    void cleanup() { folder_.reset(); }

    void welcomePageInInteractiveMode_data();
    void welcomePageInInteractiveMode();
    void batchModePreparesNoPage();
    void missingRequiredFileWarnsAndEnds_data();
    void missingRequiredFileWarnsAndEnds();
    void missingSettingsFileIsCreated();
    void closeQueryAnswers_data();
    void closeQueryAnswers();
    void closesWithoutQuestion_data();
    void closesWithoutQuestion();
    void newBackupOrRestoreStartsOver();
    void controlsSitWhereDesigned();
    void componentBoxesTabOrder();
    void monitorArithmetic();
    void monitorBeyondTheScreensFallsBackToFirst();
    void languageFont();
    void batchStartsOnceOnFirstActivation();
    void batchStartsWithoutActivation();
    void batchRunFailuresEndTheProgram_data();
    void batchRunFailuresEndTheProgram();
    void welcomePageScreenshot();

private:
    std::unique_ptr<TProgramFolder> folder_;
};

void StartupTest::welcomePageInInteractiveMode_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no argument") << QStringList{};
    QTest::newRow("two arguments") << QStringList{"a.ini", "b.ini"};
}

void StartupTest::welcomePageInInteractiveMode()
{
    QFETCH(QStringList, arguments);
    std::vector<std::string> args;
    for (const auto& a : arguments)
        args.push_back(a.toStdString());
    TFormUnderTest t(args);
    // Left over from an earlier run of the wizard: the Welcome page clears both.
    t.State.CloseWithoutQuestion = true;
    t.State.BackupFile = "/tmp/x.pcv";
    t.Form->ShowWelcomePage();

    QCOMPARE(t.Form->windowTitle(), QStringLiteral("Tessarin 1.5.1 - Welcome"));
    auto* title = t.Find<QLabel>("Label1");
    QCOMPARE(title->text(), QStringLiteral("Welcome to Tessarin"));
    QVERIFY(title->font().bold());
    QCOMPARE(title->font().pixelSize(), 16);
    QCOMPARE(t.Find<QLabel>("StaticText7")->text(),
             QStringLiteral("This wizard will help you to backup or restore your Mozilla user "
                            "profile(s)."));
    QVERIFY(t.Find<QLabel>("StaticText8")->text().startsWith("It is strongly recommended"));
    QCOMPARE(t.Find<QLabel>("StaticText9")->text(),
             QStringLiteral("Click Cancel to quit the program, or click Next to continue."));
    QCOMPARE(t.Find<QPushButton>("Button1")->text(), QStringLiteral("Next >"));
    QCOMPARE(t.Find<QPushButton>("Button2")->text(), QStringLiteral("Cancel"));
    QCOMPARE(t.Find<QPushButton>("Button3")->text(), QStringLiteral("< Back"));
    QVERIFY(t.Find<QPushButton>("Button3")->isHidden());
    QVERIFY(!t.Find<QPushButton>("Button1")->isHidden());
    QVERIFY(t.Find<QPushButton>("Button1")->isEnabled());
    QVERIFY(!t.Find<QWidget>("Panel1")->isHidden());
    for (const char* other : {"Panel2", "Panel3", "Panel4", "Panel5", "Panel6"})
        QVERIFY2(t.Find<QWidget>(other)->isHidden(), other);
    QCOMPARE(int(t.State.PageNumber), 1);
    QVERIFY(!t.State.CloseWithoutQuestion);
    QVERIFY(t.State.BackupFile.empty());
}

void StartupTest::batchModePreparesNoPage()
{
    TFormUnderTest t({"task.ini"});
    QVERIFY(IsBatchMode());
    QCOMPARE(BatchTaskArgument(), std::string("task.ini"));
    for (const char* panel : {"Panel1", "Panel2", "Panel3", "Panel4", "Panel5", "Panel6"})
        QVERIFY2(t.Find<QWidget>(panel)->isHidden(), panel);
    QCOMPARE(int(t.State.PageNumber), 0);
    // Asked afresh: the mode follows the command line kept at start.
    SetCommandLine(std::vector<std::string>{"a", "b"});
    QVERIFY(!IsBatchMode());
    QVERIFY(BatchTaskArgument().empty());
}

void StartupTest::missingRequiredFileWarnsAndEnds_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("batch");
    for (const char* file : {"Default.lng", "Profilefiles.txt"}) {
        QTest::newRow(qPrintable(QString("%1, wizard").arg(file))) << QString(file) << false;
        QTest::newRow(qPrintable(QString("%1, batch").arg(file))) << QString(file) << true;
    }
    // A folder of the name is no file.
    QTest::newRow("Profilefiles.txt as folder") << QString("Profilefiles.txt/") << false;
}

void StartupTest::missingRequiredFileWarnsAndEnds()
{
    QFETCH(QString, file);
    QFETCH(bool, batch);
    std::filesystem::path path =
        folder_->File(file.chopped(file.endsWith('/') ? 1 : 0).toStdString());
    std::filesystem::remove(path);
    if (file.endsWith('/'))
        std::filesystem::create_directory(path);
    QCOMPARE(MissingRequiredFiles(folder_->Program()).size(), std::size_t(1));

    TFormUnderTest t(batch ? std::vector<std::string>{"task.ini"} : std::vector<std::string>{});
    int runs = 0;
    t.Form->SetBatchRunner([&runs](TSharedState&, IUserInterface&, const std::string&) {
        ++runs;
        return 0;
    });
    t.Form->SetBatchStartFallback(10);
    t.Form->show();
    QCOMPARE(t.Boxes.Calls.size(), std::size_t(1));
    QCOMPARE(t.Boxes.Calls[0].Kind, TBoxKind::Warning);
    QCOMPARE(t.Boxes.Calls[0].Caption, QStringLiteral("Warning"));
    QCOMPARE(t.Boxes.Calls[0].Text, QStringLiteral("Some files not found. Please reinstall."));
    QCOMPARE(t.Exits, std::vector<int>{1});
    // No batch run starts after the failed check, however often the program is activated.
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QTest::qWait(50);
    QCOMPARE(runs, 0);
}

void StartupTest::missingSettingsFileIsCreated()
{
    std::filesystem::remove(folder_->File("Backup.ini"));
    TFormUnderTest t;
    QVERIFY(std::filesystem::is_regular_file(folder_->File("Backup.ini")));
    t.Form->show();
    QVERIFY(t.Boxes.Calls.empty());
    QVERIFY(t.Exits.empty());
    QCOMPARE(t.State.MonitorNumber, 1);
    QVERIFY(t.State.AskForPassword);
}

void StartupTest::closeQueryAnswers_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<bool>("byCancelButton");
    QTest::newRow("No, close box") << false << false;
    QTest::newRow("Yes, close box") << true << false;
    QTest::newRow("No, Cancel button") << false << true;
    QTest::newRow("Yes, Cancel button") << true << true;
}

void StartupTest::closeQueryAnswers()
{
    QFETCH(bool, yes);
    QFETCH(bool, byCancelButton);
    TFormUnderTest t;
    t.Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(t.Form.get()));
    t.Boxes.Answers.push_back(yes);
    if (byCancelButton)
        QTest::mouseClick(t.Find<QPushButton>("Button2"), Qt::LeftButton);
    else
        t.Form->close();

    QCOMPARE(t.Boxes.Calls.size(), std::size_t(1));
    QCOMPARE(t.Boxes.Calls[0].Kind, TBoxKind::Question);
    QCOMPARE(t.Boxes.Calls[0].Caption, QStringLiteral("Exit the program"));
    QCOMPARE(t.Boxes.Calls[0].Text, QStringLiteral("The operation is not finished. Do you really "
                                                   "want to exit the program?"));
    if (yes) {
        QCOMPARE(t.Exits, std::vector<int>{1});
        QVERIFY(t.Form->ClosedByUser());
        QVERIFY(!t.Form->isVisible());
    } else {
        QVERIFY(t.Exits.empty());
        QVERIFY(t.Form->isVisible());
        QVERIFY(!t.Find<QWidget>("Panel1")->isHidden());
        QCOMPARE(int(t.State.PageNumber), 1);
    }
}

void StartupTest::closesWithoutQuestion_data()
{
    QTest::addColumn<bool>("reportPage");
    QTest::newRow("Report page") << true;
    QTest::newRow("CloseWithoutQuestion") << false;
}

void StartupTest::closesWithoutQuestion()
{
    QFETCH(bool, reportPage);
    TFormUnderTest t;
    t.Form->show();
    if (reportPage)
        t.Form->ShowPage(TPage::Report);
    else
        t.State.CloseWithoutQuestion = true;
    QTest::mouseClick(t.Find<QPushButton>("Button2"), Qt::LeftButton);
    QVERIFY(t.Boxes.Calls.empty());
    QCOMPARE(t.Exits, std::vector<int>{0});
    QVERIFY(!t.Form->isVisible());
}

void StartupTest::newBackupOrRestoreStartsOver()
{
    TFormUnderTest t;
    t.Form->show();
    t.Form->AddTaskLine("Backup contains:");
    t.Form->ShowPage(TPage::Processing);
    t.Form->SetReport("The backup was created. You can read the report below:", false, true);
    t.Form->ShowPage(TPage::Report);
    auto* finish = t.Find<QPushButton>("Button2");
    auto* again = t.Find<QCheckBox>("CheckBox16");
    QCOMPARE(finish->text(), QStringLiteral("Finish"));
    again->setChecked(true);
    QCOMPARE(finish->text(), QStringLiteral("Next >"));
    again->setChecked(false);
    QCOMPARE(finish->text(), QStringLiteral("Finish"));
    again->setChecked(true);
    QTest::mouseClick(finish, Qt::LeftButton);

    QVERIFY(t.Boxes.Calls.empty());
    QVERIFY(t.Exits.empty());
    QVERIFY(!again->isChecked());
    QCOMPARE(t.Find<QListWidget>("ListBox3")->count(), 0);
    QCOMPARE(t.Find<QListWidget>("ListBox4")->count(), 0);
    QCOMPARE(int(t.State.PageNumber), 1);
    QVERIFY(!t.Find<QWidget>("Panel1")->isHidden());
    QVERIFY(t.Find<QWidget>("Panel6")->isHidden());
    QCOMPARE(finish->text(), QStringLiteral("Cancel"));
    QVERIFY(!t.Find<QPushButton>("Button1")->isHidden());
    QCOMPARE(t.Form->focusWidget(), t.Find<QWidget>("Button1"));
}

void StartupTest::controlsSitWhereDesigned()
{
    TFormUnderTest t;
    QCOMPARE(t.Form->centralWidget()->size(), QSize(ClientWidth, ClientHeight));
    QCOMPARE(t.Form->minimumSize(), t.Form->maximumSize());
    QVERIFY(!(t.Form->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(t.Form->windowFlags() & Qt::WindowMinimizeButtonHint);

    const struct {
        const char* Name;
        QRect Geometry;
    } expected[] = {
        {"Bevel1", {16, 16, 122, 262}},         {"Image1", {18, 18, 118, 257}},
        {"Bevel2", {16, 288, 441, 2}},          {"Button3", {213, 296, 75, 25}},
        {"Button1", {288, 296, 75, 25}},        {"Button2", {384, 296, 75, 25}},
        {"Panel1", {144, 16, 313, 265}},        {"Panel4", {144, 16, 313, 265}},
        {"Panel6", {144, 16, 313, 265}},        {"StaticText7", {8, 40, 305, 40}},
        {"StaticText8", {8, 80, 305, 50}},      {"StaticText9", {8, 130, 305, 50}},
        {"GroupBox1", {8, 32, 305, 57}},        {"ListBox1", {8, 164, 305, 97}},
        {"ListBox2", {8, 32, 305, 97}},         {"Button6", {8, 136, 75, 25}},
        {"Button7", {120, 136, 75, 25}},        {"Button5", {232, 136, 75, 25}},
        {"GroupBox2", {8, 212, 305, 49}},       {"GroupBox3", {8, 40, 305, 221}},
        {"UnknowFilesBT", {159, 182, 130, 25}}, {"ListBox3", {8, 8, 305, 185}},
        {"ProgressBar1", {8, 240, 305, 16}},    {"StaticText11", {8, 8, 305, 33}},
        {"ListBox4", {8, 48, 305, 193}},        {"CheckBox16", {8, 248, 305, 17}},
    };
    for (const auto& e : expected) {
        auto* widget = t.Find<QWidget>(e.Name);
        QVERIFY2(widget != nullptr, e.Name);
        QVERIFY2(widget->geometry() == e.Geometry, qPrintable(QString("%1 at %2,%3 %4x%5")
                                                                  .arg(e.Name)
                                                                  .arg(widget->x())
                                                                  .arg(widget->y())
                                                                  .arg(widget->width())
                                                                  .arg(widget->height())));
    }
    const struct {
        const char* Name;
        QPoint Position;
    } placed[] = {
        {"Label1", {8, 8}},          {"StaticText1", {8, 8}},   {"RadioButton1", {16, 24}},
        {"RadioButton2", {148, 24}}, {"StaticText4", {8, 184}}, {"StaticText3", {8, 22}},
        {"Button4", {216, 16}},      {"StaticText6", {8, 208}}, {"CheckBox1", {15, 17}},
        {"CheckBox14", {15, 178}},   {"CheckBox9", {158, 17}},  {"CheckBox15", {158, 132}},
        {"CheckBox7", {158, 159}},
    };
    for (const auto& p : placed)
        QVERIFY2(t.Find<QWidget>(p.Name)->pos() == p.Position, p.Name);

    QVERIFY(t.Find<QPushButton>("UnknowFilesBT")->isHidden());
    QCOMPARE(t.Find<QCheckBox>("CheckBox14")->toolTip(),
             QStringLiteral("Firefox & Thunderbird only"));
    QCOMPARE(t.Find<QLabel>("StaticText6")->text(), QStringLiteral("Akce: "));
    QCOMPARE(t.Find<QProgressBar>("ProgressBar1")->maximum(), 100);
    QVERIFY(t.Find<QGroupBox>("GroupBox2")->font().bold());
    QVERIFY(!t.Find<QLabel>("StaticText3")->font().bold());
    QVERIFY(t.Find<QWidget>("RadioButton1")->property("checked").toBool());
    // The reading lists of the last two pages wear the button face.
    auto* tasks = t.Find<QListWidget>("ListBox3");
    QCOMPARE(tasks->palette().color(QPalette::Base), tasks->palette().color(QPalette::Button));
}

void StartupTest::componentBoxesTabOrder()
{
    TFormUnderTest t;
    auto* group = t.Find<QGroupBox>("GroupBox3");
    QStringList order;
    QWidget* w = t.Find<QWidget>("CheckBox1");
    for (int i = 0; i < 16 && w != nullptr; ++i) {
        order << w->objectName();
        do
            w = w->nextInFocusChain();
        while (w->parentWidget() != group && w != t.Find<QWidget>("CheckBox1"));
    }
    QCOMPARE(order, (QStringList{"CheckBox1", "CheckBox2", "CheckBox3", "CheckBox4", "CheckBox5",
                                 "CheckBox6", "CheckBox8", "CheckBox10", "CheckBox11", "CheckBox12",
                                 "CheckBox9", "CheckBox7", "CheckBox13", "CheckBox14", "CheckBox15",
                                 "UnknowFilesBT"}));
    QCOMPARE(group->findChildren<QCheckBox*>().size(), 15);
}

void StartupTest::monitorArithmetic()
{
    // One 1920 x 1080 monitor, the window 471 x 353 with its frame: halves round toward zero.
    QCOMPARE(PlaceOnMonitor(QRect(0, 0, 1920, 1080), QSize(471, 353)), QPoint(725, 364));
    // A second monitor right of and below the first: centred on it in both directions.
    const QRect second(1920, 300, 1280, 1024);
    QCOMPARE(PlaceOnMonitor(second, QSize(471, 353)), QPoint(1920 + 640 - 235, 300 + 512 - 176));
    // A monitor left of and above the primary one.
    QCOMPARE(PlaceOnMonitor(QRect(-1280, -1024, 1280, 1024), QSize(471, 353)),
             QPoint(-1280 + 640 - 235, -1024 + 512 - 176));
    // Monitor numbers count from 1; one beyond the monitors there are means the first.
    QCOMPARE(MonitorIndex(1, 2), 0);
    QCOMPARE(MonitorIndex(2, 2), 1);
    QCOMPARE(MonitorIndex(3, 2), 0);
    QCOMPARE(MonitorIndex(0, 2), 0);
    QCOMPARE(MonitorIndex(-4, 2), 0);
}

void StartupTest::monitorBeyondTheScreensFallsBackToFirst()
{
    folder_->Write("Backup.ini", "[General]\nmonitor=3\n");
    TFormUnderTest t;
    QCOMPARE(t.State.MonitorNumber, 3);
    const int screens = int(QGuiApplication::screens().size());
    QVERIFY(screens < 3);
    t.Form->show();
    QCOMPARE(t.State.MonitorNumber, 1);
    const QRect monitor = QGuiApplication::screens().first()->geometry();
    QCOMPARE(t.Form->pos(), PlaceOnMonitor(monitor, t.Form->frameGeometry().size()));
}

void StartupTest::languageFont()
{
    TFormUnderTest plain;
    plain.Form->show();
    const QString designed = plain.Form->font().families().value(0);
    QVERIFY(!designed.isEmpty());
    QCOMPARE(plain.Form->FontCharset(), 1);

    const QString longName = QStringLiteral("DejaVu Serif Condensed Extra Long Name");
    QVERIFY(longName.size() > 31);
    folder_->Write("Default.lng",
                   "[Common]\nFont=" + longName.toStdString() + "\nDefaultCharset=238\n");
    folder_->ReloadLanguage();
    TFormUnderTest t;
    t.Form->show();
    QCOMPARE(t.Form->font().families().value(0), longName.left(31));
    // The designed families stay behind it for a name that is not installed.
    QCOMPARE(t.Form->font().families().value(1), designed);
    QCOMPARE(t.Form->FontCharset(), 238);
    // The title keeps its own weight and size on top of the language's family.
    auto* title = t.Find<QLabel>("Label1");
    QCOMPARE(title->font().families().value(0), longName.left(31));
    QVERIFY(title->font().bold());

    folder_->Write("Default.lng", "[Common]\nDefaultCharset=latin\n");
    folder_->ReloadLanguage();
    TFormUnderTest bad;
    bad.Form->show(); // an unusable character set changes nothing here
    QCOMPARE(bad.Form->FontCharset(), 1);
    QCOMPARE(bad.Form->font().families().value(0), designed);
}

void StartupTest::batchStartsOnceOnFirstActivation()
{
    TFormUnderTest t({"task.ini"});
    int runs = 0;
    std::string taskFile;
    TSharedState* runState = nullptr;
    t.Form->SetBatchRunner([&](TSharedState& state, IUserInterface& ui, const std::string& file) {
        ++runs;
        taskFile = file;
        runState = &state;
        // A second activation while the run pumps events starts nothing.
        emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
        ui.ProcessEvents();
        return 0;
    });
    t.Form->SetBatchStartFallback(60 * 60 * 1000);
    t.Form->show();
    QVERIFY(!t.Form->BatchStarted());
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    QTest::qWait(10);
    QCOMPARE(runs, 0);
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QVERIFY(t.Form->BatchStarted());
    QTRY_COMPARE(runs, 1);
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QTest::qWait(20);
    QCOMPARE(runs, 1);
    QCOMPARE(taskFile, std::string("task.ini"));
    QCOMPARE(runState, &t.State); // the program's state, not a copy
    QCOMPARE(t.Exits, std::vector<int>{0});

    // The wizard never starts a batch run.
    TFormUnderTest wizard;
    int wizardRuns = 0;
    wizard.Form->SetBatchRunner([&](TSharedState&, IUserInterface&, const std::string&) {
        ++wizardRuns;
        return 0;
    });
    wizard.Form->show();
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QTest::qWait(20);
    QCOMPARE(wizardRuns, 0);
    QVERIFY(!wizard.Form->BatchStarted());
}

void StartupTest::batchStartsWithoutActivation()
{
    TFormUnderTest t({"task.ini"});
    int runs = 0;
    t.Form->SetBatchRunner([&runs](TSharedState&, IUserInterface&, const std::string&) {
        ++runs;
        return 0;
    });
    t.Form->SetBatchStartFallback(30);
    t.Form->show();
    QTRY_COMPARE(runs, 1);
    QCOMPARE(t.Exits, std::vector<int>{0});
    // An activation that comes late starts nothing more.
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QTest::qWait(50);
    QCOMPARE(runs, 1);
}

void StartupTest::batchRunFailuresEndTheProgram_data()
{
    QTest::addColumn<int>("failure");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("logged");
    QTest::newRow("program exit 3") << 0 << 3 << false;
    QTest::newRow("standard exception") << 1 << 1 << true;
    QTest::newRow("anything else") << 2 << 1 << true;
    QTest::newRow("failed run returns 1") << 3 << 1 << false;
    QTest::newRow("failure after a good report page") << 4 << 1 << false;
}

void StartupTest::batchRunFailuresEndTheProgram()
{
    QFETCH(int, failure);
    QFETCH(int, status);
    QFETCH(bool, logged);
    TFormUnderTest t({"task.ini"});
    t.Form->SetBatchRunner([failure](TSharedState& state, IUserInterface& ui, const std::string&) -> int {
        switch (failure) {
        case 0:
            throw TProgramExit{3};
        case 1:
            throw std::runtime_error("Cannot call BackupAction before init!");
        case 2:
            throw 42;
        case 3:
            return 1;
        default:
            // The run reported a backup, then a later step (keep, a lost file) failed.
            state.Operation = TOperation::Backup;
            ShowReportPage(state, ui);
            return 1;
        }
    });
    t.Form->show();
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    QTRY_COMPARE(t.Exits.size(), std::size_t(1));
    QCOMPARE(t.Exits[0], status);
    const auto log = std::filesystem::path(folder_->State()) / "error.log";
    QCOMPARE(std::filesystem::exists(log), logged);
    if (failure == 1)
        QVERIFY(ReadFile(log).find("Cannot call BackupAction before init!") != std::string::npos);
}

void StartupTest::welcomePageScreenshot()
{
    TFormUnderTest t;
    t.Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(t.Form.get()));
    const QImage shot = t.Form->grab().toImage();
    QCOMPARE(shot.size() / shot.devicePixelRatio(), QSize(ClientWidth, ClientHeight));
    // The side picture is drawn: its top-left corner is the dark blue of the gradient.
    const QColor corner = shot.pixelColor(QPoint(20, 20) * shot.devicePixelRatio());
    QVERIFY2(corner.blue() > corner.red() + 20, qPrintable(corner.name()));
    const QString path = QDir::temp().filePath("tessarin-welcome.png");
    QVERIFY(shot.save(path));
    qInfo("Welcome page saved to %s", qPrintable(path));
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
