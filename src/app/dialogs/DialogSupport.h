#pragma once
// Pieces every dialog of the program shares: language texts as QString, the design
// font and the language font, placement over the main window, the masked password
// field.

#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

#include <initializer_list>
#include <span>
#include <string>
#include <utility>

class QDialog;
class QFont;
class QGroupBox;
class QLabel;
class QLineEdit;
class QObject;
class QStyle;
class QWidget;

namespace tessarin::dialogs {

// Where a control of a window stands inside its parent: left, top, width, height. A
// width of 0 marks a control that takes the size of its content. Each window keeps
// all its places in one table.
struct TPlace {
    const char* Name;
    int Left, Top, Width, Height;
};

// The row of name in a window's table; a missing row is a programming error.
const TPlace& PlaceOf(std::span<const TPlace> layout, const char* name);

// A control named as the table names it, at its place in its parent.
template <class W> W* Place(QWidget* parent, std::span<const TPlace> layout, const char* name)
{
    auto* widget = new W(parent);
    widget->setObjectName(QString::fromLatin1(name));
    const TPlace& place = PlaceOf(layout, name);
    if (place.Width > 0)
        widget->setGeometry(place.Left, place.Top, place.Width, place.Height);
    else
        widget->move(place.Left, place.Top);
    return widget;
}

// Text(section, key) as a QString (language texts are UTF-8).
QString LangText(const std::string& section, const std::string& key);

// The font the dialogs are laid out for: a sans-serif face 11 pixels high (8 points at
// 96 pixels per inch), so the fixed positions hold on every screen.
QFont DesignFont();

// The language's "Font" (at most its first 31 characters; empty keeps the design
// font) and "DefaultCharset", applied to a window each time it is shown. The
// character set has no meaning to Qt; it is kept as the window's "fontCharset"
// property. A value that is not a number keeps the default set 1.
void ApplyLanguageFont(QWidget& window);

// A fixed-size dialog with the given client area, a close box and no resize handle.
void MakeFixedDialog(QDialog& dialog, int clientWidth, int clientHeight);

// Group boxes as the fixed layouts expect them: the caption on the frame line and the
// contents right below the caption. This platform's styles put the caption above the
// frame and start the contents a line lower, under the controls placed there. The
// style is owned by `owner`.
void UseDesignGroupBox(QGroupBox& box, QObject& owner);

// Fields that stand after labels sized by their text: when a label of the given rows
// runs past the fields' design left edge, all of them start after the longest label
// and keep their right edge. A label that would leave a field too narrow is cut.
void KeepFieldsBesideLabels(std::span<const TPlace> layout,
                            std::initializer_list<std::pair<QLabel*, QWidget*>> rows);

// Centres the dialog over its parent's window, or over the screen without a parent.
void CenterOnParent(QWidget& dialog);

// Password fields: at most 80 characters, every character shown as '*'. The mask
// style is owned by `owner`.
constexpr int PasswordMaxLength = 80;
void SetupPasswordField(QLineEdit& edit, QObject& owner);

// Counts characters as the person sees them (code points, not UTF-16 units).
int CharacterCount(const QString& text);

} // namespace tessarin::dialogs
