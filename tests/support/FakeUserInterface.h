#pragma once
// A scripted user interface for tests: records every call as a line of text and
// answers questions from queues the test fills. An unscripted question fails loudly
// instead of blocking.

#include "platform/UserInterface.h"

#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tessarin::test {

class TFakeUserInterface : public IUserInterface {
public:
    std::vector<std::string> Calls;     // "Warning|caption|text", "TaskLine|text", ...
    std::vector<std::string> TaskLines;
    std::vector<std::string> TaskTexts;
    std::vector<int> Positions;
    std::deque<bool> QuestionAnswers;   // true = Yes
    std::deque<bool> RetryAnswers;      // true = Retry
    std::deque<std::optional<std::string>> Passwords;
    std::deque<std::optional<std::string>> NewPasswords;
    std::deque<std::optional<TNewProfileAnswer>> NewProfiles;
    std::deque<std::optional<std::string>> Files;   // answers of ChooseFile
    std::deque<std::optional<std::string>> Folders; // answers of ChooseFolder
    std::vector<TFileQuestion> FileQuestions;
    int ProgressMaximum = 100;
    int ProcessEventsCalls = 0;
    int ExitAfterProcessEvents = -1;    // throw TProgramExit{1} on that ProcessEvents call
    std::optional<TPage> CurrentPage;
    std::string ReportText;
    bool ReportBold = false;
    std::function<void()> AtReport; // runs once, when the run has set its report

    void WarningBox(const std::string& c, const std::string& t) override { Record("Warning", c, t); }
    void ErrorBox(const std::string& c, const std::string& t) override { Record("Error", c, t); }
    void InformationBox(const std::string& c, const std::string& t) override { Record("Information", c, t); }
    bool QuestionBox(const std::string& c, const std::string& t) override
    {
        Record("Question", c, t);
        return Next(QuestionAnswers, "QuestionBox");
    }
    bool RetryCancelBox(const std::string& c, const std::string& t) override
    {
        Record("RetryCancel", c, t);
        return Next(RetryAnswers, "RetryCancelBox");
    }
    std::optional<std::string> AskPassword() override
    {
        Calls.push_back("AskPassword");
        return Next(Passwords, "AskPassword");
    }
    std::optional<std::string> AskNewPassword() override
    {
        Calls.push_back("AskNewPassword");
        return Next(NewPasswords, "AskNewPassword");
    }
    std::optional<TNewProfileAnswer> AskNewProfile() override
    {
        Calls.push_back("AskNewProfile");
        return Next(NewProfiles, "AskNewProfile");
    }
    std::optional<std::string> ChooseFile(const TFileQuestion& question) override
    {
        FileQuestions.push_back(question);
        Calls.push_back("ChooseFile|" + question.Folder + "|" + question.Name);
        return Next(Files, "ChooseFile");
    }
    std::optional<std::string> ChooseFolder(const std::string& caption) override
    {
        Calls.push_back("ChooseFolder|" + caption);
        return Next(Folders, "ChooseFolder");
    }
    void ShowPage(TPage page) override
    {
        CurrentPage = page;
        Calls.push_back("ShowPage|" + std::to_string(static_cast<int>(page)));
    }
    void SetTaskText(const std::string& t) override
    {
        TaskTexts.push_back(t);
        Calls.push_back("TaskText|" + t);
    }
    void AddTaskLine(const std::string& t) override
    {
        TaskLines.push_back(t);
        Calls.push_back("TaskLine|" + t);
    }
    void SetProgressRange(int maximum) override { ProgressMaximum = maximum; }
    void SetProgressPosition(int position) override { Positions.push_back(position); }
    void SetReport(const std::string& text, bool bold, bool copy) override
    {
        ReportText = text;
        ReportBold = bold;
        Calls.push_back("Report|" + text + (bold ? "|bold" : "|regular") + (copy ? "|copy" : "|empty"));
        if (auto hook = std::exchange(AtReport, nullptr))
            hook();
    }
    void ProcessEvents() override
    {
        if (++ProcessEventsCalls == ExitAfterProcessEvents)
            throw TProgramExit{1};
    }

    // Calls of one kind ("Warning", "Error", ...), without the kind prefix.
    std::vector<std::string> CallsOf(const std::string& kind) const
    {
        std::vector<std::string> out;
        for (const auto& c : Calls)
            if (c.rfind(kind + "|", 0) == 0)
                out.push_back(c.substr(kind.size() + 1));
        return out;
    }

private:
    void Record(const char* kind, const std::string& caption, const std::string& text)
    {
        Calls.push_back(std::string(kind) + "|" + caption + "|" + text);
    }
    template <typename T> static T Next(std::deque<T>& q, const char* what)
    {
        if (q.empty())
            throw std::logic_error(std::string("unscripted ") + what);
        T v = q.front();
        q.pop_front();
        return v;
    }
};

} // namespace tessarin::test
