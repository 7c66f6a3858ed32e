#include "app/dialogs/Form5.h"

#include "app/dialogs/DialogSupport.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

namespace tessarin {

using namespace dialogs;

TForm5::TForm5(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TForm5"));
    MakeFixedDialog(*this, 290, 135);

    GroupBox1 = Place<QGroupBox>(this, "GroupBox1", {8, 8, 273, 89});

    Label1 = Place<QLabel>(this, "Label1", QPoint(16, 16));

    Label2 = Place<QLabel>(this, "Label2", QPoint(16, 48));

    Edit1 = Place<QLineEdit>(this, "Edit1", {80, 44, 169, 21});
    SetupPasswordField(*Edit1, *this);
    Label2->setBuddy(Edit1);

    Button1 = Place<QPushButton>(this, "Button1", {112, 104, 75, 25});
    Button1->setDefault(true);

    Button2 = Place<QPushButton>(this, "Button2", {200, 104, 75, 25});

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
