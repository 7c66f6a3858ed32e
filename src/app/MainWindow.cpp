#include "app/MainWindow.h"

#include "app/ControlNames.h"
#include "app/Placement.h"
#include "app/QtUserInterface.h"
#include "app/SidePicture.h"
#include "app/dialogs/DialogSupport.h"
#include "config/BatchMode.h"
#include "config/Environment.h"
#include "config/ErrorLog.h"
#include "config/L10n.h"
#include "config/Settings.h"
#include "engine/BatchBackup.h"
#include "engine/Components.h"
#include "engine/WizardSteps.h"
#include "profiles/Catalogue.h"
#include "profiles/ProfileCreation.h"
#include "profiles/ProfileDiscovery.h"
#include "profiles/RunningCheck.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QShowEvent>
#include <QTimer>

#include <algorithm>
#include <exception>

#ifndef TESSARIN_VERSION
#define TESSARIN_VERSION "1.5.1"
#endif

namespace tessarin {

namespace {

const QString CaptionPrefix = QStringLiteral("Tessarin " TESSARIN_VERSION);

QString Form1Text(const char* key)
{
    return QString::fromStdString(Text("TForm1", key));
}

QString Lang14Text(const char* key)
{
    return QString::fromStdString(Text("Tessarin14", key));
}

// A font that only changes the weight, so the rest comes from the window's font.
QFont WeightOnly(bool bold)
{
    QFont font;
    font.setBold(bold);
    return font;
}

void LeaveEventLoop(int code)
{
    // Queued, so the event being handled finishes first, and so that a request made
    // before the loop runs (a failed start-up check) is not lost.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [code] { QCoreApplication::exit(code); },
        Qt::QueuedConnection);
}

using dialogs::TPlace;
namespace wiz = names::wizard;

// Where every control of the window stands inside its parent; a width of 0 marks a
// label that takes the size of its text.
constexpr TPlace Layout[] = {
    // Frame.
    {wiz::PictureFrame, 16, 16, 122, 262},
    {wiz::Picture, 18, 18, 118, 257},
    {wiz::ButtonLine, 16, 288, 441, 2},
    {wiz::Back, 213, 296, 75, 25},
    {wiz::Next, 288, 296, 75, 25},
    {wiz::Cancel, 384, 296, 75, 25},
    {wiz::WelcomePage, 144, 16, 313, 265},
    {wiz::OperationPage, 144, 16, 313, 265},
    {wiz::ProfilePage, 144, 16, 313, 265},
    {wiz::ComponentsPage, 144, 16, 313, 265},
    {wiz::ProcessingPage, 144, 16, 313, 265},
    {wiz::ReportPage, 144, 16, 313, 265},
    // Welcome.
    {wiz::WelcomeTitle, 8, 8, 0, 0},
    {wiz::WelcomeText, 8, 40, 305, 40},
    {wiz::CloseProgramsText, 8, 80, 305, 50},
    {wiz::ContinueText, 8, 130, 305, 50},
    // Operation.
    {wiz::OperationTitle, 8, 8, 0, 0},
    {wiz::OperationBox, 8, 32, 305, 57},
    {wiz::BackupChoice, 16, 24, 125, 17},
    {wiz::RestoreChoice, 148, 24, 125, 17},
    {wiz::ApplicationText, 8, 112, 305, 50},
    {wiz::ApplicationList, 8, 164, 305, 97},
    // Profile selection.
    {wiz::ProfileTitle, 8, 8, 0, 0},
    {wiz::ProfileList, 8, 32, 305, 97},
    {wiz::Refresh, 8, 136, 75, 25},
    {wiz::FindProfile, 120, 136, 75, 25},
    {wiz::NewProfile, 232, 136, 75, 25},
    {wiz::BackupFileTitle, 8, 184, 0, 0},
    {wiz::BackupFileBox, 8, 212, 305, 49},
    {wiz::BackupFilePath, 8, 22, 204, 17},
    {wiz::Browse, 216, 16, 75, 25},
    // Components; the boxes stand in two columns.
    {wiz::ComponentsTitle, 8, 8, 0, 0},
    {wiz::ComponentsBox, 8, 40, 305, 221},
    {wiz::ComponentBox[ComponentGeneral], 15, 17, 140, 17},
    {wiz::ComponentBox[ComponentEmails], 15, 40, 140, 17},
    {wiz::ComponentBox[ComponentAddressBooks], 15, 63, 140, 17},
    {wiz::ComponentBox[ComponentBookmarks], 15, 86, 140, 17},
    {wiz::ComponentBox[ComponentHistory], 15, 109, 140, 17},
    {wiz::ComponentBox[ComponentSidebars], 15, 132, 140, 17},
    {wiz::ComponentBox[ComponentUserStyles], 15, 155, 140, 17},
    {wiz::ComponentBox[ComponentExtensions], 15, 178, 140, 17},
    {wiz::ComponentBox[ComponentPasswords], 158, 17, 140, 17},
    {wiz::ComponentBox[ComponentCookies], 158, 40, 140, 17},
    {wiz::ComponentBox[ComponentFormDetails], 158, 63, 140, 17},
    {wiz::ComponentBox[ComponentDownloads], 158, 86, 140, 17},
    {wiz::ComponentBox[ComponentCertificates], 158, 109, 140, 17},
    {wiz::ComponentBox[ComponentCache], 158, 132, 140, 17},
    {wiz::ComponentBox[ComponentAccountsOnly], 158, 159, 140, 17},
    {wiz::UnknownFiles, 159, 182, 130, 25},
    // Processing.
    {wiz::TaskList, 8, 8, 305, 185},
    {wiz::TaskText, 8, 208, 0, 0},
    {wiz::Progress, 8, 240, 305, 16},
    // Report.
    {wiz::ResultText, 8, 8, 305, 33},
    {wiz::ReportList, 8, 48, 305, 193},
    {wiz::NewRun, 8, 248, 305, 17},
};

template <class W> W* Make(QWidget* parent, const char* name)
{
    return dialogs::Place<W>(parent, Layout, name);
}

QLabel* MakeLabel(QWidget* parent, const char* name)
{
    auto* label = Make<QLabel>(parent, name);
    label->setTextFormat(Qt::PlainText); // language texts may hold "<" and ">"
    if (dialogs::PlaceOf(Layout, name).Width > 0) {
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    return label;
}

// Labels without a given size grow with their text.
void SetAutoSizeText(QLabel* label, const QString& text)
{
    label->setText(text);
    label->adjustSize();
}

// The lists of the last two pages are read, not chosen from: button-face background.
void UseButtonFace(QListWidget* list)
{
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    list->setPalette(palette);
}

} // namespace

QString ShortenForLabel(const QString& path, int tail)
{
    // Characters as the person sees them, not UTF-16 units.
    const QList<uint> chars = path.toUcs4();
    if (chars.size() < 40)
        return path;
    const auto part = [&](qsizetype from, qsizetype count) {
        const QList<uint> slice = chars.mid(from, count);
        return QString::fromUcs4(reinterpret_cast<const char32_t*>(slice.constData()), slice.size());
    };
    return part(0, 3) + QStringLiteral("...") + part(chars.size() - tail, tail);
}

TForm1::TForm1(TSharedState& state, QWidget* parent)
    : QMainWindow(parent), state_(state), ui_(std::make_unique<TQtUserInterface>(*this)),
      exitHandler_(LeaveEventLoop), batchRunner_(RunBatchBackup)
{
    setObjectName(QLatin1String(wiz::Window));
    // Fixed border with system menu and minimise box only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(dialogs::DesignFont());
    setWindowTitle(CaptionPrefix);

    BuildFrame();
    BuildWelcomePage();
    BuildOperationPage();
    BuildProfilePage();
    BuildComponentsPage();
    BuildProcessingPage();
    BuildReportPage();
    setFixedSize(ClientWidth, ClientHeight);

    try {
        LoadSettings(state_);
    } catch (const std::exception& e) {
        // The settings reader logs its own failures; anything escaping it must not
        // stop the start: the defaults stay.
        WriteErrorLog(e.what());
    }
    SetTexts();

    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            &TForm1::ApplicationStateChanged);

