// Building blocks shared by the command pages: compact rows of buttons and boxes.
#pragma once

#include "widgets.h"

#include <QComboBox>
#include <QGridLayout>
#include <QPushButton>

namespace rd::page {

// An editable box, `chars` characters wide, with its hint, placeholder and a name that
// says what it holds.
QComboBox* Box(QWidget* parent, const QString& name, const QString& text, int chars, const QString& holds,
               const QStringList& items = QStringList(), const QString& hint = QString(),
               const QString& placeholder = QString());

// A grid with the small margins and spacing of the pages (they share 870 x 264 pixels).
QGridLayout* CompactGrid(QWidget* parent);

} // namespace rd::page
