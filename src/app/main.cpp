// Tessarin: start-up and run modes.

#include "app/MainWindow.h"
#include "app/QtUserInterface.h"
#include "config/BatchMode.h"
#include "engine/BatchBackup.h"
#include "config/ConsoleUserInterface.h"
#include "config/ErrorLog.h"
#include "config/L10n.h"
#include "config/Settings.h"
#include "config/SharedState.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <exception>

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

int RunConsoleBatch(TSharedState& state)
{
    TConsoleUserInterface ui;
    Language();
    try {
        LoadSettings(state);
    } catch (const std::exception& e) {
        WriteErrorLog(e.what()); // the defaults stay, as in the window
    }
    if (!CheckRequiredFiles(ui))
        return 1;
    try {
        return RunBatchBackup(state, ui, BatchTaskArgument());
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
    // Before Qt sees argv: it removes the options it knows.
    SetCommandLine(argc, argv);
    // Owned here, not by a window, so it outlives every page and dialog.
    TSharedState state;
    try {
        if (!DisplayAvailable()) {
            if (IsBatchMode())
                return RunConsoleBatch(state);
            std::fprintf(stderr, "Tessarin: no display found. The wizard needs one; a batch backup "
                                 "runs without one when the only argument is a task file.\n");
            return 1;
        }
        return RunWindow(argc, argv, state);
    } catch (const TProgramExit& e) {
        return e.Code;
    } catch (const std::exception& e) {
        WriteErrorLog(e.what());
        std::fprintf(stderr, "Tessarin: %s\n", e.what());
        return 1;
    }
}
