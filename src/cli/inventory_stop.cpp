#include "cli/inventory_stop.h"

#include "cli/cli_commands.h"
#include "cli/stop_signals.h"

#include "protocol/protocol_text.h"

namespace rd::cli {

StopEnd StopInventory(Session& s, const std::function<bool(const std::string&)>& onAnswer) {
    using std::chrono::milliseconds;
    const int requestsSeen = StopRequests();
    const auto firstStop = Clock::now();
    const auto giveUp = firstStop + milliseconds(kStopGiveUpMs);
    auto nextStop = firstStop;
    bool confirmed = false;
    while (!confirmed) {
        if (Clock::now() >= nextStop) {
            if (nextStop >= giveUp)
                break;
            s.send(proto::EpcStop());
            // One stop a tick, as the window's timer: a late tick is not made up for.
            nextStop += milliseconds(kStopRetryMs);
            if (const auto now = Clock::now(); nextStop <= now)
                nextStop = now + milliseconds(kStopRetryMs);
        }
        const WaitEnd w = s.pump(
            nextStop,
            [&](const std::string& a) {
                confirmed = onAnswer(a);
                return !confirmed;
            },
            requestsSeen);
        if (w == WaitEnd::Lost)
            return StopEnd::Lost;
        if (w == WaitEnd::Interrupted) {
            s.note("interrupted again: stop abandoned");
            return StopEnd::Interrupted;
        }
    }
    if (confirmed)
        return StopEnd::Confirmed;
    s.note("EPC_STOP not confirmed after 3 s; stop abandoned");
    return StopEnd::GivenUp;
}

} // namespace rd::cli
