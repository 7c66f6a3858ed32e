#pragma once
// The new-profile dialog: collects the name of a profile to create and, optionally,
// the folder to create it in. Checking the name and creating the profile happen
// elsewhere, after the dialog has closed.

#include "app/dialogs/FolderBrowser.h"
#include "platform/UserInterface.h"

#include <QDialog>

#include <cstddef>
#include <optional>
#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tessarin {

class TForm2 : public QDialog {
    Q_OBJECT

public:
    // A chosen folder shorter than this is shown whole on the location label.
    static constexpr std::size_t LocationLabelLength = 32;

    explicit TForm2(QWidget* parent = nullptr);

    // Runs the dialog modally; nothing when cancelled. OK never checks the name.
    std::optional<TNewProfileAnswer> AskNewProfile();

    // The outcome of the current or last showing.
    std::optional<TNewProfileAnswer> Result() const;
    bool IsAccepted() const { return accepted_; }
    const std::string& Location() const { return location_; }

    void SetFolderBrowser(TFolderBrowser browser);

    // The path itself when shorter than 32 characters, else its first 3 characters,
    // "..." and its last 31.
    static QString ShortenLocation(const QString& path);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Prepare();
    void BrowseClicked();
    void ConfirmClicked();

    QLabel* Label1;
    QLineEdit* Edit1;
    QGroupBox* GroupBox1;
    QLabel* Label2;
    QPushButton* Button3;
    QPushButton* Button1;
    QPushButton* Button2;

    bool accepted_ = false;
    std::string location_;
    TFolderBrowser browser_;
};

} // namespace tessarin
