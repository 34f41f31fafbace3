#include "kit/widgets.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace rd {

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption, const QColor& fontColor,
                        const QString& hint) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setFocusPolicy(Qt::StrongFocus);
    if (!hint.isEmpty())
        b->setToolTip(hint);
    SetFontColor(b, fontColor);
    return b;
}

QComboBox* MakeCombo(QWidget* parent, const QString& name, const QString& text, const QStringList& items,
                     const QString& hint, const QString& accessibleName) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setCompleter(nullptr);
    c->addItems(items);
    c->setEditText(text);
    if (!hint.isEmpty())
        c->setToolTip(hint);
    c->setAccessibleName(accessibleName.isEmpty() ? name : accessibleName);
    return c;
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& caption) {
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    return l;
}

void SetFontColor(QWidget* w, const QColor& c) {
    // The disabled look stays the style's, so that a disabled button still looks disabled.
    QPalette p = w->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(g, QPalette::ButtonText, c);
        p.setColor(g, QPalette::WindowText, c);
        p.setColor(g, QPalette::Text, c);
    }
    w->setPalette(p);
}

QColor FontColor(const QWidget* w) {
    return w->palette().color(QPalette::Active, QPalette::ButtonText);
}

} // namespace rd
