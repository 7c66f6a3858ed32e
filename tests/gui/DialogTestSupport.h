#pragma once
// Finding and driving the controls of a dialog in the dialog tests.

#include "app/ControlNames.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QWidget>
#include <QtTest>

namespace tessarin::test {

template <class T> T* Control(QWidget& dialog, const char* name)
{
    T* control = dialog.findChild<T*>(QString::fromLatin1(name));
    if (control == nullptr)
        qFatal("control %s missing", name);
    return control;
}

inline void ShowAndWait(QWidget& dialog)
{
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
}

inline void Click(QWidget& dialog, const char* button)
{
    auto* control = Control<QAbstractButton>(dialog, button);
    // A check box only reacts on its mark and text; its middle may be empty space.
    const QPoint at = qobject_cast<QCheckBox*>(control) ? QPoint(6, control->height() / 2)
                                                        : control->rect().center();
    QTest::mouseClick(control, Qt::LeftButton, {}, at);
}

} // namespace tessarin::test
