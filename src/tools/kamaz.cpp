#include "kamaz.h"

namespace rd {

KamazPage::KamazPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheetKAMAZ"));
}

void KamazPage::attachToWindow() {}

} // namespace rd