    if (!state_.Env.IsBatchMode())
        ShowWelcomePage();
}

// Members die before QWidget deletes its children, so the dialogs (which may be
// children of this window) are deleted exactly once, by their unique_ptr.
TForm1::~TForm1() = default;

void TForm1::CreateDialogs()
{
    Form2 = std::make_unique<TForm2>(this);
    Form4 = std::make_unique<TForm4>(this);
    Form5 = std::make_unique<TForm5>(this);
    UnknowFilesFM = std::make_unique<TUnknowFilesFM>(this);
    // The archive facade asks for a missing password through the enter-password dialog.
    Ui().SetPasswordPrompt([this] { return Form5->AskArchivePassword(); });
    Ui().SetNewPasswordPrompt([this] { return Form4->AskSetPassword(); });
    Ui().SetNewProfilePrompt([this] { return Form2->AskNewProfile(); });
    Ui().SetFileChooser([this](const TFileQuestion& q) { return ShowFileDialog(this, q); });
    Ui().SetFolderChooser(
        [this](const std::string& caption) { return BrowseForFolder(this, caption, {}); });
}

QWidget* TForm1::MakePanel(int number)
{
    auto* panel = Make<QWidget>(client_, wiz::Pages[number - 1]);
    panel->hide();
    panels_[number] = panel;
    return panel;
}

