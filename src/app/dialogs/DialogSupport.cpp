#include "app/dialogs/DialogSupport.h"

#include <cstring>
#include <stdexcept>

#include "config/L10n.h"

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>
#include <QVariant>

#include <algorithm>
#include <exception>

namespace tessarin::dialogs {

const TPlace& PlaceOf(std::span<const TPlace> layout, const char* name)
{
    for (const TPlace& place : layout)
        if (std::strcmp(place.Name, name) == 0)
            return place;
    throw std::logic_error(std::string("no place for ") + name);
}

namespace {

constexpr int DefaultCharset = 1;

// Qt draws password characters with the style's own glyph; this style makes it '*'
// and shows no typed character even briefly.
class TMaskStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        if (hint == SH_LineEdit_PasswordMaskDelay)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Draws and measures group boxes as the common style does (caption on the frame line,
// an etched frame like the window's other frames); everything else as the program's
// style.
class TGroupBoxStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_GroupBox_TextLabelVerticalAlignment)
            return Qt::AlignVCenter;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

    // The QCommonStyle calls below skip the proxy on purpose: that is the drawing wanted.
    // NOLINTBEGIN(bugprone-parent-virtual-call)
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl sub, const QWidget* widget) const override
    {
        if (control == CC_GroupBox)
            return QCommonStyle::subControlRect(control, option, sub, widget);
        return QProxyStyle::subControlRect(control, option, sub, widget);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override
    {
        if (control == CC_GroupBox)
            QCommonStyle::drawComplexControl(control, option, painter, widget);
        else
            QProxyStyle::drawComplexControl(control, option, painter, widget);
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        if (element == PE_FrameGroupBox)
            QCommonStyle::drawPrimitive(element, option, painter, widget);
        else
            QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
    // NOLINTEND(bugprone-parent-virtual-call)
};

// One style of the kind per owner. Built on the style the rest of the program uses, so
// the controls look the same.
template <class TStyle> QStyle* StyleOf(QObject& owner, const char* name)
{
    if (auto* existing = owner.findChild<QStyle*>(name, Qt::FindDirectChildrenOnly))
        return existing;
    QStyle* base = QStyleFactory::create(QApplication::style()->name());
    auto* style = new TStyle(base);
    style->setObjectName(name);
    style->setParent(&owner);
    return style;
}

// Between a label and the field after it.
constexpr int LabelGap = 4;
// Narrower than this a field shows too little of what is typed into it.
constexpr int MinimumFieldWidth = 64;

} // namespace

QString LangText(const std::string& section, const std::string& key)
{
    return QString::fromStdString(Text(section, key));
}

QFont DesignFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                      QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

void ApplyLanguageFont(QWidget& window)
{
    const Tl10n& language = Language();
    QFont font = DesignFont();
    const std::string name = language.GetUsableFontName();
    if (!name.empty()) {
        // In front of the design faces, which take over when it is not installed.
        QStringList families = font.families();
        families.prepend(QString::fromStdString(name));
        font.setFamilies(families);
    }
    window.setFont(font);

    int charset = DefaultCharset;
    try {
        charset = language.GetFontCharset();
    } catch (const std::exception&) {
        // A broken number in the language file must not keep a dialog from opening.
    }
    window.setProperty("fontCharset", charset);
}

void MakeFixedDialog(QDialog& dialog, int clientWidth, int clientHeight)
{
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint);
    dialog.setFixedSize(clientWidth, clientHeight);
    dialog.setSizeGripEnabled(false);
    dialog.setFont(DesignFont());
}

void CenterOnParent(QWidget& dialog)
{
    QRect area;
    if (QWidget* parent = dialog.parentWidget())
        area = parent->window()->frameGeometry();
    else if (QScreen* screen = dialog.screen())
        area = screen->availableGeometry();
    else
        return;
    dialog.move(area.x() + (area.width() - dialog.width()) / 2,
                area.y() + (area.height() - dialog.height()) / 2);
}

void UseDesignGroupBox(QGroupBox& box, QObject& owner)
{
    box.setStyle(StyleOf<TGroupBoxStyle>(owner, "tessarinGroupBox"));
}

void KeepFieldsBesideLabels(std::span<const TPlace> layout,
                            std::initializer_list<std::pair<QLabel*, QWidget*>> rows)
{
    int labelsEnd = 0;
    for (const auto& [label, field] : rows)
        labelsEnd = std::max(labelsEnd, label->x() + label->width() + LabelGap);
    for (const auto& [label, field] : rows) {
        const TPlace& place = PlaceOf(layout, field->objectName().toLatin1().constData());
        const int right = place.Left + place.Width;
        const int fieldLeft = std::min(std::max(place.Left, labelsEnd), right - MinimumFieldWidth);
        field->setGeometry(fieldLeft, place.Top, right - fieldLeft, place.Height);
        if (label->x() + label->width() + LabelGap > fieldLeft)
            label->resize(fieldLeft - LabelGap - label->x(), label->height());
    }
}

void SetupPasswordField(QLineEdit& edit, QObject& owner)
{
    edit.setStyle(StyleOf<TMaskStyle>(owner, "tessarinPasswordMask"));
    edit.setEchoMode(QLineEdit::Password);
    edit.setMaxLength(PasswordMaxLength);
}

int CharacterCount(const QString& text)
{
    return static_cast<int>(text.toUcs4().size());
}

} // namespace tessarin::dialogs
