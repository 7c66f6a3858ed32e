// The Processing and Report pages as the runs drive them through the Qt user interface.

#include "AppTestSupport.h"

#include "engine/ReportPages.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

using namespace tessarin;
using namespace tessarin::test;

namespace {

QStringList Items(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

} // namespace

class ReportPagesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }
    void init()
    {
        folder_ = std::make_unique<TProgramFolder>();
        t_ = std::make_unique<TFormUnderTest>(*folder_);
        t_->Form->show();
    }
    void cleanup()
    {
        t_.reset();
        folder_.reset();
    }

    void backupListsItsComponents();
    void failedBackupThenGoodBackup();
    void restoreReportRepeatsTaskLines();
    void reportPageLeavesTheExitToTheRun();
    void progressBar();
    void closingDuringRunStopsIt_data();
    void closingDuringRunStopsIt();
    void boxesGoThroughThePresenter();
    void passwordPrompt();

private:
    QListWidget* List(const char* name) { return t_->Find<QListWidget>(name); }

    std::unique_ptr<TProgramFolder> folder_;
    std::unique_ptr<TFormUnderTest> t_;
};

void ReportPagesTest::backupListsItsComponents()
{
    auto* task = t_->Find<QLabel>(wiz::TaskText);
    QCOMPARE(task->text(), QStringLiteral("Akce: "));
    t_->State.Operation = TOperation::Backup;
    t_->State.Boxes[1].Checked = true;
    t_->State.Boxes[10].Checked = true;
    ShowProcessingPage(t_->State, t_->Form->Ui());

    QCOMPARE(Items(List(wiz::TaskList)),
             (QStringList{"Backup contains:", "- General settings", "- Cookies"}));
    QCOMPARE(task->text(), QStringLiteral("Calculating disk space. This takes some time."));
    QCOMPARE(t_->Form->windowTitle(), QStringLiteral("Tessarin 1.5.1 - Processing operation"));
    QVERIFY(!t_->Find<QWidget>(wiz::ProcessingPage)->isHidden());
    QVERIFY(t_->Find<QWidget>(wiz::WelcomePage)->isHidden());
    QVERIFY(t_->Find<QWidget>(wiz::ComponentsPage)->isHidden());
    QVERIFY(t_->Find<QPushButton>(wiz::Next)->isHidden());
    QVERIFY(t_->Find<QPushButton>(wiz::Back)->isHidden());
    QVERIFY(!t_->Find<QPushButton>(wiz::Cancel)->isHidden());
    QCOMPARE(int(t_->State.PageNumber), 5);
}

void ReportPagesTest::failedBackupThenGoodBackup()
{
    auto* result = t_->Find<QLabel>(wiz::ResultText);
    t_->State.Operation = TOperation::Backup;
    t_->State.Boxes[4].Checked = true;
    ShowProcessingPage(t_->State, t_->Form->Ui());
    t_->State.BackupFailed = true;
    ShowReportPage(t_->State, t_->Form->Ui());

    QCOMPARE(result->text(), QStringLiteral("Backup wasn't successfully created."));
    QVERIFY(result->font().bold());
    QCOMPARE(List(wiz::ReportList)->count(), 0);
    QCOMPARE(t_->Form->windowTitle(), QStringLiteral("Tessarin 1.5.1 - Report"));
    QCOMPARE(t_->Find<QPushButton>(wiz::Cancel)->text(), QStringLiteral("Finish"));
    QCOMPARE(t_->Find<QCheckBox>(wiz::NewRun)->text(), QStringLiteral("&New backup or restore"));
    QVERIFY(!t_->Find<QWidget>(wiz::ReportPage)->isHidden());
    QVERIFY(t_->Find<QWidget>(wiz::ProcessingPage)->isHidden());
    QCOMPARE(t_->Form->focusWidget(), t_->Find<QWidget>(wiz::Cancel));
    QVERIFY(t_->Exits.empty());

    // A later good backup of the same program run reads in regular weight.
    t_->State.BackupFailed = false;
    ShowReportPage(t_->State, t_->Form->Ui());
    QCOMPARE(result->text(),
             QStringLiteral("The backup was created. You can read the report below:"));
    QVERIFY(!result->font().bold());
    QCOMPARE(Items(List(wiz::ReportList)), (QStringList{"Backup contains:", "- Bookmarks"}));
}

void ReportPagesTest::restoreReportRepeatsTaskLines()
{
    t_->State.Operation = TOperation::Restore;
    t_->State.Boxes[1].Checked = true; // a restore lists nothing up front
    ShowProcessingPage(t_->State, t_->Form->Ui());
    QCOMPARE(List(wiz::TaskList)->count(), 0);
    const QStringList lines{"Restoring General settings", "Restoring Cookies", "Done"};
    for (const auto& line : lines)
        t_->Form->Ui().AddTaskLine(line.toStdString());
    ShowReportPage(t_->State, t_->Form->Ui());
    QCOMPARE(t_->Find<QLabel>(wiz::ResultText)->text(),
             QStringLiteral("The backup was restored. You can read the report below:"));
    QCOMPARE(Items(List(wiz::ReportList)), lines);
    QCOMPARE(Items(List(wiz::TaskList)), lines);
}

