// TimerMAIN: takes the answers the receiver thread has ready and routes each one through
// the terminal and the answer handlers of the pages and of the run control; shows bytes
// the receiver had to drop and notices a lost connection.
#include "app/window/main_window.h"

#include "app/window/main_timer.h"
#include "kit/conv.h"
#include "kit/form_timer.h"
#include "link/frames.h"
#include "tools/ant_test.h"
#include "tools/inv_log.h"
#include "tools/saw_monitor.h"
#include "tools/sweep_page.h"
#include "tools/tags_page.h"

#include <QElapsedTimer>

#include <optional>
#include <string>

namespace rd {

namespace {

// How long one TimerMAIN tick may go on taking answers, and how long it waits for one.
constexpr qint64 kTickBudgetNs = 10'000'000;
constexpr uint32_t kAnswerWaitMs = 1;
// The shortest time between two terminal lines on bytes the receiver dropped.
constexpr qint64 kDroppedNoticeEveryMs = 1000;
// The pause after a tick that left answers waiting.
constexpr int kBacklogIntervalMs = 2;

} // namespace

void TFormQUOR::TimerMAINTimer() {
    if (link_) {
        TimerMAIN->setInterval(kMainIntervalConnected);
        // Take every answer that is ready, one after the other, for a bounded share of
        // the tick. Each goes through the whole sequence before the next is looked at.
        QElapsedTimer spent;
        spent.start();
        bool more = false;
        // The tick waits for its first answer only: once one came, those ready behind it are
        // taken without waiting, so that a tick at line rate ends without a wait of its own.
        uint32_t waitMs = kAnswerWaitMs;
        while (link_) {
            const std::optional<std::string> answer = link_->take(waitMs);
            if (!answer)
                break;
            waitMs = 0;
            routeOneAnswer(*answer);
            if (spent.nsecsElapsed() >= kTickBudgetNs) {
                more = true;
                break;
            }
        }
        // Answers are waiting: the next tick comes after a short pause, in which the window
        // handles what else is due (paints, input, other timers), not a whole interval later.
        if (more)
            TimerMAIN->setInterval(kBacklogIntervalMs);
        if (link_) {
            if (link_->connected())
                showDroppedBytes();
            showLinkNews(link_->poll());
        }
        showRateStatus();
    }
    pageANT_TEST->showTime(TimeText());
}

void TFormQUOR::routeOneAnswer(const std::string& bytes) {
    const int count = int(bytes.size());
    const QString answer = WidenBytes(bytes.data(), count);
    appendTerminal(
        QString::fromLatin1(AnswerTerminalLine(reinterpret_cast<const uint8_t*>(bytes.data()), count)));
    pageZEZ2011->showReceived(answer);
    pageANT_TEST->AntTestAnswer(answer);
    StopInventoryAnswer(answer);
    pageLOG->InvLogAnswer(answer);
    pageZEZ2011->SawAnswer(answer);
    pageTAGS->TagsAnswer(answer);
    pageSWEEP->SweepAnswer(answer);
    if (tallying_)
        runTally_.answer(bytes, statusClock_.elapsed());
    ++answersRouted_;
}

void TFormQUOR::showDroppedBytes() {
    const uint64_t dropped = link_->droppedBytes();
    const uint64_t failed = link_->failedReads();
    const QString port = QString::fromStdString(link_->port());
    // Under a lasting overload the count changes at every tick: the status hint follows it,
    // the terminal gets one line a second at most, with the total and what the time since
    // the line before added to it. What a short overload leaves unsaid comes a second later.
    const bool hintChanged = dropped != droppedShown_ || failed != failedReadsShown_;
    droppedShown_ = dropped;
    if (dropped != droppedNoticed_) {
        const qint64 now = NowMs();
        if (droppedNoticeMs_ < 0 || now - droppedNoticeMs_ >= kDroppedNoticeEveryMs ||
            now < droppedNoticeMs_) {
            QString line = QStringLiteral("!! %1: %2 bytes lost, receive buffer full").arg(port).arg(dropped);
            if (droppedNoticed_ > 0)
                line += QStringLiteral(" (%1 since the last notice)").arg(dropped - droppedNoticed_);
            appendTerminal(line);
            droppedNoticed_ = dropped;
            droppedNoticeMs_ = now;
        }
    }
    if (failed != failedReadsShown_) {
        failedReadsShown_ = failed;
        const QString what =
            failed == 1 ? QStringLiteral("1 read failed") : QStringLiteral("%1 reads failed").arg(failed);
        const QString cause = QString::fromStdString(link_->lastReadError().text);
        failedReadsHint_ = what + QStringLiteral(": ") + cause;
        appendTerminal(QStringLiteral("!! %1: %2, %3").arg(port, what, cause));
    }
    if (hintChanged)
        updatePortHints();
}

} // namespace rd