void TForm1::BuildFrame()
{
    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("ClientArea"));
    client_->setFixedSize(ClientWidth, ClientHeight);
    setCentralWidget(client_);

    Bevel1 = Make<QFrame>(client_, wiz::PictureFrame);
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Image1 = Make<QLabel>(client_, wiz::Picture);
    if (const QImage picture = LoadSidePicture(state_.Env.Folders.Program); !picture.isNull())
        Image1->setPixmap(QPixmap::fromImage(picture));
    Bevel2 = Make<QFrame>(client_, wiz::ButtonLine);
    Bevel2->setFrameStyle(QFrame::HLine | QFrame::Sunken);

    Button3 = Make<QPushButton>(client_, wiz::Back);
    Button3->hide();
    Button1 = Make<QPushButton>(client_, wiz::Next);
    Button1->setDefault(true);
    Button2 = Make<QPushButton>(client_, wiz::Cancel);
    connect(Button1, &QPushButton::clicked, this, &TForm1::NextClicked);
    connect(Button2, &QPushButton::clicked, this, &TForm1::CancelClicked);
    connect(Button3, &QPushButton::clicked, this, &TForm1::BackClicked);
}

void TForm1::BuildWelcomePage()
{
    QWidget* page = MakePanel(1);
    Label1 = MakeLabel(page, wiz::WelcomeTitle);
    StaticText7 = MakeLabel(page, wiz::WelcomeText);
    StaticText8 = MakeLabel(page, wiz::CloseProgramsText);
    StaticText9 = MakeLabel(page, wiz::ContinueText);
}

void TForm1::BuildOperationPage()
{
    QWidget* page = MakePanel(2);
    StaticText1 = MakeLabel(page, wiz::OperationTitle);
    GroupBox1 = Make<QGroupBox>(page, wiz::OperationBox);
    dialogs::UseDesignGroupBox(*GroupBox1, *this);
    RadioButton1 = Make<QRadioButton>(GroupBox1, wiz::BackupChoice);
    RadioButton1->setChecked(true); // backup is the choice at start
    RadioButton2 = Make<QRadioButton>(GroupBox1, wiz::RestoreChoice);
    StaticText10 = MakeLabel(page, wiz::ApplicationText);
    ListBox1 = Make<QListWidget>(page, wiz::ApplicationList);
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, &TForm1::UpdateNextForApplication);
    connect(ListBox1, &QListWidget::itemDoubleClicked, this, &TForm1::ApplicationDoubleClicked);
}

void TForm1::BuildProfilePage()
{
    QWidget* page = MakePanel(3);
    StaticText2 = MakeLabel(page, wiz::ProfileTitle);
    ListBox2 = Make<QListWidget>(page, wiz::ProfileList);
    ListBox2->setSortingEnabled(true);
    Button6 = Make<QPushButton>(page, wiz::Refresh);
    Button7 = Make<QPushButton>(page, wiz::FindProfile);
    Button5 = Make<QPushButton>(page, wiz::NewProfile);
    StaticText4 = MakeLabel(page, wiz::BackupFileTitle);
    GroupBox2 = Make<QGroupBox>(page, wiz::BackupFileBox);
    dialogs::UseDesignGroupBox(*GroupBox2, *this);
    // Only the caption is bold; the path label and Browse stay regular.
    GroupBox2->setFont(WeightOnly(true));
    StaticText3 = MakeLabel(GroupBox2, wiz::BackupFilePath);
    StaticText3->setWordWrap(false);
    StaticText3->setFont(WeightOnly(false));
    Button4 = Make<QPushButton>(GroupBox2, wiz::Browse);
    Button4->setFont(WeightOnly(false));
    connect(ListBox2, &QListWidget::itemClicked, this, &TForm1::ProfileClicked);
    // Arrow keys choose as a click does.
    connect(ListBox2, &QListWidget::itemSelectionChanged, this, &TForm1::ProfileClicked);
    connect(ListBox2, &QListWidget::itemDoubleClicked, this, [this] { NextClicked(); });
    connect(Button4, &QPushButton::clicked, this, [this] { ProfileAction(&TForm1::ChooseBackupFile); });
    connect(Button5, &QPushButton::clicked, this, [this] { ProfileAction(&TForm1::NewProfile); });
    connect(Button6, &QPushButton::clicked, this, [this] { ProfileAction(&TForm1::RefreshProfiles); });
    connect(Button7, &QPushButton::clicked, this, [this] { ProfileAction(&TForm1::FindProfile); });
}

