// The status bar at the foot of the window: what the connection is, the run state and the
// reads of a run, the traffic log; every part's text also given to assistive technology.
#include "sim_window.h"

#include "app/window/status_bar.h"
#include "kit/run_state_label.h"
#include "kit/widgets.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>

#include <functional>

namespace rd::testing {
namespace {

const QString kNotConnected = QStringLiteral("Not connected — press COM");

class StatusBar : public SimWindowTest {
  protected:
    QLabel* part(const char* name) {
        auto* bar = control<QStatusBar>("StatusBarMAIN");
        return bar ? bar->findChild<QLabel*>(QString::fromLatin1(name)) : nullptr;
    }
    QLabel* link() { return part("LabelSTATUS_LINK"); }
    QLabel* run() { return part("LabelSTATUS_RUN"); }
    QLabel* rate() { return part("LabelSTATUS_RATE"); }
    QLabel* log() { return part("LabelSTATUS_LOG"); }

    // The part shows text, and assistive technology learns it with the part's name.
    static void expectShown(QLabel* p, const QString& text) {
        ASSERT_TRUE(p);
        EXPECT_EQ(p->text(), text);
        EXPECT_EQ(p->accessibleDescription(), text);
        EXPECT_FALSE(p->accessibleName().isEmpty());
    }

    void routeFor(int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        routeUntil([&] { return std::chrono::steady_clock::now() > end; }, ms + 1000);
    }
};

// ---------------------------------------------------------------------------------------
// The connection part, state by state.

struct LinkCase {
    const char* name;
    // Brings the window into the state and returns the text the part should show.
    std::function<QString(StatusBar&)> reach;
    bool red;
    friend void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }
};

class StatusBarLink : public StatusBar, public ::testing::WithParamInterface<LinkCase> {
  public:
    using StatusBar::addReader;
    using StatusBar::click;
    using StatusBar::control;
    using StatusBar::routeFor;
    using StatusBar::routeUntil;
    using StatusBar::scan;
    using StatusBar::window;
    // A reader that will be plugged in again keeps its simulator here.
    sim::ReaderSim* reader = nullptr;
};

TEST_P(StatusBarLink, ShowsTheConnectionAsItIs) {
    const LinkCase& c = GetParam();
    const QString expected = c.reach(*this);
    expectShown(link(), expected);
    EXPECT_EQ(FontColor(link()), c.red ? colors::red() : colors::black());
    // On every page.
    for (int i = 0; i < window().PageControl1->count(); ++i) {
        window().PageControl1->setCurrentIndex(i);
        EXPECT_TRUE(control<QStatusBar>("StatusBarMAIN")->isVisibleTo(&window()));
    }
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    States, StatusBarLink,
    ::testing::Values(LinkCase{"AtStart", [](StatusBar&) { return kNotConnected; }, false},
                      LinkCase{"FoundByAScan",
                               [](StatusBar& t) {
                                   auto& s = static_cast<StatusBarLink&>(t);
                                   s.addReader("VKR900-15", 1);
                                   s.scan();
                                   return QStringLiteral("COM1 · VKR900-15 · 115200 8N2");
                               },
                               false},
                      LinkCase{"OpenedWithoutIdentification",
                               [](StatusBar& t) {
                                   auto& s = static_cast<StatusBarLink&>(t);
                                   s.addReader("XYZ-1", 4);
                                   s.control<QComboBox>("cbCOMPORT")->setEditText("COM4");
                                   s.click("BitBtnUTIL_OPEN");
                                   return QStringLiteral("COM4 · opened without identification · 115200 8N2");
                               },
                               false},
                      LinkCase{"FoundOnTheNetwork",
                               [](StatusBar& t) {
                                   auto& s = static_cast<StatusBarLink&>(t);
                                   sim::Options o;
                                   o.tcpPort = 0;
                                   s.reader = &s.addReader("VKR900-15", 9, o);
                                   const QString name = QString::fromStdString(s.reader->tcpPortName());
                                   const QString port = name.section(QLatin1Char(':'), -1);
                                   s.control<QLineEdit>("EditNET_HOST")->setText("127.0.0.1");
                                   s.control<QLineEdit>("EditNET_PORT")->setText(port);
                                   s.click("BitBtnUTIL_NET");
                                   return name + QStringLiteral(" · VKR900-15");
                               },
                               false},
                      LinkCase{"Lost",
                               [](StatusBar& t) {
                                   auto& s = static_cast<StatusBarLink&>(t);
                                   s.reader = &s.addReader("VKR900-15", 1);
                                   s.scan();
                                   s.reader->hangUp();
                                   EXPECT_TRUE(s.routeUntil([&] { return s.window().connection()->lost(); }));
                                   return QStringLiteral("COM1: connection lost — retrying");
                               },
                               true},
                      LinkCase{"Reconnected",
                               [](StatusBar& t) {
                                   auto& s = static_cast<StatusBarLink&>(t);
                                   s.reader = &s.addReader("VKR900-15", 1);
                                   s.scan();
                                   s.reader->hangUp();
                                   EXPECT_TRUE(s.routeUntil([&] { return s.window().connection()->lost(); }));
                                   s.addReader("VKR900-15", 1);
                                   EXPECT_TRUE(s.routeUntil([&] { return s.window().connected(); }, 5000));
                                   return QStringLiteral("COM1 · VKR900-15 · 115200 8N2");
                               },
                               false},
                      LinkCase{"Closed",
                               [](StatusBar& t) {
                                   auto& s = static_cast<StatusBarLink&>(t);
                                   s.addReader("VKR900-15", 1);
                                   s.scan();
                                   s.click("BitBtnUTIL_CLOSE");
                                   return kNotConnected;
                               },
                               false}),
    [](const ::testing::TestParamInfo<LinkCase>& i) { return std::string(i.param.name); });

// Records the texts a label had each time it was painted.
class PaintedTexts : public QObject {
  public:
    explicit PaintedTexts(QLabel* label) : label_(label) { label->installEventFilter(this); }
    QStringList texts;

  protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == label_ && e->type() == QEvent::Paint && (texts.isEmpty() || texts.last() != label_->text()))
            texts << label_->text();
        return false;
    }

  private:
    QLabel* label_;
};

TEST_F(StatusBar, AScanShowsEachPortItProbesThenTheReader) {
    addReader("VKR900-15", 2);
    window().show();
    PaintedTexts painted(link());
    scan();
    ASSERT_TRUE(window().connected());
    EXPECT_EQ(painted.texts.mid(painted.texts.indexOf("Scanning COM1… (Esc cancels)")),
              QStringList({"Scanning COM1… (Esc cancels)", "Scanning COM2… (Esc cancels)"}));
    expectShown(link(), "COM2 · VKR900-15 · 115200 8N2");
}

TEST_F(StatusBar, NothingFoundSaysSoAndBringsUtilToTheFront) {
    addReader("XYZ-1", 1);
    TFormQUOR& w = window();
    w.PageControl1->setCurrentWidget(w.findChild<QWidget*>("TabSheetKAMAZ"));
    scan();
    EXPECT_FALSE(w.connected());
    expectShown(link(), "No reader found — see UTIL for each port's reason");
    EXPECT_EQ(w.PageControl1->currentWidget(), w.TabSheetUTIL);
    // Each port's reason is there.
    EXPECT_TRUE(
        has(memo("MemoUTIL_SEND"), "COM1: reply without a known identifier: :00000007 VERSION XYZ-1;"));
}

// ---------------------------------------------------------------------------------------
// The run state and the reads of a run.

TEST_F(StatusBar, RunStateAndReadsFollowTheRun) {
    addReader("VKR900-15", 1);
    scan();
    ASSERT_TRUE(window().connected());
    auto* indicator = control<QWidget>("TabSheet900")->findChild<RunStateLabel*>("LabelRUN_STATE");
    ASSERT_TRUE(indicator);
    auto sameAsIndicator = [&] {
        expectShown(run(), indicator->text());
        EXPECT_EQ(FontColor(run()), FontColor(indicator));
    };
    sameAsIndicator();
    EXPECT_EQ(run()->text(), "Inventory: stopped");
    EXPECT_FALSE(rate()->isVisibleTo(&window()));

    click("BitBtnEPC_INVENTORY_TIME");
    EXPECT_EQ(run()->text(), "Inventory: running");
    sameAsIndicator();
    EXPECT_TRUE(rate()->isVisibleTo(&window()));
    // The simulator's three tags, read over and over.
    ASSERT_TRUE(routeUntil([&] { return rate()->text().endsWith(" reads/s · 3 EPCs"); }));
    routeFor(1100);
    const int perSecond = rate()->text().section(' ', 0, 0).toInt();
    // A cycle of three tags every 50 ms: about 60 reads a second.
    EXPECT_GE(perSecond, 20);
    EXPECT_LE(perSecond, 90);
    expectShown(rate(), rate()->text());

    click("BitBtnKELM_INVENTORY_STOP");
    sameAsIndicator();
    ASSERT_TRUE(routeUntil([&] { return run()->text() == "Inventory: stopped"; }));
    sameAsIndicator();
    EXPECT_FALSE(rate()->isVisibleTo(&window()));

    // A new run counts its own EPCs from none.
    click("BitBtnEPC_INVENTORY_TIME");
    EXPECT_EQ(rate()->text(), "0 reads/s · 0 EPCs");
}

TEST(RunTally, CountsInventoryReadsOfTheLastSecondAndDistinctEpcs) {
    RunTally t;
    t.start();
    t.answer(":00000002 START_INVENTORY;", 0);
    t.answer(":00000002 INV 1 3000 3008000000000001 -50;", 0);
    t.answer(":00000002 INV 1 3000 3008000000000002 -53;", 100);
    t.answer(":00000002 INV 1 3000 3008000000000001 -50;", 900);
    t.answer(":00000002 INV;", 950); // no EPC
    t.answer(":00000002 VERSION VKR900-15;", 950);
    t.answer("00000002 INV 1 3000 30 -1;", 950); // not a frame
    EXPECT_EQ(t.readsLastSecond(999), 3);
    EXPECT_EQ(t.distinct(), 2);
    EXPECT_EQ(t.readsLastSecond(1000), 2);
    EXPECT_EQ(t.readsLastSecond(1900), 0);
    EXPECT_EQ(t.distinct(), 2);
    t.start();
    EXPECT_EQ(t.distinct(), 0);
    EXPECT_EQ(t.readsLastSecond(1900), 0);
}

// ---------------------------------------------------------------------------------------
// The traffic log.

TEST_F(StatusBar, TrafficLogNamedWhileOneIsWritten) {
    EXPECT_FALSE(log()->isVisibleTo(&window()));
    QTemporaryDir tmp;
    window().setTrafficLog(tmp.filePath("traffic.log"));
    EXPECT_TRUE(log()->isVisibleTo(&window()));
    expectShown(log(), "log: traffic.log");
    EXPECT_EQ(log()->toolTip(), tmp.filePath("traffic.log"));
    window().setTrafficLog(QString());
    EXPECT_FALSE(log()->isVisibleTo(&window()));
}

} // namespace
} // namespace rd::testing
