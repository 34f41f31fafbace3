// Small constructors for the window's controls, so that every page makes its buttons,
// boxes and labels the same way: objectName, caption, hint and accessible name set.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QPushButton;
class QWidget;

namespace rd {

// The status colours.
namespace colors {
inline QColor green() {
    return QColor(0, 128, 0);
}
inline QColor red() {
    return QColor(255, 0, 0);
}
inline QColor black() {
    return QColor(0, 0, 0);
}
inline QColor blue() {
    return QColor(0, 0, 255);
}
} // namespace colors

// A push button; its caption is also its accessible name. The hint becomes its tooltip.
QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption,
                        const QColor& fontColor = colors::black(), const QString& hint = QString());

// An editable drop-down list. Its text is used exactly as typed: no completion, no
// insertion of typed texts into the items. accessibleName says what the box holds
// (the object name when empty).
QComboBox* MakeCombo(QWidget* parent, const QString& name, const QString& text,
                     const QStringList& items = QStringList(), const QString& hint = QString(),
                     const QString& accessibleName = QString());

// A label; assistive technology reads it by its text, which changes as the label shows values.
QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& caption);

// The font (caption) colour of a button or label.
void SetFontColor(QWidget* w, const QColor& c);
QColor FontColor(const QWidget* w);

} // namespace rd
