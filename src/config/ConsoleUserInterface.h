#pragma once
// The user interface of batch mode without a display: everything goes to stderr,
// questions get their safe default answer, and nothing ever waits for a person.

#include "platform/UserInterface.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace tessarin {

class TConsoleUserInterface : public IUserInterface {
public:
    using TClock = std::function<std::chrono::steady_clock::time_point()>;

    // Progress percentages are printed at most once per interval; tests pass their own clock.
    explicit TConsoleUserInterface(std::FILE* out = stderr,
                                   std::chrono::seconds interval = std::chrono::seconds(5),
                                   TClock clock = std::chrono::steady_clock::now)
        : out_(out), interval_(interval), clock_(std::move(clock)) {}

    void WarningBox(const std::string& caption, const std::string& text) override;
    void ErrorBox(const std::string& caption, const std::string& text) override;
    void InformationBox(const std::string& caption, const std::string& text) override;
    bool QuestionBox(const std::string& caption, const std::string& text) override;
    bool RetryCancelBox(const std::string& caption, const std::string& text) override;
    std::optional<std::string> AskPassword() override;
    // Nobody is there to answer a dialog: each is cancelled.
    std::optional<std::string> AskNewPassword() override { return std::nullopt; }
    std::optional<TNewProfileAnswer> AskNewProfile() override { return std::nullopt; }
    std::optional<std::string> ChooseFile(const TFileQuestion&) override { return std::nullopt; }
    std::optional<std::string> ChooseFolder(const std::string&) override { return std::nullopt; }
    void ShowPage(TPage page) override;
    void SetTaskText(const std::string& text) override;
    void AddTaskLine(const std::string& text) override;
    void SetProgressRange(int maximum) override;
    void SetProgressPosition(int position) override;
    void SetReport(const std::string& resultText, bool bold, bool copyTaskLines) override;
    void ProcessEvents() override {}

private:
    void Line(const std::string& text);
    void PrintProgress(bool force);

    std::FILE* out_;
    std::chrono::seconds interval_;
    TClock clock_;
    int maximum_ = 100;
    // The archive counts a file as done when it starts, so the position reached
    // before the current file began is what is really done.
    int position_ = 0;
    int donePosition_ = 0;
    int printedPercent_ = 0;
    std::optional<std::chrono::steady_clock::time_point> printedAt_;
    std::string named_; // the last task text printed
};

} // namespace tessarin
