// Reader discovery: the scan of the COM ports with the probes of the discovery core, the
// window served between two probes (only Esc counts), and what a found reader, a scan that
// found none and a cancelled scan show.
#include "app/window/main_window.h"

#include "app/window/main_timer.h"
#include "kit/conv.h"
#include "kit/form_timer.h"
#include "kit/line_list.h"
#include "link/discovery.h"
#include "link/frames.h"
#include "panels/panel433.h"
#include "panels/panel900.h"
#include "panels/panel_wiegand.h"
#include "tools/ant_test.h"
#include "tools/kamaz.h"
#include "tools/saw_monitor.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QTabWidget>

namespace rd {

namespace {

// Installed on the application while a scan serves the window: Esc asks the scan to end,
// every other input (keys, clicks, wheel, closing the window) is dropped, so that no
// handler of a control runs in the middle of a scan.
class ScanInputFilter : public QObject {
  public:
    explicit ScanInputFilter(bool& cancelled) : cancelled_(cancelled) { qApp->installEventFilter(this); }
    ~ScanInputFilter() override { qApp->removeEventFilter(this); }

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        switch (e->type()) {
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
            if (static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape)
                cancelled_ = true;
            e->accept();
            return true;
        case QEvent::Close:
            e->ignore();
            return true;
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::InputMethod:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            e->accept();
            return true;
        default:
            return false;
        }
    }

  private:
    bool& cancelled_;
};

} // namespace

void TFormQUOR::BitBtnUTIL_FIND_COMClick() {
    if (scanning_)
        return;
    MemoUTIL_REC->clear();
    BF_START();
}

void TFormQUOR::BitBtnZEZ2011_COMClick() {
    if (scanning_)
        return;
    pageZEZ2011->readerSearchStarted();
    BF_START();
}

void TFormQUOR::BitBtn_ANT_TEST_dev_foundClick() {
    BF_START();
}

void TFormQUOR::BF_START() {
    // One scan at a time: a scan is never started from within another.
    if (scanning_)
        return;
    // One connection at a time: the port held so far is given back before any probe, so a
    // reader still on it is found again.
    endConnection();
    if (!link_)
        makeConnection();
    scanning_ = true;
    scanCancelled_ = false;
    struct ScanFlag {
        bool& f;
        ~ScanFlag() { f = false; }
    } flag{scanning_};
    ScanInputFilter input(scanCancelled_);

    verdicts_.clear();
    PortProbeHooks hooks;
    hooks.beforeProbe = [this] {
        serveWindowDuringScan();
        return !scanCancelled_;
    };
    hooks.afterProbe = [this](const ProbeOutcome& probe) {
        if (!probe.reply.empty())
            writeTrafficLog(QString::fromLatin1(
                AnswerTerminalLine(probe.reply.data(), static_cast<int>(probe.reply.size()))));
        paintNow();
    };
    for (const std::string& port : scanPortNames()) {
        TimerMAIN->setInterval(kMainIntervalScan);
        appendDiscovery(MemoUTIL_SEND, QStringLiteral("Port %1 check..").arg(QString::fromStdString(port)));
        statusBar_->showLink(link_status::scanning(port), false);
        paintNow();
        const PortProbeResult result = link_->probe(port, hooks);
        if (result.cancelled) {
            onScanCancelled();
            return;
        }
        if (result.found) {
            onReaderFound(*result.found);
            return;
        }
        const QString line = QString::fromStdString(result.verdict.line(port));
        if (!line.isEmpty()) {
            appendDiscovery(MemoUTIL_SEND, line);
            verdicts_ << line;
            paintNow();
        }
    }
    onNothingFound();
}

void TFormQUOR::serveWindowDuringScan() {
    // Paints, layouts and other queued work of the window run; timers wait until the scan
    // is over, and the input filter of the scan keeps every control's handler out.
    QCoreApplication::processEvents(QEventLoop::X11ExcludeTimers);
}

void TFormQUOR::paintNow() {
    // The scan holds the event loop; paint what it wrote so far, and nothing else runs.
    if (!isVisible())
        return;
    MemoUTIL_SEND->scrollToBottom();
    MemoTERMINAL->scrollToBottom();
    // A repaint of the window leaves out opaque children that are not marked changed
    // themselves, and a line list marks itself only from the event loop: mark them here,
    // so that "wait.." on the ZEZ2011 page shows as well.
    for (TMemo* m : findChildren<TMemo*>())
        if (m->isVisible())
            m->viewport()->update();
    repaint();
}

void TFormQUOR::onScanCancelled() {
    refreshPortList();
    appendDiscovery(MemoUTIL_SEND, QStringLiteral("scan cancelled"));
    showLinkStatus();
    updatePortHints();
}

void TFormQUOR::onReaderFound(const ReaderRow& row) {
    refreshPortList();
    const QString commPort = QString::fromStdString(link_->port());
    const QString commPortStr = QString::fromStdString(link_->settingsText());
    const QString message = QString::fromLatin1(row.message) + commPortStr;
    MemoUTIL_SEND->clear();
    MemoUTIL_REC->clear();
    appendDiscovery(MemoUTIL_REC, message);

    auto showStatus = [&] {
        LabelCOM_PORT_STATUS->setText(commPortStr);
        cbCOMPORT->setEditText(commPort);
        updatePortHints();
    };

    switch (row.group) {
    case ReaderGroup::Uhf900:
        pageANT_TEST->readerFound(message, commPort);
        PageControl2->setCurrentWidget(page900);
        startReceiver();
        showStatus();
        pageKAMAZ->readerFound();
        break;
    case ReaderGroup::Active433:
        PageControl2->setCurrentWidget(page433);
        startReceiver();
        showStatus();
        break;
    case ReaderGroup::SensorTag:
        PageControl2->setCurrentWidget(page433);
        PageControl1->setCurrentWidget(pageZEZ2011);
        startReceiver();
        showStatus();
        pageZEZ2011->readerFound(message);
        break;
    case ReaderGroup::Wiegand:
        PageControl2->setCurrentWidget(pageWG);
        startReceiver();
        showStatus();
        break;
    case ReaderGroup::Spare:
        PageControl2->setCurrentWidget(TabSheetSpare);
        startReceiver();
        showStatus();
        break;
    }
    showLinkStatus();
}

void TFormQUOR::onNothingFound() {
    refreshPortList();
    link_.reset();
    // The result where the user looks: the status bar, and the UTIL page with each port's
    // reason.
    statusBar_->showLink(link_status::nothingFound(), false);
    PageControl1->setCurrentWidget(TabSheetUTIL);
    MemoUTIL_SEND->clear();
    MemoUTIL_REC->clear();
    appendDiscovery(MemoUTIL_SEND, QStringLiteral("correct devices not found "));
    // Why each port that is there failed stays in view (the log has them already).
    for (const QString& v : verdicts_)
        MemoUTIL_SEND->append(v);
    const QString sawNotFound = QStringLiteral("VKR433-SAW not found ");
    pageZEZ2011->readerNotFound(sawNotFound);
    writeTrafficLog(sawNotFound);
    updatePortHints();
}

} // namespace rd
