// TimerMAIN: takes the answers the receiver thread has ready and routes each one through
// the terminal and the answer handlers of the pages and of the run control; shows bytes
// the receiver had to drop and notices a lost connection.
#include "app/window/main_window.h"

#include "app/window/main_timer.h"
#include "kit/conv.h"
#include "kit/form_timer.h"
#include "link/com_a.h"
#include "link/events.h"
#include "link/frames.h"
#include "tools/ant_test.h"
#include "tools/inv_log.h"
#include "tools/saw_monitor.h"
#include "tools/tags_page.h"

#include <QElapsedTimer>

#include <algorithm>

namespace rd {

namespace {

// How long one TimerMAIN tick may go on taking answers, and how long it waits for one.
constexpr qint64 kTickBudgetNs = 10'000'000;
constexpr uint32_t kAnswerWaitMs = 1;

} // namespace

void TFormQUOR::TimerMAINTimer() {
    if (my_COM_A) {
        TimerMAIN->setInterval(kMainIntervalConnected);
        // Take every answer that is ready, one after the other, for a bounded share of
        // the tick. Each goes through the whole sequence before the next is looked at.
        QElapsedTimer spent;
        spent.start();
        while (my_COM_A && my_COM_A->COM) {
            std::shared_ptr<TCOM_A> com = my_COM_A->COM;
            if (!com->EventAnswerStrReady || !com->EventAnswerStrReady->Wait(kAnswerWaitMs))
                break;
            routeOneAnswer(*com);
            if (spent.nsecsElapsed() >= kTickBudgetNs)
                break;
        }
        if (my_COM_A && my_COM_A->COM) {
            showDroppedBytes(*my_COM_A->COM);
            if (my_COM_A->COM->lost())
                onConnectionLost();
        } else if (my_COM_A && lost_) {
            tryReconnect();
        }
    }
    pageANT_TEST->showTime(TimeText());
}

void TFormQUOR::routeOneAnswer(TCOM_A& com) {
    const int count = std::clamp<int>(com.ANSWER_BUF_COUNT, 0, kMaxAnswerSize);
    const QString answer = WidenBytes(reinterpret_cast<const char*>(com.REC_ANSWER_BUF), count);
    const QString terminalLine = QString::fromLatin1(AnswerTerminalLine(com.REC_ANSWER_BUF, count));
    appendTerminal(terminalLine);
    // Reset before set: once the buffer is free the thread may signal the next answer.
    com.EventAnswerStrReady->Reset();
    com.EventAnswerStrFree->Set();
    pageZEZ2011->showReceived(answer);
    pageANT_TEST->AntTestAnswer(answer);
    StopInventoryAnswer(answer);
    pageLOG->InvLogAnswer(answer);
    pageZEZ2011->SawAnswer(answer);
    pageTAGS->TagsAnswer(answer);
    ++answersRouted_;
}

void TFormQUOR::showDroppedBytes(TCOM_A& com) {
    const uint64_t dropped = com.droppedBytes();
    const uint64_t failed = com.failedReads();
    if (dropped == droppedShown_ && failed == failedReadsShown_)
        return;
    if (dropped != droppedShown_) {
        droppedShown_ = dropped;
        appendTerminal(QStringLiteral("!! %1: %2 bytes lost, receive buffer full")
                           .arg(QString::fromStdString(com.CommPort))
                           .arg(dropped));
    }
    if (failed != failedReadsShown_) {
        failedReadsShown_ = failed;
        const QString what =
            failed == 1 ? QStringLiteral("1 read failed") : QStringLiteral("%1 reads failed").arg(failed);
        const QString cause = QString::fromStdString(com.lastReadError().text);
        failedReadsHint_ = what + QStringLiteral(": ") + cause;
        appendTerminal(
            QStringLiteral("!! %1: %2, %3").arg(QString::fromStdString(com.CommPort), what, cause));
    }
    updatePortHints();
}

} // namespace rd
