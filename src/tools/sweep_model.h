// The attenuation sweep of the SWEEP page without widgets: the page's boxes read and
// checked, the commands of each step composed as the 900 MHz page composes them, and the
// texts the page and the status bar show. The steps and the counts are the Sweep's
// (link/sweep.h), which readerdesk-cli drives as well.
#pragma once

#include "link/sweep.h"

#include <QString>
#include <QStringList>

namespace rd {

class SweepModel {
  public:
    // What the page does after a call.
    struct Outcome {
        // Send these commands in order (SET_ATT_OUT and the inventory start of a step).
        QString setAttOut;
        bool startInventory = false;
        bool stopInventory = false; // stop the inventory run; stopEnded() when it has ended
        bool counted = false;       // a read or a cycle was counted: the results changed
        bool stateChanged = false;  // a step began or the sweep ended
    };

    // START with the texts of the steps box and the cycles box. Bad texts raise AppError
    // naming the box; nothing changes then.
    Outcome start(const QString& stepsText, const QString& cyclesText);
    Outcome answer(const QString& answer);
    Outcome stopEnded(bool confirmed);
    // STOP: the sweep ends now; its inventory is stopped if one runs.
    Outcome cancel();
    // The connection was lost or ended: the sweep fails there.
    Outcome connectionEnded();

    const Sweep& sweep() const { return sweep_; }
    bool active() const { return sweep_.active(); }

    // "step 4 of 11, 10 dB" while a sweep runs; "" before the first.
    QString progressText() const;
    // The sweep's state for the status bar and the page: "sweep: step 4 of 11, 10 dB",
    // "sweep done: 11 steps, 3 tags", "sweep stopped at step 4 of 11, 10 dB", "sweep failed:
    // <why>"; "" before the first.
    QString stateText() const;
    // A step's column caption, "10 dB".
    QString stepCaption(int step) const;
    QStringList csvLines() const;

  private:
    Outcome act(Sweep::Do d);

    Sweep sweep_;
    QString failure_; // a failure the Sweep does not know of (the connection lost)
};

} // namespace rd