void TForm1::BuildComponentsPage()
{
    QWidget* page = MakePanel(4);
    StaticText5 = MakeLabel(page, wiz::ComponentsTitle);
    GroupBox3 = Make<QGroupBox>(page, wiz::ComponentsBox);
    dialogs::UseDesignGroupBox(*GroupBox3, *this);
    // Tab order: down the left column, then the right one as the boxes were laid out.
    static constexpr int tabOrder[] = {1, 2, 3, 4, 5, 6, 8, 10, 11, 12, 9, 7, 13, 14, 15};
    QWidget* previous = nullptr;
    for (int number : tabOrder) {
        auto* box = Make<QCheckBox>(GroupBox3, wiz::ComponentBox[number]);
        componentBoxes_[number] = box;
        connect(box, &QCheckBox::toggled, this, [this, number](bool on) { BoxToggled(number, on); });
        if (previous != nullptr)
            QWidget::setTabOrder(previous, box);
        previous = box;
    }
    UnknowFilesBT = Make<QPushButton>(GroupBox3, wiz::UnknownFiles);
    UnknowFilesBT->hide();
    QWidget::setTabOrder(previous, UnknowFilesBT);
    connect(UnknowFilesBT, &QPushButton::clicked, this, [this] {
        if (UnknowFilesFM)
            UnknowFilesFM->Run();
    });
}

void TForm1::BuildProcessingPage()
{
    QWidget* page = MakePanel(5);
    ListBox3 = Make<QListWidget>(page, wiz::TaskList);
    UseButtonFace(ListBox3);
    StaticText6 = MakeLabel(page, wiz::TaskText);
    SetAutoSizeText(StaticText6, QStringLiteral("Akce: "));
    ProgressBar1 = Make<QProgressBar>(page, wiz::Progress);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
}

void TForm1::BuildReportPage()
{
    QWidget* page = MakePanel(6);
    StaticText11 = MakeLabel(page, wiz::ResultText);
    ListBox4 = Make<QListWidget>(page, wiz::ReportList);
    UseButtonFace(ListBox4);
    CheckBox16 = Make<QCheckBox>(page, wiz::NewRun);
    connect(CheckBox16, &QCheckBox::toggled, this, &TForm1::NewRunToggled);
}

// Every text of the window from the language file; run at start and again after the
// language font is applied, so that labels sized by their text fit that font.
void TForm1::SetTexts()
{
    SetButtonCaptions();
    SetAutoSizeText(Label1, Form1Text("LANG_APLIKACE_WELCOME"));
    StaticText7->setText(Form1Text("LANG_MEMO1"));
    StaticText8->setText(Form1Text("LANG_MEMO11"));
    StaticText9->setText(Form1Text("LANG_MEMO12"));
    SetAutoSizeText(StaticText1, Form1Text("LANG_CO_PROVEST"));
    GroupBox1->setTitle(Form1Text("LANG_VOLBA"));
    RadioButton1->setText(Form1Text("LANG_ZALOHA"));
    RadioButton2->setText(Form1Text("LANG_OBNOVA"));
    StaticText10->setText(Form1Text(NoProgramFound() ? "LANG_NO_PROGRAM" : "LANG_MEMO2"));
    ListBox1->setAccessibleName(StaticText10->text());
    const bool backup = state_.Operation != TOperation::Restore;
    SetAutoSizeText(StaticText2, Form1Text(backup ? "LANG_TEXT2_1" : "LANG_TEXT2_2"));
    ListBox2->setAccessibleName(StaticText2->text());
    Button6->setText(Form1Text("LANG_RELOAD"));
    Button7->setText(Lang14Text("LANG_PORTABLE"));
    Button5->setText(Form1Text("LANG_NEW_PROFIL"));
    SetAutoSizeText(StaticText4, Form1Text(backup ? "LANG_TEXT4_1" : "LANG_TEXT4_2"));
    GroupBox2->setTitle(Lang14Text(backup ? "LANG_CHOOSE_FILE_BACKUP" : "LANG_CHOOSE_FILE_RESTORE"));
    Button4->setText(Form1Text("LANG_CHOOSE"));
    SetAutoSizeText(StaticText5, Form1Text(backup ? "LANG_CHOOSE_ZALOHA" : "LANG_CHOOSE_OBNOVA"));
    GroupBox3->setTitle(Form1Text("LANG_GROUPBOX3"));
    for (int n = 1; n <= ComponentCount; ++n)
        componentBoxes_[n]->setText(Form1Text(("LANG_CHECKBOX" + std::to_string(n)).c_str()));
    componentBoxes_[ComponentExtensions]->setToolTip(Form1Text("LANG_CHECKBOX14_HINT"));
    UnknowFilesBT->setText(Lang14Text("LANG_UNKNOW_FILES"));
    SetAutoSizeText(StaticText6, StaticText6->text());
    CheckBox16->setText(Form1Text("LANG_NEW_BR"));
}

void TForm1::SetCaptionSuffix(const std::string& key)
{
    setWindowTitle(CaptionPrefix + QString::fromStdString(Text("TForm1", key)));
}

