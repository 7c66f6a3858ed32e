#include "app/dialogs/PasswordDialogs.h"

#include "app/ControlNames.h"
#include "app/dialogs/DialogSupport.h"
#include "config/L10n.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>

namespace tessarin {

using namespace dialogs;

namespace {

namespace set = names::setPassword;
namespace enter = names::enterPassword;

// Every control of each dialog and where it stands.
constexpr TPlace SetLayout[] = {
    {set::Box, 8, 8, 257, 121},        {set::Password, 112, 54, 121, 21},
    {set::Repeat, 112, 80, 121, 21},   {set::Ok, 88, 144, 75, 25},
    {set::Cancel, 184, 144, 75, 25},   {set::Prompt, 16, 16, 0, 0},
    {set::PasswordText, 16, 58, 0, 0}, {set::RepeatText, 16, 84, 0, 0},
    {set::Line, 16, 40, 217, 2},
};
constexpr TPlace EnterLayout[] = {
    {enter::Box, 8, 8, 273, 89},   {enter::Password, 80, 44, 169, 21},
    {enter::Ok, 112, 104, 75, 25}, {enter::Cancel, 200, 104, 75, 25},
    {enter::Prompt, 16, 16, 0, 0}, {enter::PasswordText, 16, 48, 0, 0},
};

} // namespace

// --- Set password ---

TForm4::TForm4(QWidget* parent) : QDialog(parent)
{
    setObjectName(QLatin1String(set::Window));
    MakeFixedDialog(*this, 275, 181);

    // The frame comes first so the controls drawn over it stay on top.
    GroupBox1 = Place<QGroupBox>(this, SetLayout, set::Box);
    UseDesignGroupBox(*GroupBox1, *this);

    Label1 = Place<QLabel>(this, SetLayout, set::Prompt);

    Bevel1 = Place<QFrame>(this, SetLayout, set::Line);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);

    Label2 = Place<QLabel>(this, SetLayout, set::PasswordText);

    Edit1 = Place<QLineEdit>(this, SetLayout, set::Password);
    SetupPasswordField(*Edit1, *this);

    Label3 = Place<QLabel>(this, SetLayout, set::RepeatText);

    Edit2 = Place<QLineEdit>(this, SetLayout, set::Repeat);
    SetupPasswordField(*Edit2, *this);

    Label2->setBuddy(Edit1);
    Label3->setBuddy(Edit2);

    Button1 = Place<QPushButton>(this, SetLayout, set::Ok);
    Button1->setDefault(true);

    Button2 = Place<QPushButton>(this, SetLayout, set::Cancel);

    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Button1);
    setTabOrder(Button1, Button2);

    connect(Button1, &QPushButton::clicked, this, &TForm4::ConfirmClicked);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    presenter_ = [this](const std::string& caption, const std::string& text) {
        QMessageBox::information(this, QString::fromStdString(caption),
                                 QString::fromStdString(text));
    };
}

std::optional<std::string> TForm4::AskSetPassword()
{
    exec();
    return Result();
}

std::optional<std::string> TForm4::Result() const
{
    if (!accepted_)
        return std::nullopt;
    return Edit1->text().toStdString();
}

TForm4::TPasswordCheck TForm4::CheckNewPassword(const QString& first, const QString& second)
{
    if (first != second)
        return TPasswordCheck::Mismatch;
    if (CharacterCount(first) < MinimumLength)
        return TPasswordCheck::TooShort;
    return TPasswordCheck::Accepted;
}

void TForm4::SetMessagePresenter(TMessagePresenter presenter)
{
    presenter_ = std::move(presenter);
}

void TForm4::showEvent(QShowEvent* event)
{
    // Every showing starts empty, also after a cancelled one.
    if (!event->spontaneous())
        Prepare();
    QDialog::showEvent(event);
}

