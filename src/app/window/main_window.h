// TFormQUOR: the main window. It holds every page, the shared console controls of the
// UTIL page, the terminal page and the window's timers; it shows reader discovery, routes
// the answers, sends every command and controls the inventory runs. The connection itself
// (probes, receiver, loss and reconnect, the stop on close) is a ReaderConnection.
// Its methods are spread over one file per job:
//   main_window.cpp  the window, its widgets, the pages and how they are wired, start state
//   window_scan.cpp  reader discovery: the scan of the ports and what a verdict shows
//   connection.cpp   what the connection shows: its end, loss and reconnect, port hints
//   routing.cpp      TimerMAIN: polling the receiver and routing each answer to the pages
//   console.cpp      sending commands, the console and its history, terminal lines and the
//                    TRM page's switches, traffic log
//   run_control.cpp  inventory runs: start, stop and its retries, the stop on close
//   window_status.cpp  the status bar: connection, run state, reads during a run, log file
//   main_timer.h     the pace of TimerMAIN, which several of them set
#pragma once

#include "app/window/console_history.h"
#include "app/window/status_bar.h"
#include "app/window/terminal_lines.h"
#include "kit/errors.h"
#include "kit/run_state_label.h"
#include "kit/shell.h"
#include "link/discovery.h"
#include "link/my_com.h"
#include "link/reader_connection.h"

#include <QElapsedTimer>
#include <QPalette>
#include <QString>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class QVBoxLayout;

namespace rd {

class FormTimer;
class TMemo;
class TrafficLog;
class Panel433;
class Panel900;
class PanelAlpha;
class PanelWiegand;
class AntTestPage;
class InvLogPage;
class SawMonitorPage;
class KamazPage;
class TagsPage;
class FleetPage;
class SweepPage;

// The console presets of ComboBoxUTIL_COMMAND, in list order (empty items separate groups).
QStringList ConsolePresets();

class TFormQUOR : public QWidget, public Shell {
    Q_OBJECT
  public:
    // Builds the window with all its pages and runs FormCreate.
    explicit TFormQUOR(QWidget* parent = nullptr);
    ~TFormQUOR() override;

    // The settings kept between runs (box texts, geometry, pages shown): read once the window
    // is built, before it is shown; written when it closes. Both do nothing with settings off.
    void restoreSettings();
    void saveSettings();

    // --- Shell ---
    void SendStringLine(const QString& NetADDR, const QString& SendStr) override;
    void SEND_STRING_COMA(const QString& str) override;
    void StartInventoryRun() override;
    void StopInventoryRun() override;
    int StopPending() const override { return StopPending_; }
    QString InventoryStartCommand() const override;
    QString CollectionCommand() const override;
    QString ConsoleCommand() const override;
    void AppendReceived(const QString& line) override;
    void BF_START() override;

    // --- Handlers ---
    void FormCreate();
    void TimerMAINTimer();
    void TimerSTOPTimer();
    void StopInventoryAnswer(const QString& answer);
    void BitBtnUTIL_FIND_COMClick();
    // Discovery on "tcp://HOST:PORT" alone, from the NET boxes (see net_client.cpp).
    void BitBtnUTIL_NETClick();
    void BitBtnZEZ2011_COMClick();
    void BitBtn_ANT_TEST_dev_foundClick();
    void BitBtnUTIL_SEND_COMMANDClick();
    void LabelTitleDblClick();
    void Label_ANT_TEST_TIMEDblClick();
    void MemoUTIL_SENDDblClick();
    void MemoUTIL_RECDblClick();
    void MemoTERMINALDblClick();

    // True while a reader is connected and its receiver runs.
    bool connected() const;

    // Manual connection from the UTIL page: OPEN connects to the port named in cbCOMPORT
    // with the usual line settings and no probe (a reader of any identifier); CLOSE ends
    // the connection, whichever way it was made. A failed OPEN says why in MemoUTIL_SEND.
    void BitBtnUTIL_OPENClick();
    void BitBtnUTIL_CLOSEClick();
    // The connection was made by OPEN, without identification (it comes back the same way
    // after a loss).
    bool manualConnection() const { return link_ && link_->manual(); }

    // The inventory run state the indicators of the pages show: running from a start
    // command sent, stopping from an "EPC_STOP" sent until the reader confirms it, stop not
    // confirmed when the retries end without that (until the next start or a late
    // confirmation), interrupted by a lost connection (until the next start), stopped
    // otherwise.
    RunState runState() const { return runState_; }

