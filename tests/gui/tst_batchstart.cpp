// The built program started with one argument and no display: it runs in the
// console, never waits for anyone, and reports a missing data file.

#include "support/ProfileFixture.h"
#include "support/TempDir.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

#include <filesystem>

using namespace tessarin::test;
namespace fs = std::filesystem;

namespace {

struct TRun {
    bool Finished = false;
    int ExitCode = -1;
    QProcess::ExitStatus Status = QProcess::CrashExit;
    QString Output;
};

} // namespace

class BatchStartTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { dir_.reset(); }

    void batchWithoutDisplayEndsWithFailure();
    void batchBackupEndToEnd();
    void missingDataFileIsReported();
    void wizardWithoutDisplayExplains();

private:
    TRun Run(const QStringList& arguments);
    fs::path Program() const { return dir_->Path() / "program"; }

    std::unique_ptr<TTempDir> dir_;
};

// The program folder is the executable's own folder, so the test runs a copy of it.
void BatchStartTest::init()
{
    dir_ = std::make_unique<TTempDir>();
    fs::create_directories(Program());
    fs::create_directories(dir_->Path() / "home");
    for (const char* name :
         {"tessarin", "Default.lng", "Backup.ini", "Profilefiles.txt", "side.jpg"})
        fs::copy_file(fs::path(TESSARIN_BIN_DIR) / name, Program() / name);
}

TRun BatchStartTest::Run(const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    const QString root = QString::fromStdString(dir_->Path().string());
    env.insert("HOME", root + "/home");
    env.insert("XDG_CONFIG_HOME", root + "/home/.config");
    env.insert("XDG_STATE_HOME", root + "/home/.local/state");
    env.insert("XDG_DATA_HOME", root + "/home/.local/share");
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(root);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QString::fromStdString((Program() / "tessarin").string()), arguments);
    TRun run;
    if (!process.waitForStarted(10000))
        return run;
    run.Finished = process.waitForFinished(30000);
    if (!run.Finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    run.ExitCode = process.exitCode();
    run.Status = process.exitStatus();
    run.Output = QString::fromUtf8(process.readAll());
    return run;
}

void BatchStartTest::batchWithoutDisplayEndsWithFailure()
{
    dir_->Write("task.ini", "[General]\naction=backup\napplication=firefox\nprofile=default\n"
                            "output=" +
                                dir_->Folder() + "out/backup.pcv\n");
    const TRun run = Run({QString::fromStdString(dir_->Folder() + "task.ini")});
    QVERIFY2(run.Finished, "the batch run waited for something");
    QCOMPARE(run.Status, QProcess::NormalExit);
    // This home holds no Firefox profile: no backup, and the status says so.
    QVERIFY2(run.ExitCode != 0, qPrintable(run.Output));
    QVERIFY(!fs::exists(dir_->Path() / "out" / "backup.pcv"));
}

// A home as a user of the Flatpak Firefox has it, with one real-shaped profile.
void BatchStartTest::batchBackupEndToEnd()
{
    dir_->Write("home/.local/share/flatpak/app/org.mozilla.firefox/current/active/files/lib/"
                "firefox/application.ini",
                "[App]\nVendor=Mozilla\nName=Firefox\nRemotingName=firefox\nVersion=128.5.1esr\n"
                "BuildID=20241118000000\n");
    CopyRealProfile("firefox", dir_->Path() / "home/.mozilla/firefox", "k3j4h5g6.default-release");
    dir_->Write("home/.mozilla/firefox/profiles.ini",
                "[Profile0]\nName=default-release\nIsRelative=1\nPath=k3j4h5g6.default-release\n"
                "Default=1\n\n[General]\nStartWithLastProfile=1\nVersion=2\n");
    dir_->Write("task.ini", "[General]\naction=backup\napplication=firefox\nprofile=release\n"
                            "output=" + dir_->Folder() + "Backups/<application> <profile>.pcv\n"
                            "password=nightly\n");
    const TRun run = Run({QString::fromStdString(dir_->Folder() + "task.ini")});
    QVERIFY2(run.Finished, "the batch run waited for something");
    QCOMPARE(run.Status, QProcess::NormalExit);
    QVERIFY2(run.ExitCode == 0, qPrintable(run.Output));
    const fs::path backup = dir_->Path() / "Backups/Firefox default-release.pcv";
    QVERIFY2(fs::is_regular_file(backup), qPrintable(run.Output));
    QVERIFY(fs::file_size(backup) > 1000);
    // Progress went to the console, file by file.
    QVERIFY2(run.Output.contains("File: prefs.js"), qPrintable(run.Output));
    QVERIFY(!fs::exists(dir_->Path() / "home/.local/state/tessarin/error.log"));
}

void BatchStartTest::missingDataFileIsReported()
{
    fs::remove(Program() / "Profilefiles.txt");
    const TRun run = Run({"task.ini"});
    QVERIFY(run.Finished);
    QCOMPARE(run.Status, QProcess::NormalExit);
    QCOMPARE(run.ExitCode, 1);
    QVERIFY2(run.Output.contains("Some files not found. Please reinstall."),
             qPrintable(run.Output));
    // Nobody reads a console at night: the warning is in the error log too, under the
    // test's own home, not the real one.
    const fs::path log = dir_->Path() / "home/.local/state/tessarin/error.log";
    QVERIFY(ReadFile(log).find("Some files not found. Please reinstall.") != std::string::npos);
}

void BatchStartTest::wizardWithoutDisplayExplains()
{
    for (const QStringList& arguments : {QStringList{}, QStringList{"a.ini", "b.ini"}}) {
        const TRun run = Run(arguments);
        QVERIFY(run.Finished);
        QCOMPARE(run.Status, QProcess::NormalExit); // not Qt's abort
        QCOMPARE(run.ExitCode, 1);
        QVERIFY2(run.Output.contains("no display"), qPrintable(run.Output));
    }
}

QTEST_GUILESS_MAIN(BatchStartTest)
#include "tst_batchstart.moc"
