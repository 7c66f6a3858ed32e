#include "app/dialogs/UnknownFilesDialog.h"

#include "app/ControlNames.h"
#include "app/dialogs/DialogSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>

namespace tessarin {

using namespace dialogs;

namespace {

constexpr int NameRole = Qt::UserRole;
constexpr int FolderRole = Qt::UserRole + 1;
const std::string MarkedText = "true";
const std::string UnmarkedText = "false";

} // namespace

namespace {
namespace dialog = names::unknownFiles;

// Every control of the dialog and where it stands.
constexpr TPlace Layout[] = {
    {dialog::Description, 8, 8, 228, 35}, {dialog::List, 8, 49, 228, 208},
    {dialog::SelectAll, 8, 263, 228, 17}, {dialog::Ok, 72, 286, 75, 25},
    {dialog::Cancel, 161, 286, 75, 25},
};

} // namespace

TUnknowFilesFM::TUnknowFilesFM(QWidget* parent) : QDialog(parent)
{
    setObjectName(QLatin1String(dialog::Window));
    MakeFixedDialog(*this, 244, 327);

    DescriptionLB = Place<QLabel>(this, Layout, dialog::Description);
    DescriptionLB->setWordWrap(true);
    DescriptionLB->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    UnknowFilesCLB = Place<QListWidget>(this, Layout, dialog::List);
    UnknowFilesCLB->setSelectionMode(QAbstractItemView::SingleSelection);

    SelectAllCB = Place<QCheckBox>(this, Layout, dialog::SelectAll);
    SelectAllCB->setChecked(true);

    OkBT = Place<QPushButton>(this, Layout, dialog::Ok);
    OkBT->setDefault(true);

    CancelBT = Place<QPushButton>(this, Layout, dialog::Cancel);

    connect(SelectAllCB, &QCheckBox::toggled, this, &TUnknowFilesFM::SetAllMarks);
    connect(OkBT, &QPushButton::clicked, this, &TUnknowFilesFM::accept);
    connect(CancelBT, &QPushButton::clicked, this, &TUnknowFilesFM::reject);
}

QString TUnknowFilesFM::LineText(const TUnknowItem& item)
{
    const QString name = QString::fromStdString(item.GetName());
    if (!item.IsFolder())
        return name;
    return name + QStringLiteral(" (") + LangText("Tessarin14", "LANG_DIRECTORY") +
           QStringLiteral(")");
}

void TUnknowFilesFM::SetItems(const std::vector<TUnknowItem>& items)
{
    UnknowFilesCLB->clear();
    for (const TUnknowItem& item : items) {
        auto* line = new QListWidgetItem(LineText(item), UnknowFilesCLB);
        line->setData(NameRole, QString::fromStdString(item.GetName()));
        line->setData(FolderRole, item.IsFolder());
        line->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        line->setCheckState(Qt::Checked);
    }
    SelectAllCB->setChecked(true);
    ResetStoredMarks();
    SetAllMarks(true);
}

int TUnknowFilesFM::ItemCount() const
{
    return UnknowFilesCLB->count();
}

bool TUnknowFilesFM::Run()
{
    return exec() == QDialog::Accepted;
}

std::vector<TUnknowItem> TUnknowFilesFM::CheckedItems() const
{
    std::vector<TUnknowItem> checked;
    for (int i = 0; i < UnknowFilesCLB->count(); ++i) {
        const QListWidgetItem* line = UnknowFilesCLB->item(i);
        if (line->checkState() == Qt::Checked)
            checked.emplace_back(line->data(NameRole).toString().toStdString(),
                                 line->data(FolderRole).toBool());
    }
    return checked;
}

std::vector<std::string> TUnknowFilesFM::CheckedNames() const
{
    std::vector<std::string> names;
    for (const TUnknowItem& item : CheckedItems())
        names.push_back(item.GetName());
    return names;
}

void TUnknowFilesFM::ResetStoredMarks()
{
    storedMarks_.reset();
}

void TUnknowFilesFM::accept()
{
    storedMarks_ = CurrentMarks();
    storedSelectAll_ = SelectAllCB->isChecked();
    QDialog::accept();
}

void TUnknowFilesFM::reject()
{
    // Cancel, Escape and the close box take nothing over: the lines go back to the
    // marks last confirmed at once, so a run started next reads those and not the
    // changes the person threw away.
    if (storedMarks_) {
        const QSignalBlocker blocker(SelectAllCB);
        SelectAllCB->setChecked(storedSelectAll_);
        PutMarks(*storedMarks_);
    }
    QDialog::reject();
}

void TUnknowFilesFM::showEvent(QShowEvent* event)
{
    if (!event->spontaneous())
        Prepare();
    QDialog::showEvent(event);
}

void TUnknowFilesFM::Prepare()
{
    setWindowTitle(LangText("Tessarin14", "LANG_UNKNOW_FILES"));
    DescriptionLB->setText(LangText("Tessarin14", "LANG_UNKNOW_FILES_DESC"));
    SelectAllCB->setText(LangText("Tessarin14", "LANG_SEL_DESEL_ALL"));
    OkBT->setText(LangText("TForm1", "LANG_BUTTON_OK"));
    CancelBT->setText(LangText("TForm1", "LANG_BUTTON_2"));
    ApplyLanguageFont(*this);

    if (storedMarks_ && storedMarks_->size() == static_cast<std::size_t>(ItemCount())) {
        PutMarks(*storedMarks_);
    } else {
        storedMarks_ = CurrentMarks();
        storedSelectAll_ = SelectAllCB->isChecked();
    }
    CenterOnParent(*this);
    UnknowFilesCLB->setFocus();
}

void TUnknowFilesFM::SetAllMarks(bool marked)
{
    for (int i = 0; i < UnknowFilesCLB->count(); ++i)
        UnknowFilesCLB->item(i)->setCheckState(marked ? Qt::Checked : Qt::Unchecked);
}

std::vector<std::string> TUnknowFilesFM::CurrentMarks() const
{
    std::vector<std::string> marks;
    marks.reserve(static_cast<std::size_t>(UnknowFilesCLB->count()));
    for (int i = 0; i < UnknowFilesCLB->count(); ++i)
        marks.push_back(UnknowFilesCLB->item(i)->checkState() == Qt::Checked ? MarkedText
                                                                             : UnmarkedText);
    return marks;
}

void TUnknowFilesFM::PutMarks(const std::vector<std::string>& marks)
{
    for (int i = 0; i < UnknowFilesCLB->count(); ++i) {
        const bool marked = static_cast<std::size_t>(i) < marks.size() && marks[i] == MarkedText;
        UnknowFilesCLB->item(i)->setCheckState(marked ? Qt::Checked : Qt::Unchecked);
    }
}

} // namespace tessarin
