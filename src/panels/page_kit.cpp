#include "page_kit.h"

#include <QLineEdit>

namespace rd::page {

QComboBox* Box(QWidget* parent, const QString& name, const QString& text, int chars, const QString& holds,
               const QStringList& items, const QString& hint, const QString& placeholder) {
    QComboBox* c = MakeCombo(parent, name, text, items, hint, holds);
    // A start text that is one of the items is the current item, so that the list opens and
    // the arrow keys move from there; the text itself stays as given.
    if (const int i = c->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive); i >= 0) {
        c->setCurrentIndex(i);
        c->setEditText(text);
    }
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    c->setMinimumContentsLength(chars);
    if (!placeholder.isEmpty())
        c->lineEdit()->setPlaceholderText(placeholder);
    return c;
}

QGridLayout* CompactGrid(QWidget* parent) {
    auto* g = new QGridLayout(parent);
    g->setContentsMargins(4, 4, 4, 4);
    g->setHorizontalSpacing(4);
    g->setVerticalSpacing(3);
    return g;
}

} // namespace rd::page
