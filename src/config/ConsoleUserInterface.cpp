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
    AppendErrorLog(text);
}

void TConsoleUserInterface::ErrorBox(const std::string& caption, const std::string& text)
{
    Line(caption + ": " + text);
    AppendErrorLog(text);
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
    AppendErrorLog(text);
    return false;
}

std::optional<std::string> TConsoleUserInterface::AskPassword()
{
    Line("A password is needed and cannot be asked for in batch mode.");
    return std::nullopt;
}

void TConsoleUserInterface::ShowPage(TPage) {}

// The archive repeats a file's name while it works on it; a log wants it once.
void TConsoleUserInterface::SetTaskText(const std::string& text)
{
    // A big file names itself at every step until its first percent: once is enough.
    // Only the last name is kept: a set of every name would grow with the profile.
    if (text == named_)
        return;
    named_ = text;
    donePosition_ = position_;
    PrintProgress(false);
    Line(text);
}

void TConsoleUserInterface::AddTaskLine(const std::string& text) { Line(text); }

void TConsoleUserInterface::SetProgressRange(int maximum)
{
    maximum_ = maximum > 0 ? maximum : 100;
    position_ = donePosition_ = printedPercent_ = 0;
}

void TConsoleUserInterface::SetProgressPosition(int position)
{
    position_ = position;
    PrintProgress(false);
}

void TConsoleUserInterface::PrintProgress(bool force)
{
    const int percent = static_cast<int>(100LL * donePosition_ / maximum_);
    if (percent <= printedPercent_)
        return;
    const auto now = clock_();
    if (!force && printedAt_ && now - *printedAt_ < interval_)
        return;
    printedAt_ = now;
    printedPercent_ = percent;
    std::fprintf(out_, "%d%%\n", percent);
    std::fflush(out_);
}

void TConsoleUserInterface::SetReport(const std::string& resultText, bool failed, bool)
{
    // A run that succeeded has really done what the archive reported.
    if (!failed) {
        donePosition_ = position_;
        PrintProgress(true);
    }
    Line(resultText);
}

} // namespace tessarin
