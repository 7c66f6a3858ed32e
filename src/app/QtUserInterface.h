#pragma once
// The user-interface interface on the real window: Qt message boxes and the
// Processing/Report pages of TForm1.

#include "platform/UserInterface.h"

#include <QString>

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace tessarin {

class TForm1;

enum class TBoxKind { Warning, Error, Information, Question, RetryCancel };

// Shows one message box and returns true for OK, Yes or Retry. Tests put a
// scripted one in place so no modal dialog ever opens.
using TBoxPresenter =
    std::function<bool(TBoxKind kind, const QString& caption, const QString& text)>;

// The platform's modal message box, parented to parent.
bool ShowMessageBox(QWidget* parent, TBoxKind kind, const QString& caption, const QString& text);

class TQtUserInterface : public IUserInterface {
public:
    explicit TQtUserInterface(TForm1& form);

    void SetBoxPresenter(TBoxPresenter presenter);
    // Until this is connected to the enter-password dialog, AskPassword answers nullopt.
    void SetPasswordPrompt(std::function<std::optional<std::string>()> prompt);

    void WarningBox(const std::string& caption, const std::string& text) override;
    void ErrorBox(const std::string& caption, const std::string& text) override;
    void InformationBox(const std::string& caption, const std::string& text) override;
    bool QuestionBox(const std::string& caption, const std::string& text) override;
    bool RetryCancelBox(const std::string& caption, const std::string& text) override;
    std::optional<std::string> AskPassword() override;
    void ShowPage(TPage page) override;
    void SetTaskText(const std::string& text) override;
    void AddTaskLine(const std::string& text) override;
    void SetProgressRange(int maximum) override;
    void SetProgressPosition(int position) override;
    void SetReport(const std::string& resultText, bool bold, bool copyTaskLines) override;
    // Throws TProgramExit when the person closed the window meanwhile.
    void ProcessEvents() override;
    void RequestExit(int code) override;

    // The bar as a percentage of bytes done.
    void SetProgressBytes(std::uint64_t total, std::uint64_t done);

private:
    bool Box(TBoxKind kind, const std::string& caption, const std::string& text);

    TForm1& form_;
    TBoxPresenter presenter_;
    std::function<std::optional<std::string>()> passwordPrompt_;
};

} // namespace tessarin
