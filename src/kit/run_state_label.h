// The inventory run state as a page shows it: one small label per page, all set by the
// window from one place.
#pragma once

#include <QLabel>
#include <QString>

namespace rd {

enum class RunState { Stopped, Running, Stopping };

// "Inventory: running", "Inventory: stopping…" or "Inventory: stopped".
QString RunStateText(RunState s);

class RunStateLabel : public QLabel {
    Q_OBJECT
  public:
    // Starts as stopped. Every instance carries the objectName "LabelRUN_STATE".
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
