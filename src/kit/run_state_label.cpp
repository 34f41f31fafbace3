#include "kit/run_state_label.h"

#include "kit/widgets.h"

#include <QBoxLayout>
#include <QGridLayout>

#include <algorithm>

namespace rd {

QString RunStateText(RunState s) {
    switch (s) {
    case RunState::Running:
        return QStringLiteral("Inventory: running");
    case RunState::Stopping:
        return QStringLiteral("Inventory: stopping…");
    case RunState::Interrupted:
        return QStringLiteral("Inventory: interrupted (connection lost)");
    case RunState::StopNotConfirmed:
        return QStringLiteral("Inventory: stop not confirmed");
    case RunState::Stopped:
        break;
    }
    return QStringLiteral("Inventory: stopped");
}

RunStateLabel::RunStateLabel(QWidget* parent) : QLabel(RunStateText(RunState::Stopped), parent) {
    setObjectName(QStringLiteral("LabelRUN_STATE"));
    setAccessibleName(QStringLiteral("inventory run state"));
    setAccessibleDescription(text());
    // As wide as its longest text, so that a change of state never moves the page.
    int w = 0;
    for (RunState s : {RunState::Stopped, RunState::Running, RunState::Stopping, RunState::Interrupted,
                       RunState::StopNotConfirmed})
        w = std::max(w, fontMetrics().horizontalAdvance(RunStateText(s)));
    setMinimumWidth(w + 2 * margin() + 2);
}

void RunStateLabel::setState(RunState s) {
    state_ = s;
    setText(RunStateText(s));
    // The name says what the label is; the description what it shows (the widget tells
    // assistive technology of the change).
    setAccessibleDescription(text());
    const bool trouble = s == RunState::Interrupted || s == RunState::StopNotConfirmed;
    SetFontColor(this, s == RunState::Running ? colors::green() : trouble ? colors::red() : colors::black());
}

RunStateLabel* RunStateLabel::addTo(QWidget* page) {
    auto* label = new RunStateLabel(page);
    auto below = [label](QGridLayout* grid) {
        grid->addWidget(label, grid->rowCount(), 0, 1, std::max(1, grid->columnCount()), Qt::AlignRight);
    };
    if (auto* grid = qobject_cast<QGridLayout*>(page->layout())) {
        below(grid);
    } else if (auto* box = qobject_cast<QBoxLayout*>(page->layout())) {
        // A row of columns: below its last column that is a grid as wide as the label's longest
        // text, else below its last grid, so that the row keeps its width where it can.
        QGridLayout* last = nullptr;
        for (int i = box->count() - 1; i >= 0; --i) {
            if (auto* column = qobject_cast<QGridLayout*>(box->itemAt(i)->layout())) {
                if (!last)
                    last = column;
                if (column->minimumSize().width() >= label->minimumWidth()) {
                    below(column);
                    return label;
                }
            }
        }
        if (last) {
            below(last);
            return label;
        }
        box->addWidget(label, 0, Qt::AlignRight | Qt::AlignBottom);
    }
    return label;
}

} // namespace rd