void ReportPagesTest::reportPageLeavesTheExitToTheRun()
{
    // A batch run still has work after the page (checks, keep): the status is its own.
    t_->State.Operation = TOperation::Backup;
    ShowProcessingPage(t_->State, t_->Form->Ui());
    ShowReportPage(t_->State, t_->Form->Ui());
    QVERIFY(!t_->Find<QWidget>(wiz::ReportPage)->isHidden());
    QVERIFY(t_->Exits.empty());
}

void ReportPagesTest::progressBar()
{
    auto* bar = t_->Find<QProgressBar>(wiz::Progress);
    TQtUserInterface& ui = t_->Form->Ui();
    ui.SetProgressBytes(3, 1);
    QCOMPARE(bar->value(), 33);
    ui.SetProgressBytes(200, 1); // 0.5 rounds to the even 0
    QCOMPARE(bar->value(), 0);
    ui.SetProgressBytes(8, 1); // 12.5 rounds to the even 12
    QCOMPARE(bar->value(), 12);
    ui.SetProgressBytes(3, 5);
    QCOMPARE(bar->value(), 100);
    ui.SetProgressBytes(0, 0);
    QCOMPARE(bar->value(), 0);
    // The restore run sets its own range.
    ui.SetProgressRange(140);
    ui.SetProgressPosition(70);
    QCOMPARE(bar->maximum(), 140);
    QCOMPARE(bar->value(), 70);
    ui.SetProgressPosition(500);
    QCOMPARE(bar->value(), 140);
    ui.SetProgressPosition(-3);
    QCOMPARE(bar->value(), 0);
}

void ReportPagesTest::closingDuringRunStopsIt_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("Yes") << true;
    QTest::newRow("No") << false;
}

void ReportPagesTest::closingDuringRunStopsIt()
{
    QFETCH(bool, yes);
    t_->State.Operation = TOperation::Backup;
    ShowProcessingPage(t_->State, t_->Form->Ui());
    t_->Boxes.Answers.push_back(yes);
    // The close box is pressed while the run pumps events.
    QMetaObject::invokeMethod(t_->Form.get(), "close", Qt::QueuedConnection);
    bool stopped = false;
    int code = -1;
    try {
        t_->Form->Ui().ProcessEvents();
    } catch (const TProgramExit& e) {
        stopped = true;
        code = e.Code;
    }
    QCOMPARE(t_->Boxes.Calls.size(), std::size_t(1));
    QCOMPARE(t_->Boxes.Calls[0].Kind, TBoxKind::Question);
    QCOMPARE(stopped, yes);
    if (yes) {
        QCOMPARE(code, 1);
        QCOMPARE(t_->Exits, std::vector<int>{1});
    } else {
        QVERIFY(t_->Exits.empty());
        QVERIFY(t_->Form->isVisible());
        t_->Form->Ui().ProcessEvents(); // and the run goes on
    }
}

void ReportPagesTest::boxesGoThroughThePresenter()
{
    TQtUserInterface& ui = t_->Form->Ui();
    t_->Boxes.Answers = {true, false, false, true};
    ui.WarningBox("Warning", "w");
    ui.ErrorBox("Error", "e");
    ui.InformationBox("Info", "i");
    QVERIFY(ui.QuestionBox("Question", "q1"));
    QVERIFY(!ui.QuestionBox("Question", "q2"));
    QVERIFY(!ui.RetryCancelBox("Retry", "r1"));
    QVERIFY(ui.RetryCancelBox("Retry", "r2"));
    const std::vector<TBoxKind> kinds{
        TBoxKind::Warning,  TBoxKind::Error,       TBoxKind::Information, TBoxKind::Question,
        TBoxKind::Question, TBoxKind::RetryCancel, TBoxKind::RetryCancel};
    QCOMPARE(t_->Boxes.Calls.size(), kinds.size());
    for (std::size_t i = 0; i < kinds.size(); ++i)
        QCOMPARE(t_->Boxes.Calls[i].Kind, kinds[i]);
    QCOMPARE(t_->Boxes.Calls[1].Caption, QStringLiteral("Error"));
    QCOMPARE(t_->Boxes.Calls[6].Text, QStringLiteral("r2"));
    // UTF-8 texts arrive intact.
    ui.WarningBox("Varování", "Soubor nenalezen: Průvodce");
    QCOMPARE(t_->Boxes.Calls.back().Text, QStringLiteral("Soubor nenalezen: Průvodce"));
}

void ReportPagesTest::passwordPrompt()
{
    TQtUserInterface& ui = t_->Form->Ui();
    QVERIFY(!ui.AskPassword().has_value());
    int asked = 0;
    ui.SetPasswordPrompt([&asked]() -> std::optional<std::string> {
        ++asked;
        return asked == 1 ? std::optional<std::string>("secret") : std::nullopt;
    });
    QCOMPARE(ui.AskPassword(), std::optional<std::string>("secret"));
    QVERIFY(!ui.AskPassword().has_value());
    QCOMPARE(asked, 2);
}

QTEST_MAIN(ReportPagesTest)
#include "tst_reportpages.moc"
