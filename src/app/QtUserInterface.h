#pragma once
// The user-interface interface on the real window: Qt message boxes and the
// Processing/Report pages of TForm1.

#include "platform/UserInterface.h"

#include <QString>

#include <functional>
#include <optional>
#include <string>

class QFileDialog;
class QWidget;

namespace tessarin {

class TForm1;

enum class TBoxKind { Warning, Error, Information, Question, RetryCancel };

// Shows one message box and returns true for OK, Yes or Retry. Tests put a
// scripted one in place so no modal dialog ever opens.
using TBoxPresenter =
    std::function<bool(TBoxKind kind, const QString& caption, const QString& text)>;

// Sets dialog up for question: a save or an open dialog that starts in its folder with
// its name proposed; the filter "description | pattern" becomes Qt's form. A save
// dialog does not ask itself whether to replace a file: the wizard asks that on Next,
// in the language file's words.
void PrepareFileDialog(QFileDialog& dialog, const TFileQuestion& question);

// The platform's file dialog for question, parented to parent.
std::optional<std::string> ShowFileDialog(QWidget* parent, const TFileQuestion& question);

// The platform's modal message box, parented to parent.
bool ShowMessageBox(QWidget* parent, TBoxKind kind, const QString& caption, const QString& text);

class TQtUserInterface : public IUserInterface {
public:
    explicit TQtUserInterface(TForm1& form);

    void SetBoxPresenter(TBoxPresenter presenter);
    // Until these are connected to their dialogs, the requests answer nullopt. Tests
    // put scripted answers in their place, so no modal dialog ever opens.
    void SetPasswordPrompt(std::function<std::optional<std::string>()> prompt);
    void SetNewPasswordPrompt(std::function<std::optional<std::string>()> prompt);
    void SetNewProfilePrompt(std::function<std::optional<TNewProfileAnswer>()> prompt);
    void SetFileChooser(std::function<std::optional<std::string>(const TFileQuestion&)> chooser);
    void SetFolderChooser(std::function<std::optional<std::string>(const std::string&)> chooser);

    void WarningBox(const std::string& caption, const std::string& text) override;
    void ErrorBox(const std::string& caption, const std::string& text) override;
    void InformationBox(const std::string& caption, const std::string& text) override;
    bool QuestionBox(const std::string& caption, const std::string& text) override;
    bool RetryCancelBox(const std::string& caption, const std::string& text) override;
    std::optional<std::string> AskPassword() override;
    std::optional<std::string> AskNewPassword() override;
    std::optional<TNewProfileAnswer> AskNewProfile() override;
    std::optional<std::string> ChooseFile(const TFileQuestion& question) override;
    std::optional<std::string> ChooseFolder(const std::string& caption) override;
    void ShowPage(TPage page) override;
    void SetTaskText(const std::string& text) override;
    void AddTaskLine(const std::string& text) override;
    void SetProgressRange(int maximum) override;
    void SetProgressPosition(int position) override;
    void SetReport(const std::string& resultText, bool bold, bool copyTaskLines) override;
    // Throws TProgramExit when the person closed the window meanwhile.
    void ProcessEvents() override;

    // The bar as a percentage of bytes done.
    void SetProgressBytes(std::uint64_t total, std::uint64_t done);

private:
    bool Box(TBoxKind kind, const std::string& caption, const std::string& text);

    TForm1& form_;
    TBoxPresenter presenter_;
    std::function<std::optional<std::string>()> passwordPrompt_;
    std::function<std::optional<std::string>()> newPasswordPrompt_;
    std::function<std::optional<TNewProfileAnswer>()> newProfilePrompt_;
    std::function<std::optional<std::string>(const TFileQuestion&)> fileChooser_;
    std::function<std::optional<std::string>(const std::string&)> folderChooser_;
};

} // namespace tessarin
