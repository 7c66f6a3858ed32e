// Start-up, run modes and the closing of the main window.

#include "AppTestSupport.h"

#include "app/Placement.h"
#include "config/BatchMode.h"
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
    TFormUnderTest t(*folder_, args);
    // Left over from an earlier run of the wizard: the Welcome page clears both.
    t.State.CloseWithoutQuestion = true;
    t.State.BackupFile = "/tmp/x.pcv";
    t.Form->ShowWelcomePage();

    QCOMPARE(t.Form->windowTitle(), QStringLiteral("Tessarin 1.5.1 - Welcome"));
    auto* title = t.Find<QLabel>(wiz::WelcomeTitle);
    QCOMPARE(title->text(), QStringLiteral("Welcome to Tessarin"));
    QVERIFY(title->font().bold());
    QCOMPARE(title->font().pixelSize(), 16);
    QCOMPARE(t.Find<QLabel>(wiz::WelcomeText)->text(),
             QStringLiteral("This wizard will help you to backup or restore your Mozilla user "
                            "profile(s)."));
    QVERIFY(
        t.Find<QLabel>(wiz::CloseProgramsText)->text().startsWith("It is strongly recommended"));
    QCOMPARE(t.Find<QLabel>(wiz::ContinueText)->text(),
             QStringLiteral("Click Cancel to quit the program, or click Next to continue."));
    QCOMPARE(t.Find<QPushButton>(wiz::Next)->text(), QStringLiteral("Next >"));
    QCOMPARE(t.Find<QPushButton>(wiz::Cancel)->text(), QStringLiteral("Cancel"));
    QCOMPARE(t.Find<QPushButton>(wiz::Back)->text(), QStringLiteral("< Back"));
    QVERIFY(t.Find<QPushButton>(wiz::Back)->isHidden());
    QVERIFY(!t.Find<QPushButton>(wiz::Next)->isHidden());
    QVERIFY(t.Find<QPushButton>(wiz::Next)->isEnabled());
    QVERIFY(!t.Find<QWidget>(wiz::WelcomePage)->isHidden());
    for (int other = 1; other < 6; ++other)
        QVERIFY2(t.Find<QWidget>(wiz::Pages[other])->isHidden(), wiz::Pages[other]);
    QCOMPARE(int(t.State.PageNumber), 1);
    QVERIFY(!t.State.CloseWithoutQuestion);
    QVERIFY(t.State.BackupFile.empty());
}

void StartupTest::batchModePreparesNoPage()
{
    TFormUnderTest t(*folder_, {"task.ini"});
    QVERIFY(t.State.Env.IsBatchMode());
    QCOMPARE(t.State.Env.BatchTaskArgument(), std::string("task.ini"));
    for (const char* panel : wiz::Pages)
        QVERIFY2(t.Find<QWidget>(panel)->isHidden(), panel);
    QCOMPARE(int(t.State.PageNumber), 0);
    // Asked afresh: the mode follows the command line kept at start.
    folder_->Env.Arguments = {"a", "b"};
    QVERIFY(!t.State.Env.IsBatchMode());
    QVERIFY(t.State.Env.BatchTaskArgument().empty());
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
        folder_->ProgramFile(file.chopped(file.endsWith('/') ? 1 : 0).toStdString());
    std::filesystem::remove(path);
    if (file.endsWith('/'))
        std::filesystem::create_directory(path);
    QCOMPARE(MissingRequiredFiles(folder_->Program()).size(), std::size_t(1));

    TFormUnderTest t(*folder_,
                     batch ? std::vector<std::string>{"task.ini"} : std::vector<std::string>{});
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
    std::filesystem::remove(folder_->ProgramFile("Backup.ini"));
    TFormUnderTest t(*folder_);
    QVERIFY(std::filesystem::is_regular_file(folder_->ProgramFile("Backup.ini")));
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
    TFormUnderTest t(*folder_);
    t.Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(t.Form.get()));
    t.Boxes.Answers.push_back(yes);
    if (byCancelButton)
        QTest::mouseClick(t.Find<QPushButton>(wiz::Cancel), Qt::LeftButton);
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
        QVERIFY(!t.Find<QWidget>(wiz::WelcomePage)->isHidden());
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
    TFormUnderTest t(*folder_);
    t.Form->show();
    if (reportPage)
        t.Form->ShowPage(TPage::Report);
    else
        t.State.CloseWithoutQuestion = true;
    QTest::mouseClick(t.Find<QPushButton>(wiz::Cancel), Qt::LeftButton);
    QVERIFY(t.Boxes.Calls.empty());
    QCOMPARE(t.Exits, std::vector<int>{0});
    QVERIFY(!t.Form->isVisible());
}

