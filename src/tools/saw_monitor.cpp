#include "saw_monitor.h"

namespace rd {

SawMonitorPage::SawMonitorPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheetZEZ2011"));
}

void SawMonitorPage::attachToWindow() {}

void SawMonitorPage::SawAnswer(const QString&) {}

} // namespace rd
