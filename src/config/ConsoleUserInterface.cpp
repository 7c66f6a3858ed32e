#include "config/ConsoleUserInterface.h"

#include "config/ErrorLog.h"

namespace tessarin {

void TConsoleUserInterface::Line(const std::string& text)
{
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

// Nobody reads a box in batch mode: warnings and errors also go to the error log,
// so a failed cron run leaves a trace.
void TConsoleUserInterface::WarningBox(const std::string& caption, const std::string& text)
{
    Line(caption + ": " + text);
    WriteErrorLog(text);
}

void TConsoleUserInterface::ErrorBox(const std::string& caption, const std::string& text)
{
    Line(caption + ": " + text);
    WriteErrorLog(text);
}

void TConsoleUserInterface::InformationBox(const std::string& caption, const std::string& text)
{
    Line(caption + ": " + text);
}

bool TConsoleUserInterface::QuestionBox(const std::string& caption, const std::string& text)
{
    Line(caption + ": " + text + " -> No");
    return false;
}

bool TConsoleUserInterface::RetryCancelBox(const std::string& caption, const std::string& text)
{
    Line(caption + ": " + text + " -> Cancel");
    WriteErrorLog(text);
    return false;
}

std::optional<std::string> TConsoleUserInterface::AskPassword()
{
    Line("A password is needed and cannot be asked for in batch mode.");
    return std::nullopt;
}

void TConsoleUserInterface::ShowPage(TPage) {}

void TConsoleUserInterface::SetTaskText(const std::string& text) { Line(text); }

void TConsoleUserInterface::AddTaskLine(const std::string& text) { Line(text); }

void TConsoleUserInterface::SetProgressRange(int maximum)
{
    maximum_ = maximum > 0 ? maximum : 100;
    lastPercent_ = -1;
}

void TConsoleUserInterface::SetProgressPosition(int position)
{
    const int percent = static_cast<int>(100LL * position / maximum_);
    // One line per tenth keeps a cron mail readable.
    if (percent / 10 != lastPercent_ / 10 || lastPercent_ < 0) {
        lastPercent_ = percent;
        std::fprintf(out_, "%d%%\n", percent);
        std::fflush(out_);
    }
}

void TConsoleUserInterface::SetReport(const std::string& resultText, bool, bool)
{
    Line(resultText);
}

} // namespace tessarin
