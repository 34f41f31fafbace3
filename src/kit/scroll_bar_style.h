// The scroll bars of a list that lines keep coming to are painted again at every update of
// the list, although what they show (the groove, the handle, the arrows) seldom changes in
// pixels once the list is long. Painted by the application's style, a scroll bar's groove is
// a gradient that the raster engine hands to its thread pool to fill, waking threads at
// every update. This style draws a scroll bar once per picture and then again from a
// pixmap while nothing that shows has changed; everything else is the application's style.
#pragma once

#include <QProxyStyle>

namespace rd {

class CachedScrollBarStyle : public QProxyStyle {
    Q_OBJECT
  public:
    // Draws as the application's style does (by its name, as at construction).
    CachedScrollBarStyle();

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;

    // The style to set on scroll bars: one for the application, made on first use.
    static QStyle* instance();
};

} // namespace rd
