#include "main_window.h"

#include "ant_test.h"
#include "com_a.h"
#include "commands.h"
#include "conv.h"
#include "discovery.h"
#include "errors.h"
#include "events.h"
#include "form_timer.h"
#include "frames.h"
#include "inv_log.h"
#include "kamaz.h"
#include "line_list.h"
#include "panel433.h"
#include "panel900.h"
#include "panel_wiegand.h"
#include "saw_monitor.h"
#include "serial_port.h"
#include "traffic_log.h"
#include "widgets.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <utility>

namespace rd {

namespace {

constexpr int kMainIntervalStart = 10;
constexpr int kMainIntervalScan = 1000;
constexpr int kMainIntervalConnected = 20;
// How long one TimerMAIN tick may go on taking answers, and how long it waits for one.
constexpr qint64 kTickBudgetNs = 10'000'000;
constexpr uint32_t kAnswerWaitMs = 1;

const QString kConnectPrompt = QStringLiteral("нажать COM для соединения с ридером");
const QString kStatusStart = QStringLiteral("STATUS");
const QString kPortBoxStart = QStringLiteral("----");
// A lost reader's port is tried again this often.
constexpr qint64 kReconnectIntervalMs = 1000;

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

// A stop the reader has not confirmed this long after its first "EPC_STOP" is given up.
constexpr std::chrono::milliseconds kStopGiveUp{3000};
const QString kStopAbandoned = QStringLiteral("!! EPC_STOP not confirmed after 3 s; stop abandoned");
// The command that starts an inventory run on a 900 MHz reader, by its first word.
const QString kInventoryStartWord = QStringLiteral("KELM_EPC_INVENTORY_TIME");
QFont fontOf(const QString& family, qreal points, bool bold = false) {
    QFont f(family);
    f.setPointSizeF(points);
    f.setBold(bold);
    if (family == QLatin1String("Courier New"))
        f.setStyleHint(QFont::Monospace);
    return f;
}

// Clears a memo of any kind a page may have made it.
void clearMemo(QWidget* w) {
    if (auto* m = qobject_cast<TMemo*>(w))
        m->clear();
    else if (auto* p = qobject_cast<QPlainTextEdit*>(w))
        p->clear();
    else if (auto* t = qobject_cast<QTextEdit*>(w))
        t->clear();
}

} // namespace

QStringList ConsolePresets() {
    const QString e;
    return {QStringLiteral("VERSION"),
            e,
            QStringLiteral("ARM_GET_DEF_STRUCT"),
            QStringLiteral("POWER_ON"),
            QStringLiteral("POWER_OFF"),
            e,
            e,
            QStringLiteral("GET_TEMPERATURE"),
            QStringLiteral("SHT_RH"),
            QStringLiteral("SHT_T_RH"),
            e,
            QStringLiteral("SEND_COP_READ_MEMORY  EEEE FEDCBA01  10  0"),
            QStringLiteral(
                "SEND_COP_WR_MEMORY EEEE FEDCBA01  10 0  00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF"),
            e,
            QStringLiteral("SEND_COP_COLLECTION 8 48 11 2000        L L H L"),
            e,
            QStringLiteral("SEND_COP_ALL_SLEEP_BUT EEEE FEDCBA01"),
            QStringLiteral("SEND_COP_ALL_SLEEP_BUT EEEE FEDCBA02"),
            e,
            QStringLiteral("SEND_COP_READ_USER_ID  EEEE FEDCBA01"),
            e,
            e,
            QStringLiteral("SEND_COP_ALL_USER_ID_RD"),
            QStringLiteral("SEND_COP_CURR_USER_ID_RD EEEE FEDCBA01"),
            e,
            QStringLiteral("SEND_WAKE_UP_IMPULS 2"),
            QStringLiteral("SEND_WAKE_UP_IMPULS 1"),
            QStringLiteral("SEND_WAKE_UP_IMPULS 0"),
            QStringLiteral("GET_ADC "),
            QStringLiteral("GET_SLOT 8"),
            e,
            QStringLiteral("MRF49_TRANSMIT_ON"),
            QStringLiteral("MRF49_RECEIVE_ON"),
            QStringLiteral("MRF49_TEST_SEND 10"),
            QStringLiteral("MRF49_SEND_USART_WORDS 1000 5A"),
            e,
            QStringLiteral("MRF49_CENTER_FREQUENCY_SET 43392"),
            QStringLiteral("MRF49_CENTER_FREQUENCY_SET 43390"),
            QStringLiteral("MRF49_CENTER_FREQUENCY_SET 43377"),
            e,
            QStringLiteral("MRF49_SW_REC_MODE"),
            QStringLiteral("MRF49_SW_SEND_MODE_H"),
            QStringLiteral("MRF49_SW_SEND_MODE_L"),
            e,
            QStringLiteral("MRF49_SET_FSK 0"),
            QStringLiteral("MRF49_SET_FSK 1")};
}

// ---------------------------------------------------------------------------------------
// Construction

TFormQUOR::TFormQUOR(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FormQUOR"));
    setWindowTitle(QStringLiteral("ReaderDesk"));
    setAccessibleName(QStringLiteral("ReaderDesk"));
    setFont(fontOf(QStringLiteral("Tahoma"), 8.25));

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setAccessibleName(QStringLiteral("pages"));
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(PageControl1);

    // 1: title page.
    TabSheetTITLE = new QWidget;
    TabSheetTITLE->setObjectName(QStringLiteral("TabSheetTITLE"));
    LabelTitle = MakeLabel(TabSheetTITLE, QStringLiteral("LabelTitle"),
                           QStringLiteral("ReaderDesk: RFID reader service and test tool"));
    LabelTitle->setFont(fontOf(QStringLiteral("Tahoma"), 22, true));
    {
        auto* g = new QVBoxLayout(TabSheetTITLE);
        g->setContentsMargins(112, 99, 8, 8);
        g->addWidget(LabelTitle, 0, Qt::AlignLeft | Qt::AlignTop);
        g->addStretch(1);
    }
    LabelTitle->installEventFilter(this);
    PageControl1->addTab(TabSheetTITLE, QStringLiteral("ReaderDesk"));

    // 2: UTIL, with the command pages.
    buildUtilPage();
    PageControl1->addTab(TabSheetUTIL, QStringLiteral("UTIL"));

    // 3: terminal.
    buildTerminalPage();
    PageControl1->addTab(TabSheetTERMINAL, QStringLiteral("TRM"));

    // 4 to 7: the tools.
    pageANT_TEST = new AntTestPage(*this, PageControl1);
    PageControl1->addTab(pageANT_TEST, QStringLiteral("ANT_TEST"));
    pageLOG = new InvLogPage(*this, PageControl1);
    PageControl1->addTab(pageLOG, QStringLiteral("LOG"));
    pageZEZ2011 = new SawMonitorPage(*this, PageControl1);
    PageControl1->addTab(pageZEZ2011, QStringLiteral("ZEZ2011"));
    pageKAMAZ = new KamazPage(*this, PageControl1);
    PageControl1->addTab(pageKAMAZ, QStringLiteral("KAMAZ"));

    // Pages are known to assistive technology by their tab captions.
    for (QTabWidget* pc : {PageControl1, PageControl2})
        for (int i = 0; i < pc->count(); ++i)
            pc->widget(i)->setAccessibleName(pc->tabText(i));

    TimerMAIN = new FormTimer(QStringLiteral("TimerMAIN"), kMainIntervalStart, true, this);
    TimerMAIN->onTimer([this] { TimerMAINTimer(); });
    TimerSTOP = new FormTimer(QStringLiteral("TimerSTOP"), 100, false, this);
    TimerSTOP->onTimer([this] { TimerSTOPTimer(); });

    // Every page exists now: let each hook itself to the controls of the others.
    page433->attachToWindow();
    page900->attachToWindow();
    pageWG->attachToWindow();
    pageALPHA->attachToWindow();
    pageANT_TEST->attachToWindow();
    pageLOG->attachToWindow();
    pageZEZ2011->attachToWindow();
    pageKAMAZ->attachToWindow();
    attachPageControls();

    PageControl2->setCurrentWidget(page900);
    updatePortHints();
    // The smallest size at which every page fits its captions, fixed here: what the pages
    // show later never moves the window's edges.
    setMinimumSize(minimumSizeHint());
    resize(943, 562);
    FormCreate();
}

TFormQUOR::~TFormQUOR() {
    // A reader still running an inventory is told to stop, so that it is quiet for the next
    // start, whoever makes it; then the receiver thread is stopped and its port given back.
    stopRunBeforeClose();
    closeLink();
}

void TFormQUOR::buildUtilPage() {
    TabSheetUTIL = new QWidget;
    TabSheetUTIL->setObjectName(QStringLiteral("TabSheetUTIL"));

    BitBtnUTIL_SEND_COMMAND =
        MakeButton(TabSheetUTIL, QStringLiteral("BitBtnUTIL_SEND_COMMAND"), QStringLiteral("SEND"));
    BitBtnUTIL_SEND_COMMAND->setMinimumWidth(94);
    ComboBoxUTIL_COMMAND =
        MakeCombo(TabSheetUTIL, QStringLiteral("ComboBoxUTIL_COMMAND"), QStringLiteral("VERSION"),
                  ConsolePresets(), QString(), QStringLiteral("command to send"));
    ComboBoxUTIL_COMMAND->setMinimumWidth(330);
    QStringList addrs;
    for (int n = 1; n <= 9; ++n)
        addrs << QStringLiteral("0%1").arg(n);
    ComboBoxUTIL_ADDR = MakeCombo(TabSheetUTIL, QStringLiteral("ComboBoxUTIL_ADDR"), QStringLiteral("01"),
                                  addrs, QString(), QStringLiteral("net address"));
    ComboBoxUTIL_ADDR->setMinimumWidth(42);
    QStringList coms;
    for (int n = 1; n <= 9; ++n)
        coms << QStringLiteral("COM%1").arg(n);
    cbCOMPORT = MakeCombo(TabSheetUTIL, QStringLiteral("cbCOMPORT"), QStringLiteral("----"), coms, QString(),
                          QStringLiteral("connected port"));
    cbCOMPORT->setMinimumWidth(61);
    LabelCOM_PORT_STATUS =
        MakeLabel(TabSheetUTIL, QStringLiteral("LabelCOM_PORT_STATUS"), QStringLiteral("STATUS"));
    BitBtnUTIL_FIND_COM = MakeButton(TabSheetUTIL, QStringLiteral("BitBtnUTIL_FIND_COM"),
                                     QStringLiteral("COM"), colors::blue(), QStringLiteral("поиск ридера"));
    BitBtnUTIL_FIND_COM->setMinimumSize(104, 25);
    BitBtnUTIL_FIND_COM->setFont(fontOf(QStringLiteral("Tahoma"), 8.25));

    const QFont consoleFont = fontOf(QStringLiteral("Courier New"), 6.75);
    MemoUTIL_SEND = new TMemo(QStringLiteral("MemoUTIL_SEND"), TabSheetUTIL);
    MemoUTIL_SEND->setMaxLines(kDisplayLogLines);
    MemoUTIL_SEND->setAccessibleName(QStringLiteral("sent commands"));
    MemoUTIL_SEND->setFont(consoleFont);
    MemoUTIL_SEND->setMinimumHeight(138);
    MemoUTIL_REC = new TMemo(QStringLiteral("MemoUTIL_REC"), TabSheetUTIL);
    MemoUTIL_REC->setMaxLines(kDisplayLogLines);
    MemoUTIL_REC->setAccessibleName(QStringLiteral("received answers"));
    MemoUTIL_REC->setFont(consoleFont);
    MemoUTIL_REC->setMinimumHeight(138);

    PageControl2 = new QTabWidget(TabSheetUTIL);
    PageControl2->setObjectName(QStringLiteral("PageControl2"));
    PageControl2->setAccessibleName(QStringLiteral("reader pages"));
    PageControl2->setMinimumHeight(264);
    page433 = new Panel433(*this, PageControl2);
    PageControl2->addTab(page433, QStringLiteral("433"));
    page900 = new Panel900(*this, PageControl2);
    PageControl2->addTab(page900, QStringLiteral("900"));
    pageWG = new PanelWiegand(*this, PageControl2);
    PageControl2->addTab(pageWG, QStringLiteral("Wiegand"));
    pageALPHA = new PanelAlpha(*this, PageControl2);
    PageControl2->addTab(pageALPHA, QStringLiteral("ALPHA"));
    TabSheetSpare = new QWidget(PageControl2);
    TabSheetSpare->setObjectName(QStringLiteral("TabSheetSpare"));
    PageControl2->addTab(TabSheetSpare, QStringLiteral("Spare"));

    auto* page = new QVBoxLayout(TabSheetUTIL);
    page->setContentsMargins(3, 3, 3, 3);
    page->setSpacing(5);
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    row->addWidget(BitBtnUTIL_SEND_COMMAND);
    row->addWidget(ComboBoxUTIL_COMMAND, 3);
    row->addWidget(ComboBoxUTIL_ADDR);
    row->addWidget(cbCOMPORT);
    row->addWidget(LabelCOM_PORT_STATUS, 2);
    row->addWidget(BitBtnUTIL_FIND_COM);
    page->addLayout(row);
    auto* memos = new QHBoxLayout;
    memos->setSpacing(6);
    memos->addWidget(MemoUTIL_SEND, 335);
    memos->addWidget(MemoUTIL_REC, 525);
    page->addLayout(memos, 138);
    page->addWidget(PageControl2, 264);

    OnClick(BitBtnUTIL_SEND_COMMAND, [this] { BitBtnUTIL_SEND_COMMANDClick(); });
    OnClick(BitBtnUTIL_FIND_COM, [this] { BitBtnUTIL_FIND_COMClick(); });
    MemoUTIL_SEND->onDoubleClick([this] { MemoUTIL_SENDDblClick(); });
    MemoUTIL_REC->onDoubleClick([this] { MemoUTIL_RECDblClick(); });
}

void TFormQUOR::buildTerminalPage() {
    TabSheetTERMINAL = new QWidget;
    TabSheetTERMINAL->setObjectName(QStringLiteral("TabSheetTERMINAL"));
    MemoTERMINAL = new TMemo(QStringLiteral("MemoTERMINAL"), TabSheetTERMINAL);
    MemoTERMINAL->setMaxLines(kDisplayLogLines);
    MemoTERMINAL->setAccessibleName(QStringLiteral("terminal"));
    MemoTERMINAL->setFont(fontOf(QStringLiteral("Courier New"), 8.25));
    // The hint is kept but never shown.
    MemoTERMINAL->setProperty("hint", QStringLiteral("Double Click for clear.."));
    MemoTERMINAL->setMinimumSize(598, 385);
    auto* g = new QVBoxLayout(TabSheetTERMINAL);
    g->setContentsMargins(3, 16, 3, 3);
    g->addWidget(MemoTERMINAL);
    MemoTERMINAL->onDoubleClick([this] { MemoTERMINALDblClick(); });
}

template <class T> T* TFormQUOR::pageControl(const char* name) const {
    return findChild<T*>(QString::fromLatin1(name));
}

void TFormQUOR::attachPageControls() {
    if (auto* b = pageControl<QPushButton>("BitBtnZEZ2011_COM"))
        OnClick(b, [this] { BitBtnZEZ2011_COMClick(); });
    if (auto* b = pageControl<QPushButton>("BitBtn_ANT_TEST_dev_found"))
        OnClick(b, [this] { BitBtn_ANT_TEST_dev_foundClick(); });
    if (auto* m = pageControl<TMemo>("Memo_ANT_TEST_info"))
        m->onDoubleClick([this] { Memo_ANT_TEST_infoDblClick(); });
    MemoZEZ2011_ = pageControl<TMemo>("MemoZEZ2011");
    if (MemoZEZ2011_)
        MemoZEZ2011_->onDoubleClick([this] { MemoZEZ2011DblClick(); });
    Label_ANT_TEST_TIME_ = pageControl<QLabel>("Label_ANT_TEST_TIME");
    if (Label_ANT_TEST_TIME_)
        Label_ANT_TEST_TIME_->installEventFilter(this);
}

bool TFormQUOR::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == LabelTitle) {
            RunGuarded([this] { LabelTitleDblClick(); });
            return true;
        }
        if (watched == Label_ANT_TEST_TIME_) {
            RunGuarded([this] { Label_ANT_TEST_TIMEDblClick(); });
            return true;
        }
    }
    if (scanRequested_ && watched == windowHandle() && event->type() == QEvent::Expose &&
        windowHandle()->isExposed()) {
        scanRequested_ = false;
        windowHandle()->removeEventFilter(this);
        // Let the first frame reach the screen, then scan.
        QTimer::singleShot(0, this, [this] { BitBtnUTIL_FIND_COM->click(); });
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------
// Start state and the small handlers

void TFormQUOR::FormCreate() {
    PageControl1->setCurrentWidget(TabSheetUTIL);
    MemoUTIL_SEND->clear();
    MemoUTIL_REC->clear();
    MemoTERMINAL->clear();
    clearMemo(pageControl<QWidget>("Memo_ANT_TEST_info"));
    for (const char* b : {"BitBtn_ANT_TEST_START", "BitBtn_ANT_TEST_STOP"})
        if (auto* w = pageControl<QWidget>(b))
            w->setEnabled(false);
    if (auto* l = pageControl<QLabel>("Label_ANT_TEST_INV_COUNT"))
        l->clear();
    clearMemo(pageControl<QWidget>("MemoANT_TEST_TAGS"));
    if (auto* l = pageControl<QLabel>("LabelANT_TEST_TAG_COUNT"))
        l->clear();
    for (const char* m : {"MemoLOG_ALL", "MemoLOG_STR", "MemoLOG_STR_FILTR", "MemoZEZ2011_Info"})
        clearMemo(pageControl<QWidget>(m));
    for (const char* l : {"LabelZEZ2011TimerCount", "LabelZEZ2011_0", "LabelZEZ2011_1", "LabelZEZ2011_2"})
        if (auto* label = pageControl<QLabel>(l))
            label->clear();
    clearMemo(pageControl<QWidget>("MemoKAMAZ"));
    clearMemo(pageControl<QWidget>("MemoSAW_DATA"));
    MemoUTIL_REC->append(kConnectPrompt);
}

void TFormQUOR::LabelTitleDblClick() {
    for (QWidget* page : {TabSheetUTIL, static_cast<QWidget*>(pageANT_TEST), static_cast<QWidget*>(pageLOG),
                          static_cast<QWidget*>(pageZEZ2011), static_cast<QWidget*>(pageKAMAZ)})
        PageControl1->setTabVisible(PageControl1->indexOf(page), true);
}

void TFormQUOR::Label_ANT_TEST_TIMEDblClick() {
    for (QWidget* page : {TabSheetUTIL, TabSheetTERMINAL})
        PageControl1->setTabVisible(PageControl1->indexOf(page), true);
}

void TFormQUOR::MemoUTIL_SENDDblClick() {
    MemoUTIL_SEND->clear();
}

void TFormQUOR::MemoUTIL_RECDblClick() {
    MemoUTIL_REC->clear();
}

void TFormQUOR::MemoTERMINALDblClick() {
    MemoTERMINAL->clear();
}

void TFormQUOR::Memo_ANT_TEST_infoDblClick() {
    clearMemo(pageControl<QWidget>("Memo_ANT_TEST_info"));
}

void TFormQUOR::MemoZEZ2011DblClick() {
    if (MemoZEZ2011_)
        MemoZEZ2011_->clear();
}

void TFormQUOR::setTrafficLog(const QString& path) {
    trafficLog_.reset();
    if (!path.isEmpty())
        trafficLog_ = std::make_unique<TrafficLog>(path);
}

void TFormQUOR::scanWhenShown() {
    scanRequested_ = true;
    if (!windowHandle())
        create();
    windowHandle()->installEventFilter(this);
    if (windowHandle()->isExposed()) {
        // Already on the screen: scan at the next turn of the event loop.
        scanRequested_ = false;
        windowHandle()->removeEventFilter(this);
        QTimer::singleShot(0, this, [this] { BitBtnUTIL_FIND_COM->click(); });
    }
}

// ---------------------------------------------------------------------------------------
// Lines

void TFormQUOR::appendTerminal(const QString& line) {
    MemoTERMINAL->append(line);
    if (trafficLog_)
        trafficLog_->write(line);
}

void TFormQUOR::appendDiscovery(TMemo* memo, const QString& line) {
    if (memo)
        memo->append(line);
    if (trafficLog_)
        trafficLog_->write(line);
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

void TFormQUOR::updatePortHints() {
    QStringList lines;
    // What became of the connection's bytes and reads, while it is there or lost.
    QString trouble;
    if (droppedShown_)
        trouble += QStringLiteral("\n%1 bytes lost: receive buffer full").arg(droppedShown_);
    if (failedReadsShown_)
        trouble += QLatin1Char('\n') + failedReadsHint_;
    if (connected()) {
        const QString com = QString::fromStdString(my_COM_A->COM->CommPort);
        QString dev = QString::fromStdString(ResolvePortName(my_COM_A->COM->CommPort));
        lines << QStringLiteral("%1 is %2").arg(com, dev.isEmpty() ? QStringLiteral("(no device)") : dev);
        LabelCOM_PORT_STATUS->setToolTip(lines.first() + trouble);
    } else if (lost_ && my_COM_A) {
        LabelCOM_PORT_STATUS->setToolTip(QString::fromStdString(my_COM_A->CommPort) +
                                         QStringLiteral(": connection lost") + trouble);
    } else {
        LabelCOM_PORT_STATUS->setToolTip(QStringLiteral("no reader connected"));
    }
    const auto ports = ListPorts(kLastPort);
    if (ports.empty()) {
        lines << QStringLiteral("no serial ports found");
    } else {
        lines << QStringLiteral("ports:");
        for (const auto& [name, path] : ports)
            lines << QStringLiteral("%1 = %2").arg(QString::fromStdString(name),
                                                   QString::fromStdString(path));
    }
    cbCOMPORT->setToolTip(lines.join(QLatin1Char('\n')));
}

// ---------------------------------------------------------------------------------------
// Reader discovery

bool TFormQUOR::connected() const {
    return my_COM_A && my_COM_A->COM;
}

void TFormQUOR::makePortObject() {
    my_COM_A = std::make_unique<Tmy_COM>();
    my_COM_A->MemoUTIL_SEND = [this](const std::string& line) {
        MemoUTIL_SEND->append(WidenBytes(line));
        if (scanning_)
            paintNow();
    };
    my_COM_A->MemoTERMINAL = [this](const std::string& line) { appendTerminal(WidenBytes(line)); };
}

void TFormQUOR::BitBtnUTIL_FIND_COMClick() {
    if (scanning_)
        return;
    MemoUTIL_REC->clear();
    BF_START();
}

void TFormQUOR::BitBtnZEZ2011_COMClick() {
    if (scanning_)
        return;
    if (auto* info = pageControl<TMemo>("MemoZEZ2011_Info")) {
        info->clear();
        info->append(QStringLiteral("wait.."));
    }
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
    if (!my_COM_A)
        makePortObject();
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
        if (trafficLog_ && !probe.reply.empty())
            trafficLog_->write(QString::fromLatin1(
                AnswerTerminalLine(probe.reply.data(), static_cast<int>(probe.reply.size()))));
        paintNow();
    };
    for (int n = 1; n <= kLastPort; ++n) {
        TimerMAIN->setInterval(kMainIntervalScan);
        const std::string port = "COM" + std::to_string(n);
        appendDiscovery(MemoUTIL_SEND, QStringLiteral("Port %1 check..").arg(QString::fromStdString(port)));
        paintNow();
        const PortProbeResult result = ProbePort(*my_COM_A, port, hooks);
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

void TFormQUOR::onScanCancelled() {
    appendDiscovery(MemoUTIL_SEND, QStringLiteral("scan cancelled"));
    updatePortHints();
}

void TFormQUOR::startReceiver() {
    startReceiverThread();
    TimerMAIN->setInterval(kMainIntervalScan);
    TimerMAIN->setEnabled(true);
}

void TFormQUOR::startReceiverThread() {
    my_COM_A->COM = std::make_shared<TCOM_A>(my_COM_A->hPORT, my_COM_A->CommPort, 3);
    droppedShown_ = 0;
    failedReadsShown_ = 0;
}

void TFormQUOR::closeLink() {
    if (!my_COM_A)
        return;
    if (std::shared_ptr<TCOM_A> com = std::exchange(my_COM_A->COM, nullptr)) {
        com->requestStop();
        com.reset(); // the only holder: this joins the thread
    }
    if (my_COM_A->hPORT != 0 && my_COM_A->hPORT != INVALID_PORT_HANDLE)
        ClosePort(my_COM_A->hPORT);
    my_COM_A->hPORT = 0;
}

void TFormQUOR::endConnection() {
    const bool had = connected() || lost_;
    // A reader left running an inventory is told to stop before its port is given up.
    stopRunBeforeClose();
    closeLink();
    if (lost_)
        LabelCOM_PORT_STATUS->setPalette(statusPalette_);
    lost_ = false;
    connectedRow_ = nullptr;
    if (!had)
        return;
    LabelCOM_PORT_STATUS->setText(kStatusStart);
    cbCOMPORT->setEditText(kPortBoxStart);
    updatePortHints();
}

void TFormQUOR::onConnectionLost() {
    const QString port = QString::fromStdString(my_COM_A->CommPort);
    // The failed reads that lost it, with their cause, are shown before the thread goes.
    if (connected())
        showDroppedBytes(*my_COM_A->COM);
    closeLink();
    lost_ = true;
    sinceReconnectTry_.start();
    statusPalette_ = LabelCOM_PORT_STATUS->palette();
    LabelCOM_PORT_STATUS->setText(port + QStringLiteral(": connection lost"));
    SetFontColor(LabelCOM_PORT_STATUS, colors::red());
    appendTerminal(QStringLiteral("!! %1: connection lost").arg(port));
    updatePortHints();
}

void TFormQUOR::tryReconnect() {
    if (sinceReconnectTry_.elapsed() < kReconnectIntervalMs)
        return;
    sinceReconnectTry_.start();
    // The same port and the same reader only; a port that another program holds does not
    // open (the open is exclusive).
    bool found = false;
    try {
        found = connectedRow_ && my_COM_A->check_port(my_COM_A->CommPort, kProbeAddress, kPortSettings,
                                                      kProbeCommand, connectedRow_->identifier);
    } catch (const PortSetupError&) {
        found = false; // the port has been closed again; the next attempt comes in a second
    }
    if (!found)
        return;
    startReceiverThread();
    lost_ = false;
    LabelCOM_PORT_STATUS->setPalette(statusPalette_);
    LabelCOM_PORT_STATUS->setText(QString::fromStdString(my_COM_A->CommPortStr));
    appendTerminal(QStringLiteral("!! %1: reconnected").arg(QString::fromStdString(my_COM_A->CommPort)));
    updatePortHints();
}

void TFormQUOR::onReaderFound(const ReaderRow& row) {
    connectedRow_ = &row;
    const QString commPort = QString::fromStdString(my_COM_A->CommPort);
    const QString commPortStr = QString::fromStdString(my_COM_A->CommPortStr);
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
        if (auto* info = pageControl<TMemo>("Memo_ANT_TEST_info"))
            info->append(message);
        if (auto* b = pageControl<QWidget>("BitBtn_ANT_TEST_START"))
            b->setEnabled(true);
        if (auto* b = pageControl<QPushButton>("BitBtn_ANT_TEST_dev_found")) {
            b->setText(commPort);
            b->setEnabled(false);
        }
        PageControl2->setCurrentWidget(page900);
        startReceiver();
        showStatus();
        if (auto* b = pageControl<QWidget>("BitBtnKAMAZ_START_INV"))
            b->setEnabled(true);
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
        if (auto* info = pageControl<TMemo>("MemoZEZ2011_Info")) {
            info->clear();
            info->append(message);
        }
        if (auto* b = pageControl<QWidget>("BitBtnZEZ2011_COM"))
            SetFontColor(b, colors::green());
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
}

void TFormQUOR::onNothingFound() {
    my_COM_A.reset();
    PageControl1->setCurrentWidget(TabSheetTITLE);
    MemoUTIL_SEND->clear();
    MemoUTIL_REC->clear();
    appendDiscovery(MemoUTIL_SEND, QStringLiteral("correct devices not found "));
    // Why each port that is there failed stays in view (the log has them already).
    for (const QString& v : verdicts_)
        MemoUTIL_SEND->append(v);
    auto* info = pageControl<TMemo>("MemoZEZ2011_Info");
    if (info)
        info->clear();
    appendDiscovery(info, QStringLiteral("VKR433-SAW not found "));
    if (auto* b = pageControl<QWidget>("BitBtnZEZ2011_COM"))
        SetFontColor(b, colors::red());
    updatePortHints();
}

// ---------------------------------------------------------------------------------------
// Answer polling and routing

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
    if (Label_ANT_TEST_TIME_)
        Label_ANT_TEST_TIME_->setText(TimeText());
}

void TFormQUOR::routeOneAnswer(TCOM_A& com) {
    const int count = std::clamp<int>(com.ANSWER_BUF_COUNT, 0, kMaxAnswerSize);
    const QString answer = WidenBytes(reinterpret_cast<const char*>(com.REC_ANSWER_BUF), count);
    const QString terminalLine = QString::fromLatin1(AnswerTerminalLine(com.REC_ANSWER_BUF, count));
    appendTerminal(terminalLine);
    // Reset before set: once the buffer is free the thread may signal the next answer.
    com.EventAnswerStrReady->Reset();
    com.EventAnswerStrFree->Set();
    if (MemoZEZ2011_)
        MemoZEZ2011_->append(QStringLiteral("RXD:") + answer);
    pageANT_TEST->AntTestAnswer(answer);
    StopInventoryAnswer(answer);
    pageLOG->InvLogAnswer(answer);
    pageZEZ2011->SawAnswer(answer);
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

// ---------------------------------------------------------------------------------------
// Command sending

void TFormQUOR::SendStringLine(const QString& NetADDR, const QString& SendStr) {
    if (!connected())
        return;
    const int address = StrToInt(NetADDR);
    my_COM_A->SendStrToPort(my_COM_A->COM->hPORT, address, SendStr.toStdU16String());
    noteRunCommand(address, SendStr);
}

void TFormQUOR::SEND_STRING_COMA(const QString& str) {
    SendStringLine(ComboBoxUTIL_ADDR->currentText(), str);
}

void TFormQUOR::BitBtnUTIL_SEND_COMMANDClick() {
    const QString command = ComboBoxUTIL_COMMAND->currentText();
    const QString address = ComboBoxUTIL_ADDR->currentText();
    SendStringLine(address, command);
}

// ---------------------------------------------------------------------------------------
// Inventory run control

QString TFormQUOR::InventoryStartCommand() const {
    auto text = [this](const char* name) {
        auto* box = findChild<QComboBox*>(QString::fromLatin1(name));
        if (!box)
            throw AppError(QStringLiteral("control %1 missing").arg(QString::fromLatin1(name)));
        return box->currentText();
    };
    return cmd::KelmEpcInventoryTime(text("ComboBoxEPC_INVENTORY_TIME_Q"),
                                     text("ComboBoxEPC_INVENTORY_TIME_C"),
                                     text("ComboBoxEPC_INVENTORY_TIME_CNTR"));
}

void TFormQUOR::StartInventoryRun() {
    TimerSTOP->setEnabled(false);
    StopPending_ = 0;
    SEND_STRING_COMA(InventoryStartCommand());
}

void TFormQUOR::StopInventoryRun() {
    SEND_STRING_COMA(cmd::EpcStop());
    // A further stop while one is pending goes out at once, but the retries still end
    // 3 s after the first.
    if (StopPending_ != 1)
        stopSince_ = std::chrono::steady_clock::now();
    StopPending_ = 1;
    TimerSTOP->setEnabled(true);
}

void TFormQUOR::TimerSTOPTimer() {
    if (StopPending_ == 1) {
        if (std::chrono::steady_clock::now() - stopSince_ >= kStopGiveUp) {
            MemoUTIL_REC->append(kStopAbandoned);
            appendTerminal(kStopAbandoned);
            endStopRetries();
            return;
        }
        try {
            SEND_STRING_COMA(cmd::EpcStop());
        } catch (...) {
            // Shown once, by the tick's error handling; the retries would only repeat it.
            endStopRetries();
            throw;
        }
        return;
    }
    endStopRetries();
}

void TFormQUOR::endStopRetries() {
    StopPending_ = 0;
    TimerSTOP->setEnabled(false);
    if (auto* b = pageControl<QWidget>("BitBtn_ANT_TEST_START"))
        b->setEnabled(true);
}

void TFormQUOR::StopInventoryAnswer(const QString& answer) {
    if (StopPending_ != 1 && !runInProgress_)
        return;
    const QByteArray bytes = NarrowText(answer);
    if (GetAnswerWord(2, std::string_view(bytes.constData(), std::size_t(bytes.size()))) != "STOP_INVENTORY")
        return;
    runInProgress_ = false;
    if (StopPending_ == 1)
        StopPending_ = 0;
}

void TFormQUOR::noteRunCommand(int address, const QString& command) {
    if (command.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty) != kInventoryStartWord)
        return;
    runInProgress_ = true;
    runAddress_ = address;
}

void TFormQUOR::stopRunBeforeClose() {
    if (!runInProgress_ || !connected())
        return;
    runInProgress_ = false;
    try {
        my_COM_A->SendStrToPort(my_COM_A->COM->hPORT, runAddress_, cmd::EpcStop().toStdU16String());
    } catch (...) {
        // Nothing is left to tell about it.
    }
}

} // namespace rd
