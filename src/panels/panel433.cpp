#include "panel433.h"

namespace rd {

Panel433::Panel433(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheet433"));
}

void Panel433::attachToWindow() {}

} // namespace rd
