#include "panel900.h"

namespace rd {

Panel900::Panel900(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheet900"));
}

PanelAlpha::PanelAlpha(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheetALPHA"));
}

void PanelAlpha::attachToWindow() {}

void Panel900::attachToWindow() {}

} // namespace rd
