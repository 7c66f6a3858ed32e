#pragma once
// TForm1: the wizard window. Six pages on one fixed-size frame; the shared state
// belongs to the program and is only referred to here.

#include "app/dialogs/NewProfileDialog.h"
#include "app/dialogs/PasswordDialogs.h"
#include "app/dialogs/UnknownFilesDialog.h"
#include "config/SharedState.h"
#include "platform/UserInterface.h"

#include <QMainWindow>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QDialog;
class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QWidget;

namespace tessarin {

class TQtUserInterface;

inline constexpr int ClientWidth = 471;
inline constexpr int ClientHeight = 327;

// The path itself when shorter than 40 characters, else its first 3, "..." and its
// last tail characters.
QString ShortenForLabel(const QString& path, int tail);

class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    // Loads the language and the settings into state; in interactive mode the
    // Welcome page is prepared.
    explicit TForm1(TSharedState& state, QWidget* parent = nullptr);
    ~TForm1() override;

    TSharedState& State() { return state_; }
    TQtUserInterface& Ui() { return *ui_; }

    // The four dialogs, created once and kept until the program ends.
    void CreateDialogs();
    std::unique_ptr<TForm2> Form2;                 // new profile
    std::unique_ptr<TForm4> Form4;                 // set password
    std::unique_ptr<TForm5> Form5;                 // enter password
    std::unique_ptr<TUnknowFilesFM> UnknowFilesFM; // unknown files

    // Pages.
    void ShowWelcomePage();
    void ShowOperationPage();
    void ShowProfilePage();
    // The leaving checks of the Profile selection page (PrepareComponents), then the
    // Components page. False when a check keeps the person on the Profile selection page.
    bool ShowComponentsPage();
    void SetButtonCaptions();
    void ShowPage(TPage page);

    // The buttons under the pages, by PageNumber.
    void NextClicked();
    void BackClicked();

    // What runs report on the Processing and Report pages.
    void SetTaskText(const QString& text);
    void AddTaskLine(const QString& text);
    void SetProgressRange(int maximum);
    void SetProgressPosition(int position);
    void SetReport(const QString& resultText, bool bold, bool copyTaskLines);

    // Ending the program. The first request fixes the exit status; the handler
    // (normally: leave the event loop once the current event is done) runs once.
    using TExitHandler = std::function<void(int code)>;
    void SetExitHandler(TExitHandler handler);
    void EndProgram(int code);
    bool ExitPending() const { return exitPending_; }
    int ExitCode() const { return exitCode_; }
    // The person closed the window (with or without the question): a run in
    // progress must stop at its next ProcessEvents.
    bool ClosedByUser() const { return closedByUser_; }

    // Batch mode: what the first activation starts. Replaceable for tests.
    using TBatchRunner =
        std::function<int(TSharedState& state, IUserInterface& ui, const std::string& taskFile)>;
    void SetBatchRunner(TBatchRunner runner);
    bool BatchStarted() const { return batchStarted_; }
    // A desktop may never activate a window it did not expect (no window manager, focus
    // stealing prevention); the batch run then starts this long after the first show.
    void SetBatchStartFallback(int milliseconds) { batchStartFallbackMs_ = milliseconds; }

    // The character set the language asks for; kept, though fonts on this platform
    // have no use for it.
    int FontCharset() const { return fontCharset_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildFrame();
    void BuildWelcomePage();
    void BuildOperationPage();
    void BuildProfilePage();
    void BuildComponentsPage();
    void BuildProcessingPage();
    void BuildReportPage();
    QWidget* MakePanel(int number);

    void SetTexts();
    void ShowNoProgram();
    bool NoProgramFound() const;
    void FillProfileList();
    std::string SelectedProfileText() const;
    void UpdateNextForApplication();
    void UpdateNextForProfile();
    void ProfileClicked();
    void ApplicationDoubleClicked();
    void ProposeBackupFile();
    void SetBackupFileLabel(const std::string& path, int tail);
    void RememberProfileSelection();
    void RestoreProfileSelection();
    // Runs one of the profile page's buttons between remembering and restoring the
    // selected profile.
    void ProfileAction(void (TForm1::*action)());
    void RefreshProfiles();
    void FindProfile();
    void NewProfile();
    void ChooseBackupFile();
    void SyncBoxesFromState();
    void BoxToggled(int number, bool checked);
    void StartRun();

    void FirstShow();
    void PlaceWindowOnMonitor();
    void ApplyLanguageFont();
    bool ConfirmExit();
    void SetCaptionSuffix(const std::string& key);
    void ShowOnly(QWidget* panel);

    void CancelClicked();
    void NewRunToggled(bool checked);
    void ApplicationStateChanged(Qt::ApplicationState state);
    void StartBatchOnce();
    void StartBatch();

    TSharedState& state_;
    std::unique_ptr<TQtUserInterface> ui_;
    TExitHandler exitHandler_;
    TBatchRunner batchRunner_;
    bool exitPending_ = false;
    int exitCode_ = 0;
    bool closedByUser_ = false;
    bool batchStarted_ = false;
    int batchStartFallbackMs_ = 2000;
    bool firstShowDone_ = false; // required files found, window placed
    int fontCharset_ = 1;
    int labelTail_ = 36; // how much of a long backup path its label shows

    // Frame.
    QWidget* client_ = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* Image1 = nullptr;
    QFrame* Bevel2 = nullptr;
    QPushButton* Button1 = nullptr;    // Next
    QPushButton* Button2 = nullptr;    // Cancel / Finish
    QPushButton* Button3 = nullptr;    // Back
    std::array<QWidget*, 7> panels_{}; // Panel1..Panel6 at 1..6

    // Welcome.
    QLabel* Label1 = nullptr;
    QLabel* StaticText7 = nullptr;
    QLabel* StaticText8 = nullptr;
    QLabel* StaticText9 = nullptr;
    // Operation.
    QLabel* StaticText1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QLabel* StaticText10 = nullptr;
    QListWidget* ListBox1 = nullptr;
    // Profile selection.
    QLabel* StaticText2 = nullptr;
    QListWidget* ListBox2 = nullptr;
    QPushButton* Button5 = nullptr; // New profile
    QPushButton* Button6 = nullptr; // Refresh
    QPushButton* Button7 = nullptr; // Find profile
    QLabel* StaticText4 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* StaticText3 = nullptr;
    QPushButton* Button4 = nullptr; // Browse
    // Components.
    QLabel* StaticText5 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    std::array<QCheckBox*, ComponentCount + 1> componentBoxes_{}; // CheckBox1..15 at 1..15
    QPushButton* UnknowFilesBT = nullptr;
    // Processing.
    QListWidget* ListBox3 = nullptr;
    QLabel* StaticText6 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    // Report.
    QLabel* StaticText11 = nullptr;
    QListWidget* ListBox4 = nullptr;
    QCheckBox* CheckBox16 = nullptr;
};

} // namespace tessarin
