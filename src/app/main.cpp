// Tessarin: start-up and run modes.

#include "app/MainWindow.h"
#include "app/QtUserInterface.h"
#include "config/BatchMode.h"
#include "config/ConsoleUserInterface.h"
#include "config/Environment.h"
#include "config/ErrorLog.h"
#include "config/Settings.h"
#include "config/SharedState.h"
#include "engine/BatchBackup.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#ifndef TESSARIN_VERSION
#define TESSARIN_VERSION "unknown"
#endif

using namespace tessarin;

namespace {

bool EnvironmentHas(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// A batch run from cron or ssh has no display; Qt would abort there.
bool DisplayAvailable()
{
#if defined(__linux__) || defined(__FreeBSD__)
    return EnvironmentHas("DISPLAY") || EnvironmentHas("WAYLAND_DISPLAY") ||
           EnvironmentHas("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

void PrintUsage(const TEnvironment& env)
{
    std::printf(
        "Usage: tessarin                start the backup and restore wizard\n"
        "       tessarin TASK-FILE      make the backup a task file describes, without asking\n"
        "       tessarin --help         show this text\n"
        "       tessarin --version      show the version\n"
        "\n"
        "A task file given without a folder is looked for in the program folder:\n"
        "  %s\n"
        "Settings are read from:\n"
        "  %s\n"
        "  (the user's $XDG_CONFIG_HOME/tessarin/Backup.ini when it exists, else the\n"
        "  program folder's)\n"
        "Errors are logged to:\n"
        "  %s\n"
        "A batch backup ends with exit status 0 only when a backup was written.\n"
        "See man tessarin for the task file's keys.\n",
        env.Folders.Program.c_str(), env.SettingsFile().c_str(), ErrorLogPath(env.Folders).c_str());
}

int RunConsoleBatch(TSharedState& state)
{
    TConsoleUserInterface ui;
    try {
        LoadSettings(state);
    } catch (const std::exception& e) {
        WriteErrorLog(e.what()); // the defaults stay, as in the window
    }
    if (!CheckRequiredFiles(state.Env, ui))
        return 1;
    try {
        return RunBatchBackup(state, ui, state.Env.BatchTaskArgument());
    } catch (const TProgramExit& e) {
        return e.Code;
    }
}

int RunWindow(int argc, char** argv, TSharedState& state)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessarin"));
    // The close query decides the exit status; closing a dialog must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    TForm1 form(state);
    form.CreateDialogs();
    form.show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    // Before anything else: these must work without a display and without data files.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        PrintUsage(SystemEnvironment());
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tessarin %s\n", TESSARIN_VERSION);
        return 0;
    }
    // Before Qt sees argv: it removes the options it knows.
    TEnvironment env = SystemEnvironment(CommandLineArguments(argc, argv));
    // Whoever runs a batch task (cron, systemd, a terminal) hears of every failure.
    if (env.IsBatchMode())
        env.ErrorLogEcho = stderr;
    const TCurrentEnvironment current(env);
    // Owned here, not by a window, so they outlive every page and dialog.
    TSharedState state(env);
    try {
        if (!DisplayAvailable()) {
            if (env.IsBatchMode())
                return RunConsoleBatch(state);
            std::fprintf(stderr, "Tessarin: no display found. The wizard needs one; a batch backup "
                                 "runs without one when the only argument is a task file.\n");
            return 1;
        }
        return RunWindow(argc, argv, state);
    } catch (const TProgramExit& e) {
        return e.Code;
    } catch (const std::exception& e) {
        AppendErrorLog(e.what());
        std::fprintf(stderr, "Tessarin: %s\n", e.what());
        return 1;
    }
}
