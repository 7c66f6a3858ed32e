#include "app/MainWindow.h"

#include "app/Placement.h"
#include "app/QtUserInterface.h"
#include "app/SidePicture.h"
#include "app/dialogs/DialogSupport.h"
#include "config/BatchMode.h"
#include "engine/BatchBackup.h"
#include "config/ErrorLog.h"
#include "config/L10n.h"
#include "config/Settings.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
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

QLabel* MakeLabel(QWidget* parent, const char* name, int x, int y, int w = 0, int h = 0)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText); // language texts may hold "<" and ">"
    if (w > 0) {
        label->setGeometry(x, y, w, h);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    } else {
        label->move(x, y);
    }
    return label;
}

// Labels without a given size grow with their text.
void SetAutoSizeText(QLabel* label, const QString& text)
{
    label->setText(text);
    label->adjustSize();
}

QPushButton* MakeButton(QWidget* parent, const char* name, int x, int y, int w = 75, int h = 25)
{
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(x, y, w, h);
    return button;
}

QListWidget* MakeList(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(QLatin1String(name));
    list->setGeometry(x, y, w, h);
    return list;
}

// The lists of the last two pages are read, not chosen from: button-face background.
void UseButtonFace(QListWidget* list)
{
    QPalette palette = list->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    list->setPalette(palette);
}

} // namespace

TForm1::TForm1(TSharedState& state, QWidget* parent)
    : QMainWindow(parent), state_(state), ui_(std::make_unique<TQtUserInterface>(*this)),
      exitHandler_(LeaveEventLoop), batchRunner_(RunBatchBackup)
{
    setObjectName(QStringLiteral("Form1"));
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

    Language();
    try {
        LoadSettings(state_);
    } catch (const std::exception& e) {
        // The settings reader logs its own failures; anything escaping it must not
        // stop the start: the defaults stay.
        WriteErrorLog(e.what());
    }
    SetButtonCaptions();

    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            &TForm1::ApplicationStateChanged);

    if (!IsBatchMode())
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
    auto* panel = new QWidget(client_);
    panel->setObjectName(QStringLiteral("Panel%1").arg(number));
    panel->setGeometry(144, 16, 313, 265);
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

    Bevel1 = new QFrame(client_);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Bevel1->setGeometry(16, 16, 122, 262);

    Image1 = new QLabel(client_);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(18, 18, SidePictureWidth, SidePictureHeight);
    if (const QImage picture = LoadSidePicture(); !picture.isNull())
        Image1->setPixmap(QPixmap::fromImage(picture));

    Bevel2 = new QFrame(client_);
    Bevel2->setObjectName(QStringLiteral("Bevel2"));
    Bevel2->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel2->setGeometry(16, 288, 441, 2);

    Button3 = MakeButton(client_, "Button3", 213, 296);
    Button3->hide();
    Button1 = MakeButton(client_, "Button1", 288, 296);
    Button1->setDefault(true);
    Button2 = MakeButton(client_, "Button2", 384, 296);
    connect(Button2, &QPushButton::clicked, this, &TForm1::CancelClicked);
}

void TForm1::BuildWelcomePage()
{
    QWidget* page = MakePanel(1);
    Label1 = MakeLabel(page, "Label1", 8, 8);
    StaticText7 = MakeLabel(page, "StaticText7", 8, 40, 305, 40);
    StaticText8 = MakeLabel(page, "StaticText8", 8, 80, 305, 50);
    StaticText9 = MakeLabel(page, "StaticText9", 8, 130, 305, 50);
}

void TForm1::BuildOperationPage()
{
    QWidget* page = MakePanel(2);
    StaticText1 = MakeLabel(page, "StaticText1", 8, 8);
    SetAutoSizeText(StaticText1, Form1Text("LANG_CO_PROVEST"));
    GroupBox1 = new QGroupBox(Form1Text("LANG_VOLBA"), page);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 32, 305, 57);
    RadioButton1 = new QRadioButton(Form1Text("LANG_ZALOHA"), GroupBox1);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    RadioButton1->setGeometry(16, 24, 125, 17);
    RadioButton1->setChecked(true); // backup is the choice at start
    RadioButton2 = new QRadioButton(Form1Text("LANG_OBNOVA"), GroupBox1);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    RadioButton2->setGeometry(148, 24, 125, 17);
    StaticText10 = MakeLabel(page, "StaticText10", 8, 112, 305, 50);
    StaticText10->setText(Form1Text("LANG_MEMO2"));
    ListBox1 = MakeList(page, "ListBox1", 8, 164, 305, 97);
}

void TForm1::BuildProfilePage()
{
    QWidget* page = MakePanel(3);
    StaticText2 = MakeLabel(page, "StaticText2", 8, 8);
    SetAutoSizeText(StaticText2, Form1Text("LANG_TEXT2_1"));
    ListBox2 = MakeList(page, "ListBox2", 8, 32, 305, 97);
    ListBox2->setSortingEnabled(true);
    Button6 = MakeButton(page, "Button6", 8, 136);
    Button6->setText(Form1Text("LANG_RELOAD"));
    Button7 = MakeButton(page, "Button7", 120, 136);
    Button7->setText(QString::fromStdString(Text("Tessarin14", "LANG_PORTABLE")));
    Button5 = MakeButton(page, "Button5", 232, 136);
    Button5->setText(Form1Text("LANG_NEW_PROFIL"));
    StaticText4 = MakeLabel(page, "StaticText4", 8, 184);
    SetAutoSizeText(StaticText4, Form1Text("LANG_TEXT4_1"));
    GroupBox2 = new QGroupBox(page);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(8, 212, 305, 49);
    // Only the caption is bold; the path label and Browse stay regular.
    GroupBox2->setFont(WeightOnly(true));
    GroupBox2->setTitle(QString::fromStdString(Text("Tessarin14", "LANG_CHOOSE_FILE_BACKUP")));
    StaticText3 = MakeLabel(GroupBox2, "StaticText3", 8, 22, 200, 17);
    StaticText3->setWordWrap(false);
    StaticText3->setFont(WeightOnly(false));
    Button4 = MakeButton(GroupBox2, "Button4", 216, 16);
    Button4->setFont(WeightOnly(false));
    Button4->setText(Form1Text("LANG_CHOOSE"));
}

