// The window itself: its pages and their widgets, how the pages are wired to each other
// and to the window, and the start state.
#include "app/window/main_window.h"

#include "app/window/main_timer.h"
#include "app/window/traffic_log.h"
#include "kit/conv.h"
#include "kit/errors.h"
#include "kit/form_timer.h"
#include "kit/line_list.h"
#include "kit/page_control.h"
#include "kit/widgets.h"
#include "panels/panel433.h"
#include "panels/panel900.h"
#include "panels/panel_wiegand.h"
#include "tools/ant_test.h"
#include "tools/fleet_page.h"
#include "tools/inv_log.h"
#include "tools/kamaz.h"
#include "tools/saw_monitor.h"
#include "tools/sweep_page.h"
#include "tools/tags_page.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace rd {

namespace {

const QString kConnectPrompt = QStringLiteral("нажать COM для соединения с ридером");

QFont fontOf(const QString& family, qreal points, bool bold = false) {
    QFont f(family);
    f.setPointSizeF(points);
    f.setBold(bold);
    if (family == QLatin1String("Courier New"))
        f.setStyleHint(QFont::Monospace);
    return f;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Construction

TFormQUOR::TFormQUOR(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FormQUOR"));
    setWindowTitle(QStringLiteral("ReaderDesk"));
    setAccessibleName(QStringLiteral("ReaderDesk"));
    setFont(fontOf(QStringLiteral("Tahoma"), 8.25));

    PageControl1 = new PageControl(this);
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
    pageTAGS = new TagsPage(PageControl1);
    PageControl1->addTab(pageTAGS, QStringLiteral("TAGS"));
    // The readers of every bridge on an MQTT broker.
    pageFLEET = new FleetPage(PageControl1);
    PageControl1->addTab(pageFLEET, QStringLiteral("FLEET"));
    pageSWEEP = new SweepPage(*this, PageControl1);
    PageControl1->addTab(pageSWEEP, QStringLiteral("SWEEP"));

    // The inventory run state, on every page that starts runs or follows them.
    for (QWidget* page : {static_cast<QWidget*>(page900), static_cast<QWidget*>(pageANT_TEST),
                          static_cast<QWidget*>(pageLOG), static_cast<QWidget*>(pageKAMAZ),
                          static_cast<QWidget*>(pageTAGS), static_cast<QWidget*>(pageSWEEP)})
        runStateLabels_.push_back(RunStateLabel::addTo(page));
    // The status bar, below every page.
    statusBar_ = new WindowStatusBar(this);
    top->addWidget(statusBar_);
    statusClock_.start();
    showRunStatus();
    consoleStopTimer_ = new QTimer(this);
    consoleStopTimer_->setSingleShot(true);
    connect(consoleStopTimer_, &QTimer::timeout, this, [this] {
        if (runState_ == RunState::Stopping && StopPending_ != 1)
            setRunState(RunState::StopNotConfirmed);
    });

    // Pages are known to assistive technology by their tab captions.
    for (QTabWidget* pc : {PageControl1, PageControl2})
        for (int i = 0; i < pc->count(); ++i)
            pc->widget(i)->setAccessibleName(pc->tabText(i));

    TimerMAIN = new FormTimer(QStringLiteral("TimerMAIN"), kMainIntervalStart, true, this);
    TimerMAIN->onTimer([this] { TimerMAINTimer(); });
    TimerSTOP = new FormTimer(QStringLiteral("TimerSTOP"), 100, false, this);
    TimerSTOP->onTimer([this] { TimerSTOPTimer(); });

    // Every page exists now: the command pages hook themselves, the window wires the rest.
    page433->attachToWindow();
    page900->attachToWindow();
    pageWG->attachToWindow();
    pageALPHA->attachToWindow();
    wirePages();

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
    if (link_)
        link_->close();
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
    BitBtnUTIL_OPEN =
        MakeButton(TabSheetUTIL, QStringLiteral("BitBtnUTIL_OPEN"), QStringLiteral("OPEN"), colors::black(),
                   QStringLiteral("connect to this port without identification"));
    BitBtnUTIL_CLOSE = MakeButton(TabSheetUTIL, QStringLiteral("BitBtnUTIL_CLOSE"), QStringLiteral("CLOSE"),
                                  colors::black(), QStringLiteral("end the connection"));
    cbCOMPORT->installEventFilter(this);

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

    PageControl2 = new PageControl(TabSheetUTIL);
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
    buildNetControls(page);
    // The first row is full: OPEN and CLOSE open the row below it, left of the network client.
    if (auto* below = qobject_cast<QHBoxLayout*>(page->itemAt(page->count() - 1)->layout())) {
        below->insertWidget(1, BitBtnUTIL_OPEN);
        below->insertWidget(2, BitBtnUTIL_CLOSE);
        below->insertSpacing(3, 12);
    }
    auto* memos = new QHBoxLayout;
    memos->setSpacing(6);
    memos->addWidget(MemoUTIL_SEND, 335);
    memos->addWidget(MemoUTIL_REC, 525);
    page->addLayout(memos, 138);
    page->addWidget(PageControl2, 264);

    OnClick(BitBtnUTIL_SEND_COMMAND, [this] { BitBtnUTIL_SEND_COMMANDClick(); });
    OnClick(BitBtnUTIL_FIND_COM, [this] { BitBtnUTIL_FIND_COMClick(); });
    OnClick(BitBtnUTIL_OPEN, [this] { BitBtnUTIL_OPENClick(); });
    OnClick(BitBtnUTIL_CLOSE, [this] { BitBtnUTIL_CLOSEClick(); });
    MemoUTIL_SEND->onDoubleClick([this] { MemoUTIL_SENDDblClick(); });
    MemoUTIL_REC->onDoubleClick([this] { MemoUTIL_RECDblClick(); });
    setupConsoleHistory();
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
    buildTerminalSwitches(g);
    MemoTERMINAL->onDoubleClick([this] { MemoTERMINALDblClick(); });
}

void TFormQUOR::wirePages() {
    pageLOG->attachLogSwitch(page900->inventoryLogSwitch());
    connect(pageANT_TEST, &AntTestPage::findReaderClicked, this,
            [this] { BitBtn_ANT_TEST_dev_foundClick(); });
    connect(pageANT_TEST, &AntTestPage::clockDoubleClicked, this, [this] { Label_ANT_TEST_TIMEDblClick(); });
    connect(pageZEZ2011, &SawMonitorPage::findReaderClicked, this, [this] { BitBtnZEZ2011_COMClick(); });
    connect(pageTAGS, &TagsPage::openSessionClicked, this, [this] {
        RunGuarded([this] {
            const QString path = ExecuteOpenDialog(this, QStringLiteral("OpenDialogTAGS"));
            if (!path.isEmpty())
                openSession(path);
        });
    });
    connect(pageTAGS, &TagsPage::cleared, this, [this] { statusBar_->showReplay(QString()); });
    pageSWEEP->setConnectedCheck([this] { return connected(); });
    connect(pageSWEEP, &SweepPage::stateChanged, statusBar_, &WindowStatusBar::showSweep);
}

bool TFormQUOR::eventFilter(QObject* watched, QEvent* event) {
    // The port list is brought up to date as it is opened.
    if (watched == cbCOMPORT && (event->type() == QEvent::MouseButtonPress ||
                                 (event->type() == QEvent::KeyPress &&
                                  (static_cast<QKeyEvent*>(event)->key() == Qt::Key_F4 ||
                                   static_cast<QKeyEvent*>(event)->modifiers().testFlag(Qt::AltModifier)))))
        refreshPortList();
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == LabelTitle) {
            RunGuarded([this] { LabelTitleDblClick(); });
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
// Start state and the title page's handlers

void TFormQUOR::FormCreate() {
    PageControl1->setCurrentWidget(TabSheetUTIL);
    MemoUTIL_SEND->clear();
    MemoUTIL_REC->clear();
    MemoTERMINAL->clear();
    pageANT_TEST->resetForStart();
    pageLOG->resetForStart();
    pageZEZ2011->resetForStart();
    pageKAMAZ->resetForStart();
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

} // namespace rd