void TForm1::ShowOnly(QWidget* panel)
{
    for (int i = 1; i <= 6; ++i)
        if (panels_[i] != panel)
            panels_[i]->hide();
    panel->show();
}

void TForm1::SetButtonCaptions()
{
    Button1->setText(Form1Text("LANG_BUTTON_1"));
    Button2->setText(Form1Text("LANG_BUTTON_2"));
    Button3->setText(Form1Text("LANG_BUTTON_3"));
}

void TForm1::ShowWelcomePage()
{
    SetButtonCaptions();
    SetCaptionSuffix("LANG_OKNO_1");
    // Bold and 16 pixels; the family follows the window's (language) font.
    QFont title;
    title.setBold(true);
    title.setPixelSize(16);
    Label1->setFont(title);
    SetAutoSizeText(Label1, Form1Text("LANG_APLIKACE_WELCOME"));
    StaticText7->setText(Form1Text("LANG_MEMO1"));
    StaticText8->setText(Form1Text("LANG_MEMO11"));
    StaticText9->setText(Form1Text("LANG_MEMO12"));
    state_.BackupFile.clear();
    ShowOnly(panels_[1]);
    Button1->setEnabled(true);
    Button1->show();
    Button2->show();
    Button3->hide();
    state_.PageNumber = TPageNumber::Welcome;
    state_.CloseWithoutQuestion = false;
}

void TForm1::ShowOperationPage()
{
    SetCaptionSuffix("LANG_APLIKACE_VOLBA");
    SetTexts();
    ShowOnly(panels_[2]);
    Button3->show();
    ScanInstalledApplications(state_);
    ListBox1->clear();
    for (const std::string& entry : state_.ApplicationList)
        ListBox1->addItem(QString::fromStdString(entry));
    ShowNoProgram();
    ListBox1->setCurrentRow(0);
    ListBox1->setFocus();
    UpdateNextForApplication();
}

bool TForm1::NoProgramFound() const
{
    // The portable entry is always there; no other entry means no application.
    const std::string portable = Text("Tessarin14", "LANG_PORTABLE_APPS");
    return !state_.ApplicationList.empty() &&
           std::all_of(state_.ApplicationList.begin(), state_.ApplicationList.end(),
                       [&](const std::string& entry) { return entry == portable; });
}

void TForm1::ShowNoProgram()
{
    // A portable profile needs no installed application: its entry stays, and the
    // explanation above the list says why nothing else is there.
    StaticText10->setText(Form1Text(NoProgramFound() ? "LANG_NO_PROGRAM" : "LANG_MEMO2"));
    ListBox1->setAccessibleName(StaticText10->text());
}

void TForm1::ShowProfilePage()
{
    state_.Operation = RadioButton1->isChecked() ? TOperation::Backup : TOperation::Restore;
    SetCaptionSuffix("LANG_VOLBA_PROFILU");
    SetTexts();
    Button5->setEnabled(CanCreateProfile(state_));
    ShowOnly(panels_[3]);
    Button1->setEnabled(false);
    ListProfiles(state_);
    FillProfileList();
    // The profile the application opens, else the first; the order stays sorted.
    if (ListBox2->count() > 0) {
        const QList<QListWidgetItem*> inUse =
            ListBox2->findItems(QString::fromStdString(state_.ProfileInUse), Qt::MatchExactly);
        ListBox2->setCurrentRow(state_.ProfileInUse.empty() || inUse.isEmpty() ? 0
                                                                              : ListBox2->row(inUse.front()));
    }
    ListBox2->setFocus();
    UpdateNextForProfile();
    ProposeBackupFile();
}

void TForm1::FillProfileList()
{
    const QSignalBlocker block(ListBox2);
    ListBox2->clear();
    for (const std::string& entry : state_.ProfileList)
        ListBox2->addItem(QString::fromStdString(entry));
    state_.SelectedProfile.clear();
}

std::string TForm1::SelectedProfileText() const
{
    const QList<QListWidgetItem*> selected = ListBox2->selectedItems();
    return selected.isEmpty() ? std::string() : selected.front()->text().toStdString();
}

void TForm1::UpdateNextForApplication()
{
    if (ListBox1->count() == 0 || ListBox1->item(0)->text() == Form1Text("LANG_NO_PROGRAM"))
        return;
    Button1->setEnabled(!ListBox1->selectedItems().isEmpty());
}

void TForm1::UpdateNextForProfile()
{
    state_.SelectedProfile = SelectedProfileText();
    Button1->setEnabled(!state_.SelectedProfile.empty());
}

void TForm1::ProfileClicked()
{
    UpdateNextForProfile();
    // The proposed name follows the chosen profile.
    if (state_.Operation == TOperation::Backup && state_.PatternHasProfile)
        ProposeBackupFile();
}