    // Ends the connection, if there is one: the receiver thread is asked to stop and joined,
    // then its port is closed, which releases the port's lock. A lost connection stops
    // trying to come back. The port object stays (the request counter runs on); the status
    // label and the port box go back to their start texts. Discovery calls it before it
    // probes any port.
    void endConnection();

    // Appends every terminal line and discovery message to this file, time-stamped
    // (an empty path switches the log off). Throws AppError when it cannot be opened.
    void setTrafficLog(const QString& path);
    // A line of the traffic log could not be written: the window said so once and the log
    // ended there.
    bool trafficLogFailed() const { return trafficLogFailed_; }

    // Loads a recorded session (a traffic log or readerdesk-cli monitor output) into the
    // terminal and the TAGS table as if it arrived now, with the times it was recorded, for
    // analysis without a reader; the status bar says "replay of FILE". Throws AppError, with
    // the line, for a file that is no recording or a damaged one; nothing is loaded then.
    // (session_replay.cpp; "Open session…" on the TAGS page asks for the file.)
    void openSession(const QString& path);

    // Runs discovery once, as the UTIL page's "COM" button does, as soon as the window
    // has been shown and painted for the first time.
    void scanWhenShown();

    // Puts host and port into the NET boxes; with tryFirst the next scan probes
    // "tcp://HOST:PORT" before COM1..COM20 (the start-up scan of --net with --scan).
    void setNetAddress(const QString& host, int port, bool tryFirst);
    // "tcp://HOST:PORT" from the NET boxes, or "" while they hold no address to try.
    std::string netPortName() const;

    // Answers that went through all four answer handlers since start-up.
    uint64_t answersRouted() const { return answersRouted_; }

    // The connection: null until a scan or OPEN has made one, and after a scan that found none.
    const ReaderConnection* connection() const { return link_.get(); }

    // Shared controls (also found by their objectNames).
    QTabWidget* PageControl1 = nullptr;
    QTabWidget* PageControl2 = nullptr;
    QWidget* TabSheetTITLE = nullptr;
    QWidget* TabSheetUTIL = nullptr;
    QWidget* TabSheetTERMINAL = nullptr;
    QWidget* TabSheetSpare = nullptr;
    QLabel* LabelTitle = nullptr;
    QPushButton* BitBtnUTIL_SEND_COMMAND = nullptr;
    QComboBox* ComboBoxUTIL_COMMAND = nullptr;
    QComboBox* ComboBoxUTIL_ADDR = nullptr;
    QComboBox* cbCOMPORT = nullptr;
    QLabel* LabelCOM_PORT_STATUS = nullptr;
    QPushButton* BitBtnUTIL_FIND_COM = nullptr;
    QLineEdit* EditNET_HOST = nullptr;
    QLineEdit* EditNET_PORT = nullptr;
    QPushButton* BitBtnUTIL_NET = nullptr;
    QPushButton* BitBtnUTIL_OPEN = nullptr;
    QPushButton* BitBtnUTIL_CLOSE = nullptr;
    TMemo* MemoUTIL_SEND = nullptr;
    TMemo* MemoUTIL_REC = nullptr;
    TMemo* MemoTERMINAL = nullptr;
    // The TRM page's switches: the time in front of each line, an answer as "hex", "text" or
    // "hex + text", the round trip behind an answer (see terminal_lines.h). All off/hex at start.
    QCheckBox* CheckBoxTRM_TIME = nullptr;
    QComboBox* ComboBoxTRM_FORM = nullptr;
    QCheckBox* CheckBoxTRM_ROUND_TRIP = nullptr;
    FormTimer* TimerMAIN = nullptr;
    FormTimer* TimerSTOP = nullptr;

