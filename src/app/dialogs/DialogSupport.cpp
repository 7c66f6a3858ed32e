#include "app/dialogs/DialogSupport.h"

#include <cstring>
#include <stdexcept>

#include "config/L10n.h"

#include <QApplication>
#include <QDialog>
#include <QFont>
#include <QLineEdit>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>
#include <QVariant>

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

QStyle* MaskStyleOf(QObject& owner)
{
    static const char* const name = "tessarinPasswordMask";
    if (auto* existing = owner.findChild<QStyle*>(name, Qt::FindDirectChildrenOnly))
        return existing;
    // Build on the style the rest of the program uses, so the fields look the same.
    QStyle* base = QStyleFactory::create(QApplication::style()->name());
    auto* style = new TMaskStyle(base);
    style->setObjectName(name);
    style->setParent(&owner);
    return style;
}

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

void SetupPasswordField(QLineEdit& edit, QObject& owner)
{
    edit.setStyle(MaskStyleOf(owner));
    edit.setEchoMode(QLineEdit::Password);
    edit.setMaxLength(PasswordMaxLength);
}

int CharacterCount(const QString& text)
{
    return static_cast<int>(text.toUcs4().size());
}

} // namespace tessarin::dialogs
