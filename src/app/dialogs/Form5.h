#pragma once
// The enter-password dialog: asks for the password of an encrypted backup whenever
// the archive needs one.

#include <QDialog>

#include <optional>
#include <string>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tessarin {

class TForm5 : public QDialog {
    Q_OBJECT

public:
    explicit TForm5(QWidget* parent = nullptr);

    // Runs the dialog modally; the password typed, or nothing when cancelled.
    std::optional<std::string> AskArchivePassword();

    // The outcome of the current or last showing.
    std::optional<std::string> Result() const;
    bool IsAccepted() const { return accepted_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Prepare();
    void ConfirmClicked();

    QGroupBox* GroupBox1;
    QLabel* Label1;
    QLabel* Label2;
    QLineEdit* Edit1;
    QPushButton* Button1;
    QPushButton* Button2;

    bool accepted_ = false;
};

} // namespace tessarin