void TForm1::BuildComponentsPage()
{
    QWidget* page = MakePanel(4);
    StaticText5 = MakeLabel(page, "StaticText5", 8, 8);
    SetAutoSizeText(StaticText5, Form1Text("LANG_CHOOSE_ZALOHA"));
    GroupBox3 = new QGroupBox(Form1Text("LANG_GROUPBOX3"), page);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    GroupBox3->setGeometry(8, 40, 305, 221);

    struct TBoxPlace {
        int Number, Left, Top;
    };
    static constexpr TBoxPlace places[] = {
        {1, 15, 17},   {2, 15, 40},   {3, 15, 63},    {4, 15, 86},    {5, 15, 109},
        {6, 15, 132},  {8, 15, 155},  {14, 15, 178},  {9, 158, 17},   {10, 158, 40},
        {11, 158, 63}, {12, 158, 86}, {13, 158, 109}, {15, 158, 132}, {7, 158, 159},
    };
    for (const auto& place : places) {
        auto* box = new QCheckBox(GroupBox3);
        box->setObjectName(QStringLiteral("CheckBox%1").arg(place.Number));
        box->setGeometry(place.Left, place.Top, 140, 17);
        box->setText(
            QString::fromStdString(Text("TForm1", "LANG_CHECKBOX" + std::to_string(place.Number))));
        componentBoxes_[place.Number] = box;
    }
    componentBoxes_[14]->setToolTip(Form1Text("LANG_CHECKBOX14_HINT"));

    UnknowFilesBT = MakeButton(GroupBox3, "UnknowFilesBT", 159, 182, 130, 25);
    UnknowFilesBT->setText(QString::fromStdString(Text("Tessarin14", "LANG_UNKNOW_FILES")));
    UnknowFilesBT->hide();

    static constexpr int tabOrder[] = {1, 2, 3, 4, 5, 6, 8, 10, 11, 12, 9, 7, 13, 14, 15};
    QWidget* previous = nullptr;
    for (int number : tabOrder) {
        if (previous != nullptr)
            QWidget::setTabOrder(previous, componentBoxes_[number]);
        previous = componentBoxes_[number];
    }
    QWidget::setTabOrder(previous, UnknowFilesBT);
}

void TForm1::BuildProcessingPage()
{
    QWidget* page = MakePanel(5);
    ListBox3 = MakeList(page, "ListBox3", 8, 8, 305, 185);
    UseButtonFace(ListBox3);
    StaticText6 = MakeLabel(page, "StaticText6", 8, 208);
    SetAutoSizeText(StaticText6, QStringLiteral("Akce: "));
    ProgressBar1 = new QProgressBar(page);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(8, 240, 305, 16);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
}

void TForm1::BuildReportPage()
{
    QWidget* page = MakePanel(6);
    StaticText11 = MakeLabel(page, "StaticText11", 8, 8, 305, 33);
    ListBox4 = MakeList(page, "ListBox4", 8, 48, 305, 193);
    UseButtonFace(ListBox4);
    CheckBox16 = new QCheckBox(page);
    CheckBox16->setObjectName(QStringLiteral("CheckBox16"));
    CheckBox16->setGeometry(8, 248, 305, 17);
    CheckBox16->setText(Form1Text("LANG_NEW_BR"));
    connect(CheckBox16, &QCheckBox::toggled, this, &TForm1::NewRunToggled);
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
    state_.PageNumber = 1;
    state_.CloseWithoutQuestion = false;
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
        state_.PageNumber = 5;
        break;
    case TPage::Report:
        SetCaptionSuffix("LANG_ZAVER");
        Button2->setText(Form1Text("LANG_BUTTON_KONEC"));
        CheckBox16->setText(Form1Text("LANG_NEW_BR"));
        ShowOnly(panels_[6]);
        Button1->hide();
        Button3->hide();
        Button2->setFocus();
        state_.PageNumber = 5;
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
    if (!CheckRequiredFiles(*ui_)) {
        EndProgram(1);
        return;
    }
    PlaceWindowOnMonitor();
    firstShowDone_ = true;
    if (IsBatchMode()) {
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
    if (const std::string name = Language().GetUsableFontName(); !name.empty()) {
        QStringList families = font.families();
        // Kept in front of the designed ones, which take over when it is not installed.
        families.prepend(QString::fromStdString(name));
        font.setFamilies(families);
    }
    setFont(font);
    try {
        fontCharset_ = Language().GetFontCharset();
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
    state_.PageNumber = 1;
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
    if (!IsBatchMode() || batchStarted_ || !firstShowDone_ || exitPending_)
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
        code = batchRunner_(state_, *ui_, BatchTaskArgument());
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
