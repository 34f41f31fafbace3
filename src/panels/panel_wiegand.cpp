#include "panel_wiegand.h"

namespace rd {

PanelWiegand::PanelWiegand(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheetWG"));
}

void PanelWiegand::attachToWindow() {}

} // namespace rd