void TForm1::SetBackupFileLabel(const std::string& path, int tail)
{
    const QString full = QString::fromStdString(path);
    labelTail_ = tail;
    StaticText3->setToolTip(full);
    StaticText3->setAccessibleDescription(full);
    // The label's room is fixed: a path that still does not fit in this font loses
    // more of its middle, so that its end, the file name, stays readable.
    QString text = ShortenForLabel(full, tail);
    const QFontMetrics metrics(StaticText3->font());
    const QList<uint> chars = full.toUcs4();
    for (qsizetype keep = std::min<qsizetype>(tail, chars.size()) - 1;
         keep > 8 && metrics.horizontalAdvance(text) > StaticText3->width(); --keep) {
        const QList<uint> end = chars.mid(chars.size() - keep);
        text = full.left(3) + QStringLiteral("...") +
               QString::fromUcs4(reinterpret_cast<const char32_t*>(end.constData()), end.size());
    }
    StaticText3->setText(text);
}

void TForm1::ProposeBackupFile()
{
    state_.SelectedProfile = SelectedProfileText();
    tessarin::ProposeBackupFile(state_);
    SetBackupFileLabel(state_.BackupFile, 36);
}

void TForm1::RememberProfileSelection()
{
    if (const int row = ListBox2->currentRow(); row >= 0 && ListBox2->currentItem()->isSelected())
        state_.SavedProfileIndex = row;
}

void TForm1::RestoreProfileSelection()
{
    if (ListBox2->count() == 0)
        return;
    // Putting the selection back is no new choice: a file chosen with Browse stays.
    const QSignalBlocker block(ListBox2);
    ListBox2->clearSelection();
    if (state_.SavedProfileIndex >= 0) {
        ListBox2->setFocus();
        ListBox2->setCurrentRow(std::min(state_.SavedProfileIndex, ListBox2->count() - 1));
        Button1->setEnabled(true);
        state_.SavedProfileIndex = -1;
    }
    UpdateNextForProfile();
}

void TForm1::ProfileAction(void (TForm1::*action)())
{
    RememberProfileSelection();
    // A backup file that cannot be read ends the program: never across the event loop.
    try {
        (this->*action)();
    } catch (const TProgramExit& e) {
        EndProgram(e.Code);
        return;
    }
    RestoreProfileSelection();
}

void TForm1::RefreshProfiles()
{
    ListProfiles(state_);
    FillProfileList();
}

void TForm1::FindProfile()
{
    if (AddPortableProfile(state_, *ui_))
        FillProfileList();
    ProposeBackupFile();
}

void TForm1::NewProfile()
{
    if (CreateNewProfile(state_, *ui_) == TCreateProfileResult::Created)
        RefreshProfiles();
}

void TForm1::ChooseBackupFile()
{
    // A file taken shows more of its path than the proposed one.
    if (tessarin::ChooseBackupFile(state_, *ui_))
        labelTail_ = 33;
    SetBackupFileLabel(state_.BackupFile, labelTail_);
}

bool TForm1::ShowComponentsPage()
{
    const std::optional<TComponentsPage> page =
        PrepareComponents(state_, *ui_, SelectedProfileText());
    if (!page)
        return false;
    SetCaptionSuffix("LANG_SOUCASTI");
    SetTexts();
    ShowOnly(panels_[4]);
    SyncBoxesFromState();
    if (UnknowFilesFM)
        UnknowFilesFM->SetItems(page->UnknownItems);
    UnknowFilesBT->setVisible(!page->UnknownItems.empty());
    return true;
}

void TForm1::SyncBoxesFromState()
{
    for (int n = 1; n <= ComponentCount; ++n) {
        const QSignalBlocker block(componentBoxes_[n]);
        const TComponentBox& box = state_.Boxes[n];
        componentBoxes_[n]->setChecked(box.Checked);
        componentBoxes_[n]->setEnabled(box.Enabled);
        componentBoxes_[n]->setVisible(box.Visible);
    }
    // The hint of Extensions shows when its box is off for want of extensions.
    const TComponentBox& extensions = state_.Boxes[ComponentExtensions];
    componentBoxes_[ComponentExtensions]->setToolTip(
        extensions.Hint || !extensions.Enabled ? Form1Text("LANG_CHECKBOX14_HINT") : QString());
}

void TForm1::BoxToggled(int number, bool checked)
{
    state_.Boxes[number].Checked = checked;
    if (number == ComponentAccountsOnly) {
        SetAccountsSettingsOnly(state_, checked);
        SyncBoxesFromState();
    }
}

