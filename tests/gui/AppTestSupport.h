#pragma once
// Shared pieces of the main-window tests: a program folder of the test's own, a
// scripted message-box presenter and a TForm1 that ends nothing for real.

#include "app/ControlNames.h"
#include "app/MainWindow.h"
#include "app/QtUserInterface.h"
#include "config/BatchMode.h"
#include "config/L10n.h"
#include "config/SharedState.h"
#include "platform/Folders.h"
#include "platform/KeyStore.h"
#include "support/TempDir.h"

#include <QString>

#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tessarin::test {

namespace wiz = names::wizard;

// The shipped data files copied into a temporary program folder, with every other
// folder of the program inside the same temporary tree.
class TProgramFolder {
public:
    TProgramFolder()
    {
        namespace fs = std::filesystem;
        for (const char* sub : {"program", "home", "state", "config"})
            fs::create_directories(dir_.Path() / sub);
        for (const char* name : {"Default.lng", "Backup.ini", "Profilefiles.txt", "side.jpg"})
            fs::copy_file(fs::path(TESSARIN_SOURCE_DIR) / "data" / name,
                          dir_.Path() / "program" / name);
        TFolders folders;
        folders.Home = dir_.Folder() + "home/";
        folders.Documents = folders.Home;
        folders.Program = dir_.Folder() + "program/";
        folders.State = dir_.Folder() + "state/";
        folders.Config = dir_.Folder() + "config/";
        SetFolders(folders);
        SetUserKeyStore(nullptr); // the next use opens this tree's registry.ini
        ReloadLanguage();
    }
    // Nothing written after the test may recreate the removed tree.
    ~TProgramFolder() { SetUserKeyStore(nullptr); }
    TProgramFolder(const TProgramFolder&) = delete;
    TProgramFolder& operator=(const TProgramFolder&) = delete;

    std::string Program() const { return dir_.Folder() + "program/"; }
    std::string State() const { return dir_.Folder() + "state/"; }
    std::filesystem::path File(const std::string& name) const
    {
        return dir_.Path() / "program" / name;
    }
    void Write(const std::string& name, const std::string& content) const
    {
        dir_.Write("program/" + name, content);
    }
    // After Default.lng was changed.
    void ReloadLanguage() const { SetLanguage(std::make_shared<Tl10n>(File("Default.lng"))); }

private:
    TTempDir dir_;
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
    explicit TFormUnderTest(std::vector<std::string> arguments = {})
    {
        SetCommandLine(std::move(arguments));
        Form = std::make_unique<TForm1>(State);
        Form->Ui().SetBoxPresenter(Boxes.Presenter());
        Form->SetExitHandler([this](int code) { Exits.push_back(code); });
    }
    ~TFormUnderTest() { SetCommandLine(std::vector<std::string>{}); }

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
