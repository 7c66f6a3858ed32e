#include "app/dialogs/NewProfileDialog.h"

#include "app/ControlNames.h"
#include "app/dialogs/DialogSupport.h"
#include "config/L10n.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

namespace tessarin {

using namespace dialogs;

namespace {
namespace dialog = names::newProfile;

// Every control of the dialog and where it stands.
constexpr TPlace Layout[] = {
    {dialog::Name, 16, 24, 281, 21},    {dialog::LocationBox, 16, 56, 281, 49},
    {dialog::Browse, 200, 16, 75, 25},  {dialog::Ok, 64, 120, 75, 25},
    {dialog::Cancel, 168, 120, 75, 25}, {dialog::NameText, 16, 8, 0, 0},
    {dialog::Location, 10, 22, 0, 0},
};

} // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent)
{
    setObjectName(QLatin1String(dialog::Window));
    MakeFixedDialog(*this, 316, 154);

    Label1 = Place<QLabel>(this, Layout, dialog::NameText);

    Edit1 = Place<QLineEdit>(this, Layout, dialog::Name);
    Label1->setBuddy(Edit1);

    GroupBox1 = Place<QGroupBox>(this, Layout, dialog::LocationBox);
    UseDesignGroupBox(*GroupBox1, *this);

    // The label comes before the button: a long path runs under it, not over it.
    Label2 = Place<QLabel>(GroupBox1, Layout, dialog::Location);

    Button3 = Place<QPushButton>(GroupBox1, Layout, dialog::Browse);
    Button3->setAutoDefault(false);

    Button1 = Place<QPushButton>(this, Layout, dialog::Ok);
    Button1->setDefault(true);

    Button2 = Place<QPushButton>(this, Layout, dialog::Cancel);

    setTabOrder(Edit1, Button3);
    setTabOrder(Button3, Button1);
    setTabOrder(Button1, Button2);

    connect(Button1, &QPushButton::clicked, this, &TForm2::ConfirmClicked);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(Button3, &QPushButton::clicked, this, &TForm2::BrowseClicked);

    browser_ = [this](const std::string& caption, const std::string& folder) {
        return BrowseForFolder(this, caption, folder);
    };
}

std::optional<TNewProfileAnswer> TForm2::AskNewProfile()
{
    exec();
    return Result();
}

std::optional<TNewProfileAnswer> TForm2::Result() const
{
    if (!accepted_)
        return std::nullopt;
    return TNewProfileAnswer{Edit1->text().toStdString(), location_};
}

void TForm2::SetFolderBrowser(TFolderBrowser browser)
{
    browser_ = std::move(browser);
}

QString TForm2::ShortenLocation(const QString& path)
{
    const std::u32string codePoints = path.toStdU32String();
    if (codePoints.size() < LocationLabelLength)
        return path;
    constexpr std::size_t head = 3;
    constexpr std::size_t tail = LocationLabelLength - 1;
    return QString::fromStdU32String(codePoints.substr(0, head)) + QStringLiteral("...") +
           QString::fromStdU32String(codePoints.substr(codePoints.size() - tail));
}

void TForm2::showEvent(QShowEvent* event)
{
    // Nothing typed or chosen in an earlier showing carries over.
    if (!event->spontaneous())
        Prepare();
    QDialog::showEvent(event);
}

void TForm2::Prepare()
{
    Edit1->clear();
    location_.clear();
    accepted_ = false;

    setWindowTitle(LangText("TForm1", "LANG_NEW_PROFIL"));
    Label1->setText(LangText("TForm1", "LANG_NEW_PROFIL_NAME"));
    GroupBox1->setTitle(LangText("TForm1", "LANG_LOCATION"));
    Label2->setText(LangText("TForm1", "LANG_DIR_DEFAULT"));
    Label2->setToolTip(QString());
    Button3->setText(LangText("TForm1", "LANG_CHOOSE"));
    Button1->setText(LangText("TForm1", "LANG_BUTTON_OK"));
    Button2->setText(LangText("TForm1", "LANG_BUTTON_2"));

    ApplyLanguageFont(*this);
    Label1->adjustSize();
    Label2->adjustSize();
    CenterOnParent(*this);
    Edit1->setFocus();
}

void TForm2::BrowseClicked()
{
    // No folder is preselected, not even one chosen earlier in this showing.
    const std::optional<std::string> folder =
        browser_(Text("Tessarin14", "LANG_SELECT_PROFILE_FOLDER"), std::string());
    if (!folder)
        return;
    location_ = *folder;
    const QString path = QString::fromStdString(location_);
    Label2->setToolTip(path);
    Label2->setText(ShortenLocation(path));
    Label2->adjustSize();
}

void TForm2::ConfirmClicked()
{
    accepted_ = true;
    accept();
}

} // namespace tessarin
