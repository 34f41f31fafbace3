// Inventory runs: the start command, the stop and its retries until the reader confirms
// it (given up 3 s after the first "EPC_STOP" sent; without a reader it waits for the next
// one found), the start of a run seen among the commands sent, and the stop sent when the
// window closes or the connection ends during a run.
#include "app/window/main_window.h"

#include "kit/conv.h"
#include "kit/form_timer.h"
#include "kit/line_list.h"
#include "link/frames.h"
#include "panels/commands.h"
#include "panels/panel900.h"
#include "tools/ant_test.h"
#include "tools/sweep_page.h"
#include "tools/tags_page.h"

#include <QTimer>

namespace rd {

namespace {

// A stop the reader has not confirmed this long after its first "EPC_STOP" is given up.
constexpr std::chrono::milliseconds kStopGiveUp = BoundedStop::kGiveUp;
const QString kStopAbandoned = QStringLiteral("!! EPC_STOP not confirmed after 3 s; stop abandoned");
const QString kStopWaitsForReader =
    QStringLiteral("no reader connected: EPC_STOP goes to the next reader found");
// The command that starts an inventory run on a 900 MHz reader, by its first word.
const QString kInventoryStartWord = QStringLiteral("KELM_EPC_INVENTORY_TIME");
const QString kStopWord = QStringLiteral("EPC_STOP");

} // namespace

QString TFormQUOR::InventoryStartCommand() const {
    return page900->inventoryStartCommand();
}

void TFormQUOR::StartInventoryRun() {
    TimerSTOP->setEnabled(false);
    StopPending_ = 0;
    stopWaitShown_ = false;
    stopRetries_.end();
    SEND_STRING_COMA(InventoryStartCommand());
}

void TFormQUOR::StopInventoryRun() {
    if (!connected()) {
        // Nothing goes out: the stop stays pending for the next reader found, and its 3 s
        // begin with the first "EPC_STOP" that reaches one. Said once per pending stop.
        if (!stopWaitShown_)
            appendTerminal(kStopWaitsForReader);
        stopWaitShown_ = true;
        StopPending_ = 1;
        TimerSTOP->setEnabled(true);
        return;
    }
    SEND_STRING_COMA(cmd::EpcStop());
    // A further stop while one is pending goes out at once, but the retries still end
    // 3 s after the first.
    stopRetries_.begin(std::chrono::steady_clock::now());
    StopPending_ = 1;
    TimerSTOP->setEnabled(true);
}

void TFormQUOR::TimerSTOPTimer() {
    if (StopPending_ == 1) {
        if (stopRetries_.expired(std::chrono::steady_clock::now())) {
            MemoUTIL_REC->append(kStopAbandoned);
            appendTerminal(kStopAbandoned);
            endStopRetries(RunState::StopNotConfirmed);
            return;
        }
        // Without a reader the stop waits, its count not begun.
        if (!connected())
            return;
        try {
            SEND_STRING_COMA(cmd::EpcStop());
        } catch (...) {
            // Shown once, by the tick's error handling; the retries would only repeat it.
            endStopRetries(RunState::StopNotConfirmed);
            throw;
        }
        stopRetries_.begin(std::chrono::steady_clock::now());
        return;
    }
    // Confirmed (the answer has shown it), or a tick after the end: the state stays.
    endStopRetries(runState_);
}

void TFormQUOR::endStopRetries(RunState shown) {
    StopPending_ = 0;
    stopWaitShown_ = false;
    stopRetries_.end();
    TimerSTOP->setEnabled(false);
    pageANT_TEST->runStopEnded();
    // Confirmed, abandoned, failed or cut off by a lost connection: the window waits for
    // nothing more. Only a confirmed stop shows the run as stopped.
    setRunState(shown);
    // Last: a sweep begins its next step here, and that step's start sets the run state.
    pageSWEEP->runStopEnded(shown == RunState::Stopped);
}

void TFormQUOR::StopInventoryAnswer(const QString& answer) {
    // A run cut off by a lost connection stays so until the next start, whatever the reader
    // says after the reconnect.
    if ((StopPending_ != 1 && runState_ == RunState::Stopped) || runState_ == RunState::Interrupted)
        return;
    const QByteArray bytes = NarrowText(answer);
    if (GetAnswerWord(2, std::string_view(bytes.constData(), std::size_t(bytes.size()))) != "STOP_INVENTORY")
        return;
    if (StopPending_ == 1)
        StopPending_ = 0;
    setRunState(RunState::Stopped);
}

void TFormQUOR::noteRunCommand(const QString& command) {
    const QString word = command.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    if (word == kStopWord) {
        // From the stop's retries or typed at the console; the latter has no retries to end
        // it, so it ends on its own when the reader never confirms.
        setRunState(RunState::Stopping);
        consoleStopTimer_->start(int(kStopGiveUp.count()));
        return;
    }
    if (word != kInventoryStartWord)
        return;
    pageTAGS->runStarted();
    setRunState(RunState::Running);
}

void TFormQUOR::runCutOff() {
    if (StopPending_ == 1)
        endStopRetries(RunState::Interrupted);
    else if (runState_ == RunState::Running || runState_ == RunState::Stopping)
        setRunState(RunState::Interrupted);
    pageSWEEP->connectionEnded();
}

void TFormQUOR::stopRunAfterReconnect() {
    if (!link_ || !link_->runUnconfirmed())
        return;
    // Not through the run control: the run state stays "interrupted" until the next start.
    const PortError e = link_->send(link_->runAddress(), cmd::EpcStop().toStdU16String());
    const QString port = QString::fromStdString(link_->port());
    appendTerminal(e.ok() ? QStringLiteral("!! %1: EPC_STOP sent: the reader may still run the inventory "
                                           "the lost connection cut off")
                                .arg(port)
                          : QStringLiteral("!! %1: EPC_STOP after the reconnect failed: %2")
                                .arg(port, QString::fromStdString(e.text)));
}

void TFormQUOR::setRunState(RunState s) {
    const auto during = [](RunState r) { return r == RunState::Running || r == RunState::Stopping; };
    if (during(runState_) && !during(s))
        pageTAGS->runEnded();
    runState_ = s;
    for (RunStateLabel* label : runStateLabels_)
        label->setState(s);
    showRunStatus();
}

} // namespace rd
