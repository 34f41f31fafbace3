// The inventory run state as a page shows it: one small label per page, all set by the
// window from one place.
#pragma once

#include <QLabel>
#include <QString>

namespace rd {

// Interrupted: the connection was lost during a run (or its stop); StopNotConfirmed: the stop's
// retries ended without the reader's "STOP_INVENTORY". Both hold until the next start (the
// latter also ends on a late "STOP_INVENTORY").
enum class RunState { Stopped, Running, Stopping, Interrupted, StopNotConfirmed };

// "Inventory: running", "Inventory: stopping…", "Inventory: stopped",
// "Inventory: interrupted (connection lost)" or "Inventory: stop not confirmed".
QString RunStateText(RunState s);

class RunStateLabel : public QLabel {
    Q_OBJECT
  public:
    // Starts as stopped. Every instance carries the objectName "LabelRUN_STATE"; its accessible
    // description is the text shown, kept with it, so that assistive technology reads it.
    explicit RunStateLabel(QWidget* parent = nullptr);
    void setState(RunState s);
    RunState state() const { return state_; }

    // Makes a label for page and puts it below the page's controls, at the right (a grid
    // gets a row of its own; a row of columns gets it below its last grid column).
    static RunStateLabel* addTo(QWidget* page);

  private:
    RunState state_ = RunState::Stopped;
};

} // namespace rd
