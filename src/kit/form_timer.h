// A window timer with the toolkit semantics the handlers rely on: assigning the
// interval or the enabled state a timer already has leaves its countdown alone.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace rd {

class FormTimer : public QObject {
    Q_OBJECT
  public:
    FormTimer(const QString& objectName, int intervalMs, bool enabled, QObject* parent = nullptr);

    void setInterval(int ms);
    int interval() const { return interval_; }
    void setEnabled(bool on);
    bool enabled() const { return enabled_; }
    // Milliseconds until the next tick, -1 when the timer is off.
    int remainingTime() const { return timer_.remainingTime(); }

    // The tick handler; runs inside the window's error handling.
    void onTimer(std::function<void()> handler) { handler_ = std::move(handler); }
    // Runs the handler as a tick would (tests). A tick that comes while the handler is
    // still running (from an event loop the handler opened) is skipped.
    void fire();

  private:
    QTimer timer_;
    int interval_;
    bool enabled_;
    bool inTick_ = false;
    std::function<void()> handler_;
};

} // namespace rd