void TForm1::StartRun()
{
    if (!ConfirmRunStart(state_, *ui_))
        return;
    state_.ChosenUnknownItems = UnknowFilesFM ? UnknowFilesFM->CheckedNames() : std::vector<std::string>{};
    // Nothing may cross the event loop: a close confirmed during the run ends it here,
    // after the run's own clean-up has removed every half-written file.
    try {
        RunChosenOperation(state_, *ui_);
    } catch (const TProgramExit& e) {
        EndProgram(e.Code);
    } catch (const std::exception& e) {
        WriteErrorLog(e.what());
        ui_->ErrorBox(Text("Tessarin14", "LANG_ERROR"), e.what());
        EndProgram(1);
    }
}

void TForm1::NextClicked()
{
    if (!Button1->isVisible() || !Button1->isEnabled())
        return;
    try {
        switch (state_.PageNumber) {
        case TPageNumber::Welcome:
            ShowOperationPage();
            state_.PageNumber = TPageNumber::Operation;
            break;
        case TPageNumber::Operation:
            if (ListBox1->selectedItems().isEmpty())
                break;
            SelectApplication(state_, ListBox1->selectedItems().front()->text().toStdString());
            if (!WaitUntilApplicationClosed(*state_.Env.Processes, state_.AppNumber, *ui_))
                break;
            ShowProfilePage();
            state_.PageNumber = TPageNumber::Profile;
            break;
        case TPageNumber::Profile:
            if (ShowComponentsPage())
                state_.PageNumber = TPageNumber::Components;
            break;
        case TPageNumber::Components:
            StartRun();
            break;
        default:
            break;
        }
    } catch (const TProgramExit& e) {
        EndProgram(e.Code);
    }
}

void TForm1::ApplicationDoubleClicked()
{
    if (state_.PageNumber != TPageNumber::Operation || ListBox1->selectedItems().isEmpty())
        return;
    SelectApplication(state_, ListBox1->selectedItems().front()->text().toStdString());
    if (state_.AppCodeName.empty() ||
        !WaitUntilApplicationClosed(*state_.Env.Processes, state_.AppNumber, *ui_))
        return;
    ShowProfilePage();
    state_.PageNumber = TPageNumber::Profile;
}

void TForm1::BackClicked()
{
    switch (state_.PageNumber) {
    case TPageNumber::Operation:
        state_.PageNumber = TPageNumber::Welcome;
        ShowWelcomePage();
        break;
    case TPageNumber::Profile:
        ShowOperationPage();
        state_.PageNumber = TPageNumber::Operation;
        break;
    case TPageNumber::Components: {
        // The list is read again, but the profile the person chose stays chosen: Next
        // right after Back must not back up or restore another profile.
        const QString chosen = QString::fromStdString(state_.SelectedProfile);
        ShowProfilePage();
        if (const auto found = ListBox2->findItems(chosen, Qt::MatchExactly); !found.isEmpty()) {
            ListBox2->setCurrentItem(found.front());
            ProposeBackupFile();
        }
        state_.PageNumber = TPageNumber::Profile;
        break;
    }
    default:
        break;
    }
}

void TForm1::ShowPage(TPage page)
{
    switch (page) {
    case TPage::Welcome:
        ShowWelcomePage();
        break;
    case TPage::Operation:
        ShowOnly(panels_[2]);
        break;
    case TPage::Profile:
        ShowOnly(panels_[3]);
        break;
    case TPage::Components:
        ShowOnly(panels_[4]);
        break;
    case TPage::Processing:
        SetCaptionSuffix("LANG_PROV_AKCE");
        ShowOnly(panels_[5]);
        // While a run works only Cancel and the close box can act.
        Button1->hide();
        Button3->hide();
        state_.PageNumber = TPageNumber::Run;
        break;
    case TPage::Report:
        SetCaptionSuffix("LANG_ZAVER");
        Button2->setText(Form1Text("LANG_BUTTON_KONEC"));
        CheckBox16->setText(Form1Text("LANG_NEW_BR"));
        ShowOnly(panels_[6]);
        Button1->hide();
        Button3->hide();
        Button2->setFocus();
        state_.PageNumber = TPageNumber::Run;
        break;
    }
}

void TForm1::SetTaskText(const QString& text)
{
    SetAutoSizeText(StaticText6, text);
}

void TForm1::AddTaskLine(const QString& text)
{
    ListBox3->addItem(text);
}

void TForm1::SetProgressRange(int maximum)
{
    ProgressBar1->setRange(0, maximum > 0 ? maximum : 100);
}

void TForm1::SetProgressPosition(int position)
{
    ProgressBar1->setValue(std::clamp(position, ProgressBar1->minimum(), ProgressBar1->maximum()));
}

void TForm1::SetReport(const QString& resultText, bool bold, bool copyTaskLines)
{
    StaticText11->setText(resultText);
    StaticText11->setFont(WeightOnly(bold));
    ListBox4->clear();
    if (copyTaskLines)
        for (int i = 0; i < ListBox3->count(); ++i)
            ListBox4->addItem(ListBox3->item(i)->text());
}

