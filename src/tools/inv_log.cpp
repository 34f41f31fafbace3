#include "inv_log.h"

namespace rd {

InvLogPage::InvLogPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheetLOG"));
}

void InvLogPage::attachToWindow() {}

void InvLogPage::InvLogAnswer(const QString&) {}

} // namespace rd
