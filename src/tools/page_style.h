// Fonts and small layout helpers shared by the tool pages.
#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

namespace rd {

// Font of a caption or text box: an optional family, a character height in pixels, bold or not.
inline void SetPageFont(QWidget* w, const QString& family, int pixelHeight, bool bold) {
    QFont f = w->font();
    if (!family.isEmpty())
        f.setFamily(family);
    if (pixelHeight > 0)
        f.setPixelSize(pixelHeight);
    f.setBold(bold);
    w->setFont(f);
}

} // namespace rd