void TForm4::Prepare()
{
    Edit1->clear();
    Edit2->clear();
    accepted_ = false;

    setWindowTitle(LangText("TForm4", "LANG_CAPTION"));
    Label1->setText(LangText("TForm4", "LANG_TEXT"));
    Label2->setText(LangText("TForm4", "LANG_HESLO"));
    Label3->setText(LangText("TForm4", "LANG_HESLO2"));
    Button1->setText(LangText("TForm1", "LANG_BUTTON_OK"));
    Button2->setText(LangText("TForm1", "LANG_BUTTON_2"));

    ApplyLanguageFont(*this);
    for (QLabel* label : {Label1, Label2, Label3})
        label->adjustSize();
    KeepFieldsBesideLabels(SetLayout, {{Label2, Edit1}, {Label3, Edit2}});
    CenterOnParent(*this);
    Edit1->setFocus();
}

void TForm4::ConfirmClicked()
{
    switch (CheckNewPassword(Edit1->text(), Edit2->text())) {
    case TPasswordCheck::Mismatch:
        presenter_(Text("TForm1", "LANG_WARNING"), Text("TForm4", "LANG_NO_STEJ"));
        return;
    case TPasswordCheck::TooShort:
        presenter_(Text("TForm1", "LANG_WARNING"), Text("TForm4", "LANG_NO_PASS"));
        return;
    case TPasswordCheck::Accepted:
        accepted_ = true;
        accept();
        return;
    }
}

// --- Enter password ---

TForm5::TForm5(QWidget* parent) : QDialog(parent)
{
    setObjectName(QLatin1String(enter::Window));
    MakeFixedDialog(*this, 290, 135);

    GroupBox1 = Place<QGroupBox>(this, EnterLayout, enter::Box);
    UseDesignGroupBox(*GroupBox1, *this);

    Label1 = Place<QLabel>(this, EnterLayout, enter::Prompt);

    Label2 = Place<QLabel>(this, EnterLayout, enter::PasswordText);

    Edit1 = Place<QLineEdit>(this, EnterLayout, enter::Password);
    SetupPasswordField(*Edit1, *this);
    Label2->setBuddy(Edit1);

    Button1 = Place<QPushButton>(this, EnterLayout, enter::Ok);
    Button1->setDefault(true);

    Button2 = Place<QPushButton>(this, EnterLayout, enter::Cancel);

    setTabOrder(Edit1, Button1);
    setTabOrder(Button1, Button2);

    connect(Button1, &QPushButton::clicked, this, &TForm5::ConfirmClicked);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

std::optional<std::string> TForm5::AskArchivePassword()
{
    exec();
    return Result();
}

std::optional<std::string> TForm5::Result() const
{
    if (!accepted_)
        return std::nullopt;
    return Edit1->text().toStdString();
}

void TForm5::showEvent(QShowEvent* event)
{
    // Every showing starts empty, so no earlier password is ever shown again.
    if (!event->spontaneous())
        Prepare();
    QDialog::showEvent(event);
}

void TForm5::Prepare()
{
    Edit1->clear();
    accepted_ = false;

    setWindowTitle(LangText("TForm5", "LANG_CAPTION"));
    Label1->setText(LangText("TForm5", "LANG_LABEL1"));
    // The password label is shared with the set-password dialog.
    Label2->setText(LangText("TForm4", "LANG_HESLO"));
    Button1->setText(LangText("TForm1", "LANG_BUTTON_OK"));
    Button2->setText(LangText("TForm1", "LANG_BUTTON_2"));

    ApplyLanguageFont(*this);
    Label1->adjustSize();
    Label2->adjustSize();
    KeepFieldsBesideLabels(EnterLayout, {{Label2, Edit1}});
    CenterOnParent(*this);
    Edit1->setFocus();
}

void TForm5::ConfirmClicked()
{
    // An empty entry is no answer: the person has to type something or cancel.
    if (Edit1->text().isEmpty())
        return;
    accepted_ = true;
    accept();
}

} // namespace tessarin
