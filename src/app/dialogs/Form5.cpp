#include "app/dialogs/Form5.h"

#include "app/dialogs/DialogSupport.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

namespace tessarin {

using namespace dialogs;

namespace {
// Every control of the dialog and where it stands.
constexpr TPlace Layout[] = {
    {"GroupBox1", 8, 8, 273, 89},
    {"Edit1", 80, 44, 169, 21},
    {"Button1", 112, 104, 75, 25},
    {"Button2", 200, 104, 75, 25},
    {"Label1", 16, 16, 0, 0},
    {"Label2", 16, 48, 0, 0},
};

} // namespace

TForm5::TForm5(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TForm5"));
    MakeFixedDialog(*this, 290, 135);

    GroupBox1 = Place<QGroupBox>(this, Layout, "GroupBox1");
    UseDesignGroupBox(*GroupBox1, *this);

    Label1 = Place<QLabel>(this, Layout, "Label1");

    Label2 = Place<QLabel>(this, Layout, "Label2");

    Edit1 = Place<QLineEdit>(this, Layout, "Edit1");
    SetupPasswordField(*Edit1, *this);
    Label2->setBuddy(Edit1);

    Button1 = Place<QPushButton>(this, Layout, "Button1");
    Button1->setDefault(true);

    Button2 = Place<QPushButton>(this, Layout, "Button2");

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
    KeepFieldsBesideLabels(Layout, {{Label2, Edit1}});
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
