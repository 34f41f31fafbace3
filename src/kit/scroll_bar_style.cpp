#include "kit/scroll_bar_style.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QPointer>
#include <QStyleFactory>
#include <QStyleOptionSlider>

namespace rd {

CachedScrollBarStyle::CachedScrollBarStyle()
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

QStyle* CachedScrollBarStyle::instance() {
    static QPointer<CachedScrollBarStyle> style;
    if (!style) {
        style = new CachedScrollBarStyle;
        style->setParent(qApp);
    }
    return style;
}

void CachedScrollBarStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                              QPainter* painter, const QWidget* widget) const {
    const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
    if (control != CC_ScrollBar || !bar || option->rect.isEmpty() || !painter->device()) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    // Everything that decides the picture: its size, the handle's place, the states and
    // the colours.
    const qreal dpr = painter->device()->devicePixelRatioF();
    const QRect handle =
        subControlRect(control, option, SC_ScrollBarSlider, widget).translated(-option->rect.topLeft());
    const QString key =
        QStringLiteral("rd-scroll-bar:%1:%2x%3:%4,%5,%6x%7:%8:%9:%10:%11:%12:%13:%14:%15")
            .arg(baseStyle()->name())
            .arg(option->rect.width())
            .arg(option->rect.height())
            .arg(handle.x())
            .arg(handle.y())
            .arg(handle.width())
            .arg(handle.height())
            .arg(int(bar->orientation))
            .arg(int(option->state))
            .arg(int(option->subControls))
            .arg(int(option->activeSubControls))
            .arg(int(bar->sliderValue <= bar->minimum) | int(bar->sliderValue >= bar->maximum) << 1)
            .arg(option->palette.cacheKey())
            .arg(int(option->direction))
            .arg(dpr);
    QPixmap picture;
    if (!QPixmapCache::find(key, &picture)) {
        picture = QPixmap(option->rect.size() * dpr);
        picture.setDevicePixelRatio(dpr);
        picture.fill(option->palette.color(QPalette::Window));
        QStyleOptionSlider at(*bar);
        at.rect.moveTo(0, 0);
        QPainter p(&picture);
        QProxyStyle::drawComplexControl(control, &at, &p, widget);
        p.end();
        QPixmapCache::insert(key, picture);
    }
    painter->drawPixmap(option->rect.topLeft(), picture);
}

} // namespace rd
