// A tab widget that is not laid out and repainted whole when one of its pages only asks for a
// new layout.
//
// A QLabel asks for a new geometry at every text change, and every layout passes such a request
// on to the widget that holds it, so a request comes up from a page whenever a figure on it
// changes. QTabWidget answers each one by laying out its tab bar and pages again and repainting
// itself whole: with figures refreshed ten times a second, the whole window ten times a second.
// This one lays itself out again only when something it places has changed (the tab bar, the
// corner widgets, its own size); otherwise it only passes on that its size hints may have
// changed, as QTabWidget does too.
#pragma once

#include <QSize>
#include <QTabWidget>

#include <optional>

namespace rd {

class PageControl : public QTabWidget {
    Q_OBJECT
  public:
    explicit PageControl(QWidget* parent = nullptr);

  protected:
    bool event(QEvent* e) override;

  private:
    // What the tab widget's own layout depends on.
    struct Frame {
        QSize size;
        QSize tabBar;
        QSize leftCorner;
        QSize rightCorner;
        int tabs = 0;
        int current = -1;
        bool operator==(const Frame&) const = default;
    };
    Frame frame() const;

    std::optional<Frame> laidOut_;
};

} // namespace rd
