#pragma once
// The only way the core talks to the person: message boxes, questions, the
// password prompt and the Processing/Report pages. The Qt program, the console
// (batch mode without a display) and the tests' scripted fake implement it.

#include <cstdint>
#include <optional>
#include <string>

namespace tessarin {

// Ends the program with an exit code from deep inside a run. Thrown by the core
// (or by IUserInterface::ProcessEvents after the close query was answered Yes) and
// caught where the run was started, so destructors clean up before the exit.
struct TProgramExit {
    int Code = 1;
};

enum class TPage { Welcome = 1, Operation, Profile, Components, Processing, Report };

// A save or open file dialog as the wizard asks for one.
struct TFileQuestion {
    bool Save = false;
    std::string Filter; // "description | pattern", as the language file gives it
    std::string Folder; // where the dialog starts
    std::string Name;   // the proposed file name
};

// What the new-profile dialog gave.
struct TNewProfileAnswer {
    std::string Name;     // as typed, unchecked
    std::string Location; // folder chosen with Browse; empty = the application's default
};

class IUserInterface {
public:
    virtual ~IUserInterface() = default;

    // Message boxes; captions and texts are language texts.
    virtual void WarningBox(const std::string& caption, const std::string& text) = 0;
    virtual void ErrorBox(const std::string& caption, const std::string& text) = 0;
    virtual void InformationBox(const std::string& caption, const std::string& text) = 0;
    // Yes/No with question icon: true for Yes.
    virtual bool QuestionBox(const std::string& caption, const std::string& text) = 0;
    // Retry/Cancel with warning icon: true for Retry.
    virtual bool RetryCancelBox(const std::string& caption, const std::string& text) = 0;

    // The enter-password dialog; nullopt when the person cancelled.
    virtual std::optional<std::string> AskPassword() = 0;
    // The set-password dialog of a backup; nullopt when cancelled.
    virtual std::optional<std::string> AskNewPassword() = 0;
    // The new-profile dialog; nullopt when cancelled.
    virtual std::optional<TNewProfileAnswer> AskNewProfile() = 0;
    // The platform's file dialog; the chosen path, or nullopt when cancelled.
    virtual std::optional<std::string> ChooseFile(const TFileQuestion& question) = 0;
    // The folder-browse dialog (folders only); nullopt when cancelled.
    virtual std::optional<std::string> ChooseFolder(const std::string& caption) = 0;

    // Processing and Report pages.
    virtual void ShowPage(TPage page) = 0;
    virtual void SetTaskText(const std::string& text) = 0;
    virtual void AddTaskLine(const std::string& text) = 0;
    virtual void SetProgressRange(int maximum) = 0;
    virtual void SetProgressPosition(int position) = 0;
    // Result text of the Report page; copyTaskLines repeats the task list in the report list.
    virtual void SetReport(const std::string& resultText, bool bold, bool copyTaskLines) = 0;

    // Lets the window repaint and react during long work. May throw TProgramExit
    // when the person asked to close the program meanwhile.
    virtual void ProcessEvents() = 0;
};

// Shows nothing and answers every question with No or Cancel: for work that nobody
// watches. Override what should be seen.
class TQuietUserInterface : public IUserInterface {
public:
    void WarningBox(const std::string&, const std::string&) override {}
    void ErrorBox(const std::string&, const std::string&) override {}
    void InformationBox(const std::string&, const std::string&) override {}
    bool QuestionBox(const std::string&, const std::string&) override { return false; }
    bool RetryCancelBox(const std::string&, const std::string&) override { return false; }
    std::optional<std::string> AskPassword() override { return std::nullopt; }
    std::optional<std::string> AskNewPassword() override { return std::nullopt; }
    std::optional<TNewProfileAnswer> AskNewProfile() override { return std::nullopt; }
    std::optional<std::string> ChooseFile(const TFileQuestion&) override { return std::nullopt; }
    std::optional<std::string> ChooseFolder(const std::string&) override { return std::nullopt; }
    void ShowPage(TPage) override {}
    void SetTaskText(const std::string&) override {}
    void AddTaskLine(const std::string&) override {}
    void SetProgressRange(int) override {}
    void SetProgressPosition(int) override {}
    void SetReport(const std::string&, bool, bool) override {}
    void ProcessEvents() override {}
};

// done ÷ total × 100, rounded half to even, capped at 100; 0 when either is 0.
int ProgressPercent(std::uint64_t total, std::uint64_t done);

} // namespace tessarin
