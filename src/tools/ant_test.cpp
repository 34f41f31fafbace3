#include "ant_test.h"

namespace rd {

AntTestPage::AntTestPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheet_ANT_TEST"));
}

void AntTestPage::attachToWindow() {}

void AntTestPage::AntTestAnswer(const QString&) {}

} // namespace rd
