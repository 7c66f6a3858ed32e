#pragma once
// Shared pieces of the main-window tests: a program folder of the test's own, a
// scripted message-box presenter and a TForm1 that ends nothing for real.

#include "app/ControlNames.h"
#include "app/MainWindow.h"
#include "app/QtUserInterface.h"
#include "config/SharedState.h"
#include "support/TestEnvironment.h"

#include <QString>

#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tessarin::test {

namespace wiz = names::wizard;

// The shipped data files copied into the test's own program folder.
struct TProgramFolder : TTestEnvironment {
    TProgramFolder()
        : TTestEnvironment({"Default.lng", "Backup.ini", "Profilefiles.txt", "side.jpg"})
    {
    }
    // After Default.lng was changed.
    void ReloadLanguage() { UseLanguage(ProgramFile("Default.lng")); }
};

struct TBoxCall {
    TBoxKind Kind;
    QString Caption;
    QString Text;
};

// Answers questions from a queue; an unscripted question is noted and answered No,
// since throwing out of a close event would cross Qt's event handling.
class TScriptedBoxes {
public:
    std::vector<TBoxCall> Calls;
    std::deque<bool> Answers;
    bool Unscripted = false;

    TBoxPresenter Presenter()
    {
        return [this](TBoxKind kind, const QString& caption, const QString& text) {
            Calls.push_back({kind, caption, text});
            if (kind != TBoxKind::Question && kind != TBoxKind::RetryCancel)
                return true;
            if (Answers.empty()) {
                Unscripted = true;
                return false;
            }
            const bool answer = Answers.front();
            Answers.pop_front();
            return answer;
        };
    }
};

// A main window whose boxes and program ends are recorded instead of happening.
struct TFormUnderTest {
    explicit TFormUnderTest(TTestEnvironment& env, std::vector<std::string> arguments = {})
        : State(env.Env)
    {
        env.Env.Arguments = std::move(arguments);
        Form = std::make_unique<TForm1>(State);
        Form->Ui().SetBoxPresenter(Boxes.Presenter());
        Form->SetExitHandler([this](int code) { Exits.push_back(code); });
    }

    template <typename T> T* Find(const char* name) const
    {
        return Form->findChild<T*>(QLatin1String(name));
    }

    TSharedState State;
    TScriptedBoxes Boxes;
    std::vector<int> Exits;
    std::unique_ptr<TForm1> Form;
};

} // namespace tessarin::test
