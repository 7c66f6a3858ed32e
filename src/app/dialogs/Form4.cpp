#include "app/dialogs/Form4.h"

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
// Every control of the dialog and where it stands.
constexpr TPlace Layout[] = {
    {"GroupBox1", 8, 8, 257, 121},
    {"Edit1", 112, 54, 121, 21},
    {"Edit2", 112, 80, 121, 21},
    {"Button1", 88, 144, 75, 25},
    {"Button2", 184, 144, 75, 25},
    {"Label1", 16, 16, 0, 0},
    {"Label2", 16, 58, 0, 0},
    {"Label3", 16, 84, 0, 0},
    {"Bevel1", 16, 40, 217, 2},
};

} // namespace

TForm4::TForm4(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TForm4"));
    MakeFixedDialog(*this, 275, 181);

    // The frame comes first so the controls drawn over it stay on top.
    GroupBox1 = Place<QGroupBox>(this, Layout, "GroupBox1");
    UseDesignGroupBox(*GroupBox1, *this);

    Label1 = Place<QLabel>(this, Layout, "Label1");

    Bevel1 = Place<QFrame>(this, Layout, "Bevel1");
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);

    Label2 = Place<QLabel>(this, Layout, "Label2");

    Edit1 = Place<QLineEdit>(this, Layout, "Edit1");
    SetupPasswordField(*Edit1, *this);

    Label3 = Place<QLabel>(this, Layout, "Label3");

    Edit2 = Place<QLineEdit>(this, Layout, "Edit2");
    SetupPasswordField(*Edit2, *this);

    Label2->setBuddy(Edit1);
    Label3->setBuddy(Edit2);

    Button1 = Place<QPushButton>(this, Layout, "Button1");
    Button1->setDefault(true);

    Button2 = Place<QPushButton>(this, Layout, "Button2");

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
    KeepFieldsBesideLabels(Layout, {{Label2, Edit1}, {Label3, Edit2}});
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

} // namespace tessarin
