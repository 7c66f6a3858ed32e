#pragma once
// The password dialogs: TForm4 asks twice for the password of a new backup, TForm5
// for the password of an encrypted backup whenever the archive needs one.

#include <QDialog>

#include <functional>
#include <optional>
#include <string>

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tessarin {

// Set password: the two entries must match and be long enough.
class TForm4 : public QDialog {
    Q_OBJECT

public:
    // Shows an information box (caption, text); tests put their own in its place.
    using TMessagePresenter =
        std::function<void(const std::string& caption, const std::string& text)>;

    enum class TPasswordCheck { Accepted, Mismatch, TooShort };
    static constexpr int MinimumLength = 3;

    explicit TForm4(QWidget* parent = nullptr);

    // Runs the dialog modally; the password typed, or nothing when cancelled.
    std::optional<std::string> AskSetPassword();

    // The outcome of the current or last showing.
    std::optional<std::string> Result() const;
    bool IsAccepted() const { return accepted_; }

    // Mismatch is tested before the length, so two different one-letter entries
    // report the mismatch.
    static TPasswordCheck CheckNewPassword(const QString& first, const QString& second);

    void SetMessagePresenter(TMessagePresenter presenter);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Prepare();
    void ConfirmClicked();

    QGroupBox* GroupBox1;
    QLabel* Label1;
    QFrame* Bevel1;
    QLabel* Label2;
    QLineEdit* Edit1;
    QLabel* Label3;
    QLineEdit* Edit2;
    QPushButton* Button1;
    QPushButton* Button2;

    bool accepted_ = false;
    TMessagePresenter presenter_;
};

// Enter password: any entry but an empty one.
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