void StartupTest::newBackupOrRestoreStartsOver()
{
    TFormUnderTest t(*folder_);
    t.Form->show();
    t.Form->AddTaskLine("Backup contains:");
    t.Form->ShowPage(TPage::Processing);
    t.Form->SetReport("The backup was created. You can read the report below:", false, true);
    t.Form->ShowPage(TPage::Report);
    auto* finish = t.Find<QPushButton>(wiz::Cancel);
    auto* again = t.Find<QCheckBox>(wiz::NewRun);
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
    QCOMPARE(t.Find<QListWidget>(wiz::TaskList)->count(), 0);
    QCOMPARE(t.Find<QListWidget>(wiz::ReportList)->count(), 0);
    QCOMPARE(int(t.State.PageNumber), 1);
    QVERIFY(!t.Find<QWidget>(wiz::WelcomePage)->isHidden());
    QVERIFY(t.Find<QWidget>(wiz::ReportPage)->isHidden());
    QCOMPARE(finish->text(), QStringLiteral("Cancel"));
    QVERIFY(!t.Find<QPushButton>(wiz::Next)->isHidden());
    QCOMPARE(t.Form->focusWidget(), t.Find<QWidget>(wiz::Next));
}

void StartupTest::controlsSitWhereDesigned()
{
    TFormUnderTest t(*folder_);
    QCOMPARE(t.Form->centralWidget()->size(), QSize(ClientWidth, ClientHeight));
    QCOMPARE(t.Form->minimumSize(), t.Form->maximumSize());
    QVERIFY(!(t.Form->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(t.Form->windowFlags() & Qt::WindowMinimizeButtonHint);

    const struct {
        const char* Name;
        QRect Geometry;
    } expected[] = {
        // clang-format off
        {wiz::PictureFrame, {16, 16, 122, 262}}, {wiz::Picture, {18, 18, 118, 257}},
        {wiz::ButtonLine, {16, 288, 441, 2}},    {wiz::Back, {213, 296, 75, 25}},
        {wiz::Next, {288, 296, 75, 25}},         {wiz::Cancel, {384, 296, 75, 25}},
        {wiz::WelcomePage, {144, 16, 313, 265}}, {wiz::ComponentsPage, {144, 16, 313, 265}},
        {wiz::ReportPage, {144, 16, 313, 265}},  {wiz::WelcomeText, {8, 40, 305, 40}},
        {wiz::CloseProgramsText, {8, 80, 305, 50}}, {wiz::ContinueText, {8, 130, 305, 50}},
        {wiz::OperationBox, {8, 32, 305, 57}},   {wiz::ApplicationList, {8, 164, 305, 97}},
        {wiz::ProfileList, {8, 32, 305, 97}},    {wiz::Refresh, {8, 136, 75, 25}},
        {wiz::FindProfile, {120, 136, 75, 25}},  {wiz::NewProfile, {232, 136, 75, 25}},
        {wiz::BackupFileBox, {8, 212, 305, 49}}, {wiz::ComponentsBox, {8, 40, 305, 221}},
        {wiz::UnknownFiles, {159, 182, 130, 25}}, {wiz::TaskList, {8, 8, 305, 185}},
        {wiz::Progress, {8, 240, 305, 16}},      {wiz::ResultText, {8, 8, 305, 33}},
        {wiz::ReportList, {8, 48, 305, 193}},    {wiz::NewRun, {8, 248, 305, 17}},
        // clang-format on
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
        // clang-format off
        {wiz::WelcomeTitle, {8, 8}},      {wiz::OperationTitle, {8, 8}},
        {wiz::BackupChoice, {16, 24}},    {wiz::RestoreChoice, {148, 24}},
        {wiz::BackupFileTitle, {8, 184}}, {wiz::BackupFilePath, {8, 22}},
        {wiz::Browse, {216, 16}},         {wiz::TaskText, {8, 208}},
        // clang-format on
        {wiz::ComponentBox[ComponentGeneral], {15, 17}},
        {wiz::ComponentBox[ComponentExtensions], {15, 178}},
        {wiz::ComponentBox[ComponentPasswords], {158, 17}},
        {wiz::ComponentBox[ComponentCache], {158, 132}},
        {wiz::ComponentBox[ComponentAccountsOnly], {158, 159}},
    };
    for (const auto& p : placed)
        QVERIFY2(t.Find<QWidget>(p.Name)->pos() == p.Position, p.Name);

    QVERIFY(t.Find<QPushButton>(wiz::UnknownFiles)->isHidden());
    QCOMPARE(t.Find<QCheckBox>(wiz::ComponentBox[ComponentExtensions])->toolTip(),
             QStringLiteral("Firefox & Thunderbird only"));
    QCOMPARE(t.Find<QLabel>(wiz::TaskText)->text(), QStringLiteral("Akce: "));
    QCOMPARE(t.Find<QProgressBar>(wiz::Progress)->maximum(), 100);
    QVERIFY(t.Find<QGroupBox>(wiz::BackupFileBox)->font().bold());
    QVERIFY(!t.Find<QLabel>(wiz::BackupFilePath)->font().bold());
    QVERIFY(t.Find<QWidget>(wiz::BackupChoice)->property("checked").toBool());
    // The reading lists of the last two pages wear the button face.
    auto* tasks = t.Find<QListWidget>(wiz::TaskList);
    QCOMPARE(tasks->palette().color(QPalette::Base), tasks->palette().color(QPalette::Button));
}

void StartupTest::componentBoxesTabOrder()
{
    TFormUnderTest t(*folder_);
    auto* group = t.Find<QGroupBox>(wiz::ComponentsBox);
    QStringList order;
    QWidget* w = t.Find<QWidget>(wiz::ComponentBox[ComponentGeneral]);
    for (int i = 0; i < 16 && w != nullptr; ++i) {
        order << w->objectName();
        do
            w = w->nextInFocusChain();
        while (w->parentWidget() != group &&
               w != t.Find<QWidget>(wiz::ComponentBox[ComponentGeneral]));
    }
    QStringList expected; // down the left column, then the right one
    for (int n : {1, 2, 3, 4, 5, 6, 8, 10, 11, 12, 9, 7, 13, 14, 15})
        expected << wiz::ComponentBox[n];
    QCOMPARE(order, expected << wiz::UnknownFiles);
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
    folder_->WriteProgramFile("Backup.ini", "[General]\nmonitor=3\n");
    TFormUnderTest t(*folder_);
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
    TFormUnderTest plain(*folder_);
    plain.Form->show();
    const QString designed = plain.Form->font().families().value(0);
    QVERIFY(!designed.isEmpty());
    QCOMPARE(plain.Form->FontCharset(), 1);

    const QString longName = QStringLiteral("DejaVu Serif Condensed Extra Long Name");
    QVERIFY(longName.size() > 31);
    folder_->WriteProgramFile("Default.lng", "[Common]\nFont=" + longName.toStdString() +
                                                 "\nDefaultCharset=238\n");
    folder_->ReloadLanguage();
    TFormUnderTest t(*folder_);
    t.Form->show();
    QCOMPARE(t.Form->font().families().value(0), longName.left(31));
    // The designed families stay behind it for a name that is not installed.
    QCOMPARE(t.Form->font().families().value(1), designed);
    QCOMPARE(t.Form->FontCharset(), 238);
    // The title keeps its own weight and size on top of the language's family.
    auto* title = t.Find<QLabel>(wiz::WelcomeTitle);
    QCOMPARE(title->font().families().value(0), longName.left(31));
    QVERIFY(title->font().bold());

    folder_->WriteProgramFile("Default.lng", "[Common]\nDefaultCharset=latin\n");
    folder_->ReloadLanguage();
    TFormUnderTest bad(*folder_);
    bad.Form->show(); // an unusable character set changes nothing here
    QCOMPARE(bad.Form->FontCharset(), 1);
    QCOMPARE(bad.Form->font().families().value(0), designed);
}

void StartupTest::batchStartsOnceOnFirstActivation()
{
    TFormUnderTest t(*folder_, {"task.ini"});
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
    TFormUnderTest wizard(*folder_);
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
    TFormUnderTest t(*folder_, {"task.ini"});
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
    TFormUnderTest t(*folder_, {"task.ini"});
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
    TFormUnderTest t(*folder_);
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
