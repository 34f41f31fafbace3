// The stop of an inventory run, as the window's run control does it: "EPC_STOP" now and
// every kStopRetryMs until the reader confirms it, given up kStopGiveUpMs after the first.
#pragma once

#include "cli/session.h"

#include <functional>
#include <string>

namespace rd::cli {

enum class StopEnd {
    Confirmed,
    GivenUp,     // no confirmation within the time (said)
    Interrupted, // a further stop request (Ctrl+C) abandoned it (said)
    Lost,        // the connection is lost
};

// Stops the run; every answer that comes meanwhile goes to onAnswer, which says whether it
// is the confirmation. A stop request beyond those made before the call gives the stop up.
StopEnd StopInventory(Session& s, const std::function<bool(const std::string&)>& onAnswer);

} // namespace rd::cli