void TForm1::SetExitHandler(TExitHandler handler)
{
    exitHandler_ = std::move(handler);
}

void TForm1::EndProgram(int code)
{
    if (exitPending_)
        return;
    exitPending_ = true;
    exitCode_ = code;
    if (exitHandler_)
        exitHandler_(code);
}

void TForm1::SetBatchRunner(TBatchRunner runner)
{
    batchRunner_ = std::move(runner);
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous())
        return;
    ApplyLanguageFont();
    if (!firstShowDone_ && !exitPending_)
        FirstShow();
}

void TForm1::FirstShow()
{
    if (!CheckRequiredFiles(state_.Env, *ui_)) {
        EndProgram(1);
        return;
    }
    PlaceWindowOnMonitor();
    firstShowDone_ = true;
    if (state_.Env.IsBatchMode()) {
        activateWindow();
        QTimer::singleShot(batchStartFallbackMs_, this, &TForm1::StartBatchOnce);
    }
}

void TForm1::PlaceWindowOnMonitor()
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return;
    if (state_.MonitorNumber > screens.size())
        state_.MonitorNumber = 1;
    const QScreen* screen = screens.at(MonitorIndex(state_.MonitorNumber, screens.size()));
    move(PlaceOnMonitor(screen->geometry(), frameGeometry().size()));
}

void TForm1::ApplyLanguageFont()
{
    QFont font = dialogs::DesignFont();
    if (const std::string name = state_.Env.Language->GetUsableFontName(); !name.empty()) {
        QStringList families = font.families();
        // Kept in front of the designed ones, which take over when it is not installed.
        families.prepend(QString::fromStdString(name));
        font.setFamilies(families);
    }
    setFont(font);
    // Labels sized by their text are sized again with the font they now show.
    SetTexts();
    try {
        fontCharset_ = state_.Env.Language->GetFontCharset();
    } catch (const std::exception&) {
        // Not a number: character sets do nothing here, so the window keeps its font.
        fontCharset_ = 1;
    }
}

bool TForm1::ConfirmExit()
{
    if (!panels_[6]->isHidden() || state_.CloseWithoutQuestion) {
        closedByUser_ = true;
        EndProgram(0);
        return true;
    }
    if (!ui_->QuestionBox(Text("TForm1", "LANG_END_PROGRAM"), Text("TForm1", "LANG_END_TEXT")))
        return false;
    closedByUser_ = true;
    EndProgram(1);
    return true;
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (exitPending_ || ConfirmExit())
        event->accept();
    else
        event->ignore();
}

void TForm1::keyPressEvent(QKeyEvent* event)
{
    // Next is the default button: Enter presses it wherever the focus is, unless the
    // focused control used the key itself.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && Button1->isVisible() &&
        Button1->isEnabled()) {
        Button1->animateClick();
        return;
    }
    if (event->key() == Qt::Key_Escape && Button2->isVisible()) {
        Button2->animateClick();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TForm1::CancelClicked()
{
    if (!CheckBox16->isChecked()) {
        close();
        return;
    }
    // New backup or restore: start over from the Welcome page.
    CheckBox16->setChecked(false);
    ListBox3->clear();
    ListBox4->clear();
    state_.PageNumber = TPageNumber::Welcome;
    ShowWelcomePage();
    Button1->setFocus();
}

void TForm1::NewRunToggled(bool checked)
{
    Button2->setText(Form1Text(checked ? "LANG_BUTTON_1" : "LANG_BUTTON_KONEC"));
}

void TForm1::ApplicationStateChanged(Qt::ApplicationState state)
{
    if (state == Qt::ApplicationActive)
        StartBatchOnce();
}

void TForm1::StartBatchOnce()
{
    // Only once the start-up checks passed; a warning box shown by them can itself
    // activate the application.
    if (!state_.Env.IsBatchMode() || batchStarted_ || !firstShowDone_ || exitPending_)
        return;
    batchStarted_ = true;
    // Started from the event loop rather than inside the activation event.
    QTimer::singleShot(0, this, &TForm1::StartBatch);
}

void TForm1::StartBatch()
{
    if (exitPending_)
        return;
    int code = 1;
    // Nothing may cross the event loop: every way out of the run ends here.
    try {
        code = batchRunner_(state_, *ui_, state_.Env.BatchTaskArgument());
    } catch (const TProgramExit& e) {
        code = e.Code;
    } catch (const std::exception& e) {
        WriteErrorLog(e.what());
        code = 1;
    } catch (...) {
        WriteErrorLog("Batch backup stopped by an unexpected error.");
        code = 1;
    }
    EndProgram(code);
}

} // namespace tessarin
