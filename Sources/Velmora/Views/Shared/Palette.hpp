#pragma once

// The few colours of their own the screens use, in one place, so that a destructive button, an
// error line and a warning are the same red everywhere. Everything else comes from the style's
// palette.

#include <QColor>

class QWidget;

namespace velmora::colours {

// Destructive actions, error lines, warnings.
inline const QColor destructive{0xC0, 0x28, 0x1E};
// Paid, done.
inline const QColor positive{0x2E, 0x9E, 0x4F};
// Waiting for something: an unpaid order, an empty list's symbol.
inline const QColor attention{0xE0, 0x7A, 0x10};

// Paints the text of `widget` (a button's label or a label's text) in `colour`.
void paintText(QWidget& widget, const QColor& colour);
// Paints the label of a destructive button in the destructive red.
inline void makeDestructive(QWidget& button) {
    paintText(button, destructive);
}

} // namespace velmora::colours
