#include "panels/page_kit.h"

#include "kit/errors.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

namespace rd::page {

namespace {

QComboBox* MakeBox(QWidget* parent, const Control& b) {
    QComboBox* c = MakeCombo(parent, b.name, b.text, b.list, b.tip, b.holds);
    // A start text that is one of the items is the current item, so that the list opens and
    // the arrow keys move from there; the text itself stays as given.
    if (const int i = c->findText(b.text, Qt::MatchFixedString | Qt::MatchCaseSensitive); i >= 0) {
        c->setCurrentIndex(i);
        c->setEditText(b.text);
    }
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    c->setMinimumContentsLength(b.chars);
    if (!b.placeholderText.isEmpty())
        c->lineEdit()->setPlaceholderText(b.placeholderText);
    return c;
}

QCheckBox* MakeCheck(QWidget* parent, const Control& c) {
    auto* check = new QCheckBox(c.text, parent);
    check->setObjectName(c.name);
    check->setAccessibleName(c.text);
    if (!c.tip.isEmpty())
        check->setToolTip(c.tip);
    check->setChecked(false);
    return check;
}

// Makes the control on the page and keeps it in its field; nullptr for a stretch.
QWidget* Make(QWidget* page, const Control& c) {
    switch (c.kind) {
    case Control::Kind::Button: {
        QPushButton* b = MakeButton(page, c.name, c.text, colors::black(), c.tip);
        if (c.keptButton)
            *c.keptButton = b;
        if (c.click)
            OnClick(b, [page, click = c.click] { click(page); });
        return b;
    }
    case Control::Kind::Box: {
        QComboBox* box = MakeBox(page, c);
        *c.keptBox = box;
        return box;
    }
    case Control::Kind::Check: {
        QCheckBox* check = MakeCheck(page, c);
        *c.keptCheck = check;
        return check;
    }
    case Control::Kind::Stretch:
        break;
    }
    return nullptr;
}

} // namespace

Control Control::hint(const QString& tooltip) const {
    Control c = *this;
    c.tip = tooltip;
    return c;
}

Control Control::items(const QStringList& texts) const {
    Control c = *this;
    c.list = texts;
    return c;
}

Control Control::placeholder(const QString& text) const {
    Control c = *this;
    c.placeholderText = text;
    return c;
}

Control Control::keep(QPushButton** field) const {
    Control c = *this;
    c.keptButton = field;
    return c;
}

Control Box(QComboBox** field, const QString& name, const QString& text, int chars, const QString& holds) {
    Control c;
    c.kind = Control::Kind::Box;
    c.name = name;
    c.text = text;
    c.chars = chars;
    c.holds = holds;
    c.keptBox = field;
    return c;
}

Control Check(QCheckBox** field, const QString& name, const QString& caption) {
    Control c;
    c.kind = Control::Kind::Check;
    c.name = name;
    c.text = caption;
    c.keptCheck = field;
    return c;
}

Control Stretch() {
    return Control();
}

void Fill(QWidget* page, QGridLayout* grid, std::initializer_list<Cell> table) {
    for (const Cell& cell : table) {
        if (!cell.strip) {
            grid->addWidget(Make(page, cell.controls.front()), cell.row, cell.column, cell.rowSpan,
                            cell.columnSpan);
            continue;
        }
        auto* strip = new QHBoxLayout;
        strip->setSpacing(4);
        for (const Control& c : cell.controls) {
            if (QWidget* w = Make(page, c))
                strip->addWidget(w);
            else
                strip->addStretch(1);
        }
        grid->addLayout(strip, cell.row, cell.column, cell.rowSpan, cell.columnSpan);
    }
}

QGridLayout* CompactGrid(QWidget* parent) {
    auto* g = new QGridLayout(parent);
    g->setContentsMargins(4, 4, 4, 4);
    g->setHorizontalSpacing(4);
    g->setVerticalSpacing(3);
    return g;
}

} // namespace rd::page
