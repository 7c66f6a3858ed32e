#include "app/QtUserInterface.h"

#include "app/MainWindow.h"
#include "platform/TextConv.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace tessarin {

namespace {

QString ToQString(const std::string& text)
{
    return QString::fromStdString(AnsiToUtf8(text));
}

} // namespace

bool ShowMessageBox(QWidget* parent, TBoxKind kind, const QString& caption, const QString& text)
{
    QMessageBox::Icon icon = QMessageBox::Warning;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton yes = QMessageBox::Ok;
    switch (kind) {
    case TBoxKind::Warning:
        break;
    case TBoxKind::Error:
        icon = QMessageBox::Critical;
        break;
    case TBoxKind::Information:
        icon = QMessageBox::Information;
        break;
    case TBoxKind::Question:
        icon = QMessageBox::Question;
        buttons = QMessageBox::Yes | QMessageBox::No;
        yes = QMessageBox::Yes;
        break;
    case TBoxKind::RetryCancel:
        buttons = QMessageBox::Retry | QMessageBox::Cancel;
        yes = QMessageBox::Retry;
        break;
    }
    QMessageBox box(icon, caption, text, buttons, parent);
    // As the platform's box does: the first button is the default one.
    box.setDefaultButton(yes);
    return box.exec() == yes;
}

void PrepareFileDialog(QFileDialog& dialog, const TFileQuestion& question)
{
    // "Tessarin vault (*.pcv) | *.pcv" to Qt's "Tessarin vault (*.pcv)".
    const QString given = QString::fromStdString(question.Filter);
    QString filter = given.section(QLatin1Char('|'), 0, 0).trimmed();
    const QString pattern = given.section(QLatin1Char('|'), 1).trimmed();
    if (!pattern.isEmpty() && !filter.contains(QLatin1Char('(')))
        filter += QStringLiteral(" (") + pattern + QLatin1Char(')');
    dialog.setAcceptMode(question.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(question.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Qt's own question would come untranslated, and the wizard's would follow it.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilter(filter);
    if (!question.Folder.empty())
        dialog.setDirectory(QString::fromStdString(question.Folder));
    if (!question.Name.empty())
        dialog.selectFile(QString::fromStdString(question.Name));
}

std::optional<std::string> ShowFileDialog(QWidget* parent, const TFileQuestion& question)
{
    QFileDialog dialog(parent);
    PrepareFileDialog(dialog, question);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

TQtUserInterface::TQtUserInterface(TForm1& form)
    : form_(form), presenter_([&form](TBoxKind kind, const QString& caption, const QString& text) {
          return ShowMessageBox(&form, kind, caption, text);
      })
{
}

void TQtUserInterface::SetBoxPresenter(TBoxPresenter presenter)
{
    presenter_ = std::move(presenter);
}

void TQtUserInterface::SetPasswordPrompt(std::function<std::optional<std::string>()> prompt)
{
    passwordPrompt_ = std::move(prompt);
}

void TQtUserInterface::SetNewPasswordPrompt(std::function<std::optional<std::string>()> prompt)
{
    newPasswordPrompt_ = std::move(prompt);
}

void TQtUserInterface::SetNewProfilePrompt(
    std::function<std::optional<TNewProfileAnswer>()> prompt)
{
    newProfilePrompt_ = std::move(prompt);
}

void TQtUserInterface::SetFileChooser(
    std::function<std::optional<std::string>(const TFileQuestion&)> chooser)
{
    fileChooser_ = std::move(chooser);
}

void TQtUserInterface::SetFolderChooser(
    std::function<std::optional<std::string>(const std::string&)> chooser)
{
    folderChooser_ = std::move(chooser);
}

std::optional<std::string> TQtUserInterface::AskNewPassword()
{
    return newPasswordPrompt_ ? newPasswordPrompt_() : std::nullopt;
}

std::optional<TNewProfileAnswer> TQtUserInterface::AskNewProfile()
{
    return newProfilePrompt_ ? newProfilePrompt_() : std::nullopt;
}

std::optional<std::string> TQtUserInterface::ChooseFile(const TFileQuestion& question)
{
    return fileChooser_ ? fileChooser_(question) : std::nullopt;
}

std::optional<std::string> TQtUserInterface::ChooseFolder(const std::string& caption)
{
    return folderChooser_ ? folderChooser_(caption) : std::nullopt;
}

bool TQtUserInterface::Box(TBoxKind kind, const std::string& caption, const std::string& text)
{
    return presenter_(kind, ToQString(caption), ToQString(text));
}

void TQtUserInterface::WarningBox(const std::string& caption, const std::string& text)
{
    Box(TBoxKind::Warning, caption, text);
}

void TQtUserInterface::ErrorBox(const std::string& caption, const std::string& text)
{
    Box(TBoxKind::Error, caption, text);
}

void TQtUserInterface::InformationBox(const std::string& caption, const std::string& text)
{
    Box(TBoxKind::Information, caption, text);
}

bool TQtUserInterface::QuestionBox(const std::string& caption, const std::string& text)
{
    return Box(TBoxKind::Question, caption, text);
}

bool TQtUserInterface::RetryCancelBox(const std::string& caption, const std::string& text)
{
    return Box(TBoxKind::RetryCancel, caption, text);
}

std::optional<std::string> TQtUserInterface::AskPassword()
{
    if (!passwordPrompt_)
        return std::nullopt;
    return passwordPrompt_();
}

void TQtUserInterface::ShowPage(TPage page)
{
    form_.ShowPage(page);
}

void TQtUserInterface::SetTaskText(const std::string& text)
{
    form_.SetTaskText(ToQString(text));
}

void TQtUserInterface::AddTaskLine(const std::string& text)
{
    form_.AddTaskLine(ToQString(text));
}

void TQtUserInterface::SetProgressRange(int maximum)
{
    form_.SetProgressRange(maximum);
}

void TQtUserInterface::SetProgressPosition(int position)
{
    form_.SetProgressPosition(position);
}

void TQtUserInterface::SetProgressBytes(std::uint64_t total, std::uint64_t done)
{
    form_.SetProgressPosition(ProgressPercent(total, done));
}

void TQtUserInterface::SetReport(const std::string& resultText, bool bold, bool copyTaskLines)
{
    form_.SetReport(ToQString(resultText), bold, copyTaskLines);
}

void TQtUserInterface::ProcessEvents()
{
    QCoreApplication::processEvents();
    if (form_.ClosedByUser())
        throw TProgramExit{form_.ExitCode()};
}

} // namespace tessarin
