// The built program started with one argument and no display: it runs in the
// console, never waits for anyone, and reports a missing data file.

#include "support/ProfileFixture.h"
#include "support/TempDir.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace tessarin::test;
namespace fs = std::filesystem;

namespace {

struct TRun {
    bool Finished = false;
    int ExitCode = -1;
    QProcess::ExitStatus Status = QProcess::CrashExit;
    QString Output; // stdout and stderr
    QString Stdout;
    QString Stderr;
};

std::string Slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The first fenced block of the given language after heading in a Markdown file.
std::string FencedBlockAfter(const std::string& text, const std::string& heading,
                             const std::string& language)
{
    const auto at = text.find("\n" + heading + "\n");
    if (at == std::string::npos)
        return {};
    const std::string fence = "```" + language + "\n";
    const auto start = text.find(fence, at);
    if (start == std::string::npos)
        return {};
    const auto end = text.find("\n```", start + fence.size());
    return end == std::string::npos ? std::string()
                                    : text.substr(start + fence.size(), end + 1 - start - fence.size());
}

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
    void helpAndVersionNeedNothing();
    void failedTaskSaysWhyOnStderr();
    void readmeTaskFileWorksAsCopied();
    void shippedServiceCommandMakesABackup();

private:
    TRun Run(const QStringList& arguments);
    fs::path Program() const { return dir_->Path() / "program"; }
    fs::path Home() const { return dir_->Path() / "home"; }
    void InstallFlatpakFirefox();

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
    // No process of the machine's own (a Firefox the developer has open) counts.
    fs::create_directories(dir_->Path() / "proc");
    env.insert("TESSARIN_PROC_ROOT", root + "/proc");
    QProcess process;
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(root);
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
    run.Stdout = QString::fromUtf8(process.readAllStandardOutput());
    run.Stderr = QString::fromUtf8(process.readAllStandardError());
    run.Output = run.Stdout + run.Stderr;
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

// A home as a user of the Flatpak Firefox has it after the first start: an unused
// "default" marked Default=1 and the real-shaped profile in use.
void BatchStartTest::InstallFlatpakFirefox()
{
    dir_->Write("home/.local/share/flatpak/app/org.mozilla.firefox/current/active/files/lib/"
                "firefox/application.ini",
                "[App]\nVendor=Mozilla\nName=Firefox\nRemotingName=firefox\nVersion=128.5.1esr\n"
                "BuildID=20241118000000\n");
    CopyRealProfile("firefox", dir_->Path() / "home/.mozilla/firefox", "k3j4h5g6.default-release");
    dir_->Write("home/.mozilla/firefox/d83xf7av.default/times.json", "{\"created\":1765000000000}\n");
    dir_->Write("home/.mozilla/firefox/profiles.ini",
                "[Profile1]\nName=default\nIsRelative=1\nPath=d83xf7av.default\nDefault=1\n\n"
                "[Profile0]\nName=default-release\nIsRelative=1\nPath=k3j4h5g6.default-release\n\n"
                "[General]\nStartWithLastProfile=1\nVersion=2\n\n"
                "[Install4F96D1932A9F858E]\nDefault=k3j4h5g6.default-release\nLocked=1\n\n");
    dir_->Write("home/.mozilla/firefox/installs.ini",
                "[4F96D1932A9F858E]\nDefault=k3j4h5g6.default-release\nLocked=1\n\n");
}

void BatchStartTest::batchBackupEndToEnd()
{
    InstallFlatpakFirefox();
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

void BatchStartTest::helpAndVersionNeedNothing()
{
    // Neither may need the data files or a display.
    fs::remove(Program() / "Default.lng");
    const TRun version = Run({"--version"});
    QVERIFY(version.Finished);
    QCOMPARE(version.ExitCode, 0);
    QCOMPARE(version.Stdout, QStringLiteral("tessarin " TESSARIN_VERSION "\n"));

    const TRun help = Run({"--help"});
    QVERIFY(help.Finished);
    QCOMPARE(help.ExitCode, 0);
    QVERIFY2(help.Stdout.contains("TASK-FILE"), qPrintable(help.Stdout));
    const QString root = QString::fromStdString(dir_->Path().string());
    QVERIFY2(help.Stdout.contains(root + "/program/Backup.ini"), qPrintable(help.Stdout));
    QVERIFY2(help.Stdout.contains(root + "/home/.local/state/tessarin/error.log"),
             qPrintable(help.Stdout));

    // The user's own settings file, once it is there, is the one named.
    dir_->Write("home/.config/tessarin/Backup.ini", "[General]\n");
    QVERIFY(Run({"--help"}).Stdout.contains(root + "/home/.config/tessarin/Backup.ini"));
}

void BatchStartTest::failedTaskSaysWhyOnStderr()
{
    const TRun missing = Run({"no-such-task.ini"});
    QVERIFY(missing.Finished);
    QCOMPARE(missing.ExitCode, 1);
    QVERIFY2(missing.Stderr.contains("tessarin: Cannot find config file no-such-task.ini."),
             qPrintable(missing.Output));
    QCOMPARE(Slurp(Home() / ".local/state/tessarin/error.log"),
             std::string("Cannot find config file no-such-task.ini.\r\n"));

    // A comment after a value is part of the value: exactly the mistake to be heard of.
    dir_->Write("task.ini", "[General]\naction=backup ; the only action\n");
    const TRun bad = Run({QString::fromStdString(dir_->Folder() + "task.ini")});
    QCOMPARE(bad.ExitCode, 1);
    QVERIFY2(bad.Stderr.contains("tessarin: Bad action defined in config file."),
             qPrintable(bad.Output));
}

// The README's task file, copied as it stands to where the README puts it.
void BatchStartTest::readmeTaskFileWorksAsCopied()
{
    const std::string readme = Slurp(fs::path(TESSARIN_SOURCE_DIR) / "README.md");
    const std::string task = FencedBlockAfter(readme, "## Batch mode", "ini");
    QVERIFY2(task.find("[General]") != std::string::npos, "no task file in the README");
    // The shipped example and the manual page show the very same file.
    QCOMPARE(task, Slurp(fs::path(TESSARIN_SOURCE_DIR) / "data/examples/firefox-daily.ini")
                       .substr(Slurp(fs::path(TESSARIN_SOURCE_DIR) /
                                     "data/examples/firefox-daily.ini").find("[General]")));
    const std::string manual = Slurp(fs::path(TESSARIN_SOURCE_DIR) / "data/linux/tessarin.1");
    QVERIFY2(manual.find(".EX\n" + task + ".EE\n") != std::string::npos,
             "the manual page's task file differs from the README's");

    InstallFlatpakFirefox();
    dir_->Write("home/.config/tessarin/firefox-daily.ini", task);
    // "tessarin ~/.config/tessarin/firefox-daily.ini" after the shell expanded "~".
    const TRun run = Run({QString::fromStdString(
        (Home() / ".config/tessarin/firefox-daily.ini").string())});
    QVERIFY(run.Finished);
    QVERIFY2(run.ExitCode == 0, qPrintable(run.Output));
    int backups = 0;
    for (const auto& entry : fs::directory_iterator(Home() / "Backups")) {
        const std::string name = entry.path().filename().string();
        QVERIFY2(name.rfind("Firefox default-release ", 0) == 0, name.c_str());
        QVERIFY(fs::file_size(entry.path()) > 1000);
        ++backups;
    }
    QCOMPARE(backups, 1);
    // Each file named once; percentages only go up, and 100% only once every file is in.
    QCOMPARE(run.Stderr.count("File: prefs.js\n"), 1);
    const QStringList lines = run.Stderr.split('\n');
    int last = 0;
    qsizetype lastFile = -1;
    qsizetype full = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].startsWith("File: ")) {
            QCOMPARE(lines.count(lines[i]), 1);
            lastFile = i;
        } else if (lines[i].endsWith('%')) {
            const int percent = lines[i].chopped(1).toInt();
            QVERIFY2(percent > last, qPrintable(run.Stderr));
            last = percent;
            if (percent == 100)
                full = i;
        }
    }
    QVERIFY2(full > lastFile, qPrintable(run.Stderr));
}

// What the timer starts: the service's command line with %h as systemd fills it in.
void BatchStartTest::shippedServiceCommandMakesABackup()
{
    const std::string service =
        Slurp(fs::path(TESSARIN_SOURCE_DIR) / "data/examples/tessarin-backup.service");
    const auto at = service.find("\nExecStart=tessarin ");
    QVERIFY(at != std::string::npos);
    std::string argument = service.substr(at + 20, service.find('\n', at + 1) - at - 20);
    QVERIFY(argument.rfind("%h/", 0) == 0);
    argument = Home().string() + argument.substr(2);
    fs::create_directories(fs::path(argument).parent_path());
    fs::copy_file(fs::path(TESSARIN_SOURCE_DIR) / "data/examples/firefox-daily.ini", argument);
    InstallFlatpakFirefox();
    const TRun run = Run({QString::fromStdString(argument)});
    QVERIFY(run.Finished);
    QVERIFY2(run.ExitCode == 0, qPrintable(run.Output));
    QVERIFY(!fs::is_empty(Home() / "Backups"));
}

QTEST_GUILESS_MAIN(BatchStartTest)
#include "tst_batchstart.moc"