    // The pages.
    Panel433* page433 = nullptr;
    Panel900* page900 = nullptr;
    PanelWiegand* pageWG = nullptr;
    PanelAlpha* pageALPHA = nullptr;
    AntTestPage* pageANT_TEST = nullptr;
    InvLogPage* pageLOG = nullptr;
    SawMonitorPage* pageZEZ2011 = nullptr;
    KamazPage* pageKAMAZ = nullptr;
    TagsPage* pageTAGS = nullptr;
    FleetPage* pageFLEET = nullptr;
    SweepPage* pageSWEEP = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildUtilPage();
    void buildNetControls(QVBoxLayout* page);
    // The ports the next scan probes, in order: the NET address alone after a click on NET,
    // otherwise the start-up NET address (if any) and COM1..COM20.
    std::vector<std::string> scanPortNames();
    void buildTerminalPage();
    // The TRM page's switches below the terminal (console.cpp).
    void buildTerminalSwitches(QVBoxLayout* page);
    // Shows every kept terminal line anew as the switches say.
    void showTerminalLines();
    // The console's history: read from the settings, shown above the presets, and a sent
    // command other than a preset remembered (console.cpp).
    void setupConsoleHistory();
    void rememberCommand(const QString& command);
    // Hands each page what it needs of another page and connects the pages' requests.
    void wirePages();
    void makeConnection();
    // A connection has been made: the figures start from zero and TimerMAIN routes.
    void startReceiver();
    // What the connection said at the tick: lost, reconnected, given up.
    void showLinkNews(const LinkNews& news);
    // Serves the window between two probes of a scan: it repaints, and of the user's input
    // only Esc counts (it cancels the scan); no timer ticks meanwhile.
    void serveWindowDuringScan();
    void onScanCancelled();
    void onReaderFound(const ReaderRow& row);
    void onNothingFound();
    void routeOneAnswer(const std::string& bytes);
    // Shows bytes dropped and reads failed since the last look, once per change.
    // Shows bytes dropped and reads failed since the last look, once per change.
    void showDroppedBytes();
    void updatePortHints();
    // Puts the ports of the current mapping into cbCOMPORT's list; its text stays.
    void refreshPortList();
    // The status label's text for the connected port.
    QString connectedStatusText() const;
    void setRunState(RunState s);
    // The status bar's parts (window_status.cpp): the connection as link_ has it, the run
    // state as the pages' indicators show it (and the start or end of a run's tally), the
    // reads of the run (at most four times a second).
    void showLinkStatus();
    void showRunStatus();
    void showRateStatus();
    void appendTerminal(const QString& line);
    // A terminal line of a recorded session: with its recorded times, not in the traffic log.
    void appendRecordedTerminal(const QString& line, int64_t wallMs, int64_t steadyMs);
    void appendDiscovery(TMemo* memo, const QString& line);
    void writeTrafficLog(const QString& line);
    void paintNow();
    // Inventory run control: the end of a stop's retries (confirmed, abandoned or failed),
    // the start of a run seen among the commands sent, and the stop sent when the window
    // closes during a run.
    // shown: the run state after them.
    void endStopRetries(RunState shown);
    void noteRunCommand(const QString& command);
    // A lost connection ends the run as far as the window knows; after the reconnect, a run
    // the reader has not confirmed the end of is stopped once (the terminal says so).
    void runCutOff();
    void stopRunAfterReconnect();

    int StopPending_ = 0;
    // The pending stop's 3 s, from its first "EPC_STOP" sent (not begun while no reader is
    // connected), and whether the terminal said that it waits for a reader.
    BoundedStop stopRetries_;
    bool stopWaitShown_ = false;
    // The network client's one-time orders to the next scan (see scanPortNames).
    std::string netOnly_;
    std::string netFirst_;
    // The verdict lines of the current scan, shown again when it finds nothing.
    QStringList verdicts_;
    bool scanning_ = false;
    bool scanCancelled_ = false;
    bool scanRequested_ = false;
    uint64_t answersRouted_ = 0;
    // Bytes the receiver dropped: the total in the status hint, and the total of the last
    // terminal notice with its time (NowMs; -1: none yet). Notices come at most once a second.
    uint64_t droppedShown_ = 0;
    uint64_t droppedNoticed_ = 0;
    qint64 droppedNoticeMs_ = -1;
    // Failed reads of the receiver thread shown so far, and the status label's hint line on
    // them ("3 reads failed: " and the cause of the last one).
    uint64_t failedReadsShown_ = 0;
    QString failedReadsHint_;
    // The status label's colours before a loss turned it red.
    QPalette statusPalette_;
    // The connection: the port, the receiver, loss and reconnect, the stop on close.
    std::unique_ptr<ReaderConnection> link_;
    RunState runState_ = RunState::Stopped;
    // One indicator per page that shows the run state.
    std::vector<RunStateLabel*> runStateLabels_;
    // Ends a stop typed at the console that the reader never confirms (no retries run).
    QTimer* consoleStopTimer_ = nullptr;
    std::unique_ptr<TrafficLog> trafficLog_;
    bool trafficLogFailed_ = false;
    // The terminal lines as composed, for the TRM page's switches, and the clock of their
    // round trips.
    TerminalLines terminalLines_{kDisplayLogLines}; // as many as MemoTERMINAL shows
    QElapsedTimer terminalClock_;
    ConsoleHistory consoleHistory_;
    WindowStatusBar* statusBar_ = nullptr;
    // The reads of the run under way, the clock they are timed by, and when the rate was
    // last shown.
    RunTally runTally_;
    bool tallying_ = false;
    QElapsedTimer statusClock_;
    int64_t rateShownMs_ = -1;
};

} // namespace rd
