#include "kit/page_control.h"

#include <QEvent>
#include <QTabBar>

namespace rd {

PageControl::PageControl(QWidget* parent) : QTabWidget(parent) {}

PageControl::Frame PageControl::frame() const {
    const QWidget* left = cornerWidget(Qt::TopLeftCorner);
    const QWidget* right = cornerWidget(Qt::TopRightCorner);
    return Frame{size(),
                 tabBar()->isVisibleTo(this) ? tabBar()->sizeHint() : QSize(),
                 left && left->isVisibleTo(this) ? left->sizeHint() : QSize(),
                 right && right->isVisibleTo(this) ? right->sizeHint() : QSize(),
                 count(),
                 currentIndex()};
}

bool PageControl::event(QEvent* e) {
    if (e->type() == QEvent::LayoutRequest && isVisible()) {
        const Frame now = frame();
        if (laidOut_ == now) {
            updateGeometry();
            return true;
        }
        laidOut_ = now;
    }
    return QTabWidget::event(e);
}

} // namespace rd
