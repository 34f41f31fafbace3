// The status bar: what the connection, the run and the traffic log are, on every page.
#include "app/window/main_window.h"

#include "kit/widgets.h"

namespace rd {

namespace {

// How often the reads of a run are shown anew.
constexpr int64_t kRateEveryMs = 250;

} // namespace

void TFormQUOR::showLinkStatus() {
    if (link_ && link_->lost()) {
        const QString port = QString::fromStdString(link_->port());
        statusBar_->showLink(link_->gaveUp() ? port + QStringLiteral(": another client holds it — press NET")
                                             : link_status::lost(link_->port()),
                             true);
    } else if (connected()) {
        const ReaderRow* row = link_->manual() ? nullptr : link_->row();
        statusBar_->showLink(link_status::connected(link_->port(), row ? row->identifier : ""), false);
    } else {
        statusBar_->showLink(link_status::notConnected(), false);
    }
}

void TFormQUOR::showRunStatus() {
    // The pages' indicators say what the run state is; the status bar says the same.
    const RunStateLabel* shown = runStateLabels_.front();
    statusBar_->showRunState(shown->text(), FontColor(shown));
    const bool during = runState_ == RunState::Running || runState_ == RunState::Stopping;
    if (during && !tallying_) {
        runTally_.start();
        tallying_ = true;
        rateShownMs_ = -1;
        showRateStatus();
    } else if (!during && tallying_) {
        tallying_ = false;
        statusBar_->hideRate();
    }
}

void TFormQUOR::showRateStatus() {
    if (!tallying_)
        return;
    const int64_t now = statusClock_.elapsed();
    if (rateShownMs_ >= 0 && now - rateShownMs_ < kRateEveryMs)
        return;
    rateShownMs_ = now;
    statusBar_->showRate(runTally_.readsLastSecond(now), runTally_.distinct());
}

} // namespace rd
