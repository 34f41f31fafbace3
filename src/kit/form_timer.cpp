#include "kit/form_timer.h"

#include "kit/errors.h"

namespace rd {

FormTimer::FormTimer(const QString& objectName, int intervalMs, bool enabled, QObject* parent)
    : QObject(parent), interval_(intervalMs), enabled_(enabled) {
    setObjectName(objectName);
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(interval_);
    connect(&timer_, &QTimer::timeout, this, &FormTimer::fire);
    if (enabled_)
        timer_.start();
}

void FormTimer::setInterval(int ms) {
    if (ms == interval_)
        return;
    interval_ = ms;
    timer_.setInterval(ms); // restarts the countdown of a running timer, as a new value should
}

void FormTimer::setEnabled(bool on) {
    if (on == enabled_)
        return;
    enabled_ = on;
    if (on)
        timer_.start(interval_);
    else
        timer_.stop();
}

void FormTimer::fire() {
    // A tick whose handler is still open (showing an error in a message box, whose own
    // event loop keeps the timers running) is not entered again: otherwise a handler that
    // fails at every tick would stack one box on the other until the stack runs out.
    if (inTick_)
        return;
    inTick_ = true;
    RunGuarded(handler_);
    inTick_ = false;
}

} // namespace rd
