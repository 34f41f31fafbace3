// The pieces every page shares: box-text conversion, the timer rule, line lists and
// their view, the error handling, and text/byte conversion.
#include "kit/conv.h"
#include "kit/errors.h"
#include "kit/form_timer.h"
#include "kit/line_list.h"
#include "kit/page_control.h"
#include "kit/scroll_bar_style.h"
#include "kit/settings.h"
#include "kit/widgets.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <optional>

namespace rd {
namespace {

struct IntCase {
    const char* text;
    std::optional<int> value; // nullopt: a conversion error
};

TEST(StrToInt, AcceptsTheToolkitSyntaxAndRejectsTheRest) {
    const IntCase cases[] = {
        {"01", 1},
        {"09", 9},
        {"10", 10},
        {"  7", 7},
        {"-5", -5},
        {"+12", 12},
        {"$1F", 31},
        {"0x1f", 31},
        {"0X10", 16},
        {"-$10", -16},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"$FFFFFFFF", -1},
        {"", std::nullopt},
        {"0A", std::nullopt},
        {"1 2", std::nullopt},
        {"7 ", std::nullopt},
        {"$", std::nullopt},
        {"0x", std::nullopt},
        {"-", std::nullopt},
        {"1A", std::nullopt},
        {"\t7", std::nullopt},
        {"2147483648", std::nullopt},
        {"$100000000", std::nullopt},
        {"\xd0\x9f", std::nullopt},
    };
    for (const IntCase& c : cases) {
        const QString text = QString::fromUtf8(c.text);
        SCOPED_TRACE(c.text);
        if (c.value) {
            EXPECT_EQ(StrToInt(text), *c.value);
        } else {
            try {
                StrToInt(text);
                ADD_FAILURE() << "no error";
            } catch (const AppError& e) {
                EXPECT_EQ(e.message(), QStringLiteral("''%1'' is not a valid integer value").arg(text));
            }
        }
    }
}

TEST(ErrorHandling, AnErrorEndsTheHandlerAndReachesTheSink) {
    QStringList shown;
    SetErrorSink([&](const QString& m) { shown << m; });
    bool after = false;
    RunGuarded([&] {
        StrToInt(QStringLiteral("x"));
        after = true;
    });
    RunGuarded([] { throw std::runtime_error("Error purging port"); });
    // The text is shown whole, a NUL character in the box text included.
    const QString withNul = QStringLiteral("1") + QChar(0) + QStringLiteral("2");
    RunGuarded([&] { StrToInt(withNul); });
    SetErrorSink({});
    EXPECT_FALSE(after);
    EXPECT_EQ(shown, (QStringList{QStringLiteral("''x'' is not a valid integer value"),
                                  QStringLiteral("Error purging port"),
                                  QStringLiteral("''%1'' is not a valid integer value").arg(withNul)}));
}

TEST(FormTimer, AssigningTheSameValueLeavesTheCountdownAlone) {
    FormTimer t(QStringLiteral("T"), 1000, true);
    QTest::qWait(150);
    const int before = t.remainingTime();
    ASSERT_GT(before, 0);
    ASSERT_LT(before, 900);
    t.setInterval(1000);
    t.setEnabled(true);
    EXPECT_LE(t.remainingTime(), before);
    // A new value does restart it.
    t.setInterval(2000);
    EXPECT_GT(t.remainingTime(), 1500);
    t.setEnabled(false);
    EXPECT_EQ(t.remainingTime(), -1);
    EXPECT_FALSE(t.enabled());
}

TEST(FormTimer, ATickIsNotReenteredWhileItsHandlerIsOpen) {
    FormTimer t(QStringLiteral("T"), 1000, false);
    int entered = 0;
    t.onTimer([&] {
        ++entered;
        t.fire(); // a tick delivered by an event loop the handler opened
    });
    t.fire();
    EXPECT_EQ(entered, 1);
    t.fire();
    EXPECT_EQ(entered, 2);
}

TEST(LineList, IndexFollowsEveryChange) {
    LineList l;
    l.append(QStringLiteral("a"));
    l.append(QStringLiteral("b"));
    l.append(QStringLiteral("a"));
    // First question builds the index from what is there...
    EXPECT_EQ(l.occurrences(QStringLiteral("a")), 2);
    EXPECT_FALSE(l.contains(QStringLiteral("A")));
    // ...later appends keep it in step.
    l.append(QStringLiteral("A"));
    EXPECT_TRUE(l.contains(QStringLiteral("A")));
    EXPECT_EQ(l.line(3), QStringLiteral("A"));
    EXPECT_EQ(l.line(4), QString());
    EXPECT_EQ(l.line(-1), QString());
    l.clear();
    EXPECT_FALSE(l.contains(QStringLiteral("a")));
    EXPECT_EQ(l.count(), 0);
    l.append(QStringLiteral("a"));
    EXPECT_EQ(l.occurrences(QStringLiteral("a")), 1);
    l.setLines({QStringLiteral("x"), QStringLiteral("x")});
    EXPECT_EQ(l.occurrences(QStringLiteral("x")), 2);
    EXPECT_FALSE(l.contains(QStringLiteral("a")));
    EXPECT_EQ(l.lines(), (QStringList{QStringLiteral("x"), QStringLiteral("x")}));
}

// A list with a line limit keeps its newest lines behind a first row that tells how many
// went; a list without one keeps everything.
TEST(LineList, ALimitKeepsTheNewestLinesBehindTheDroppedCount) {
    struct Case {
        const char* name;
        int limit;
        int appended;
        QStringList rows;
    };
    const Case cases[] = {
        {"under", 3, 2, {"0", "1"}},
        {"at", 3, 3, {"0", "1", "2"}},
        {"one_over", 3, 4, {LineList::droppedText(1), "1", "2", "3"}},
        {"far_over", 3, 10, {LineList::droppedText(7), "7", "8", "9"}},
        {"no_limit", 0, 10, {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineList l;
        l.setMaxLines(c.limit);
        EXPECT_FALSE(l.contains(QStringLiteral("0"))); // indexed from the start
        for (int i = 0; i < c.appended; ++i)
            l.append(QString::number(i));
        EXPECT_EQ(l.lines(), c.rows);
        EXPECT_EQ(l.count(), c.rows.size());
        EXPECT_EQ(l.line(l.count()), QString());
        // The index knows only the lines still there; the dropped-lines row is not one.
        EXPECT_EQ(l.contains(QStringLiteral("0")), c.rows.contains(QStringLiteral("0")));
        EXPECT_EQ(l.contains(QString::number(c.appended - 1)), true);
        EXPECT_FALSE(l.contains(c.rows.first()) && c.rows.first() != QStringLiteral("0"));
    }
    EXPECT_EQ(LineList::droppedText(12345),
              QStringLiteral("12345 older lines dropped; the traffic log (--traffic-log) keeps every line"));

    // Emptying the list starts the count again; a limit set later trims at once.
    LineList l;
    l.setMaxLines(2);
    for (const char* s : {"a", "b", "c"})
        l.append(QString::fromLatin1(s));
    l.clear();
    l.append(QStringLiteral("d"));
    EXPECT_EQ(l.lines(), QStringList({"d"}));
    l.setMaxLines(0);
    for (const char* s : {"e", "f", "g"})
        l.append(QString::fromLatin1(s));
    l.setMaxLines(1);
    EXPECT_EQ(l.lines(), QStringList({LineList::droppedText(3), "g"}));
    l.setLines({"x", "y", "z"});
    EXPECT_EQ(l.lines(), QStringList({LineList::droppedText(2), "z"}));
}

// Lines are packed one byte a character where they can be; every text comes back as it went
// in, also across block boundaries and after the oldest blocks have been freed.
TEST(LineList, EveryTextComesBackAsItWentIn) {
    const QStringList texts = {
        QStringLiteral("нажать COM для соединения с ридером"),
        QString(),
        QStringLiteral(":00000012 INV 1 3 3008;"),
        QString::fromLatin1("bytes \x80\xA0\xE9\xFF above 0x7F"),
        QStringLiteral("mixed é and ж and \U0001F600"),
        QString(70000, QLatin1Char('x')) + QStringLiteral(";"), // longer than a block
        QString(40000, QChar(0x416)) + QStringLiteral(";"),
        QString(QChar(0x100)),
    };
    for (const int limit : {0, 5}) {
        SCOPED_TRACE(limit);
        LineList l;
        l.setMaxLines(limit);
        QStringList sent;
        for (int round = 0; round < 40; ++round)
            for (const QString& t : texts) {
                l.append(t);
                sent << t;
            }
        const int kept = limit ? limit : int(sent.size());
        const int first = l.count() - kept;
        for (int i = 0; i < kept; ++i)
            ASSERT_EQ(l.line(first + i), sent[sent.size() - kept + i]) << i;
        EXPECT_TRUE(l.contains(texts.last()));
        EXPECT_EQ(l.contains(texts[0]), limit == 0);
    }
}

TEST(TMemo, DoubleClickRunsItsHandlerClearingByDefault) {
    TMemo m(QStringLiteral("MemoX"));
    m.append(QStringLiteral("one"));
    m.resize(200, 100);
    m.show();
    QTest::mouseDClick(m.viewport(), Qt::LeftButton, {}, QPoint(10, 5));
    EXPECT_EQ(m.count(), 0);

    int calls = 0;
    m.onDoubleClick([&] { ++calls; });
    m.append(QStringLiteral("kept"));
    m.doubleClick();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(m.count(), 1);
}

TEST(TMemo, FollowsTheNewestLineUnlessTheUserScrolledAway) {
    TMemo m(QStringLiteral("MemoX"));
    m.resize(200, 100);
    m.show();
    for (int i = 0; i < 500; ++i)
        m.append(QString::number(i));
    QApplication::processEvents();
    QScrollBar* v = m.verticalScrollBar();
    EXPECT_EQ(v->value(), v->maximum());
    EXPECT_GT(v->maximum(), 400);
    v->setValue(10);
    m.append(QStringLiteral("more"));
    QApplication::processEvents();
    EXPECT_EQ(m.firstVisibleRow(), 10);
    m.scrollToBottom();
    EXPECT_EQ(v->value(), v->maximum());
    EXPECT_EQ(m.accessibleDescription(), QStringLiteral("501 lines, last: more"));
}

// Lines that come in many small bursts (a reader at line rate, a tick every few ms) bring
// the scroll bars and the rows in sight up to date at a bounded pace, not once a burst,
// and the newest line is shown in the end.
TEST(TMemo, ManyBurstsAreShownAtABoundedPace) {
    TMemo m(QStringLiteral("MemoX"));
    m.resize(200, 100);
    m.show();
    int syncs = 0;
    QObject::connect(m.verticalScrollBar(), &QScrollBar::rangeChanged, [&] { ++syncs; });
    QElapsedTimer t;
    t.start();
    int bursts = 0;
    while (t.elapsed() < 300) {
        for (int k = 0; k < 10; ++k)
            m.append(QStringLiteral("burst %1 line %2").arg(bursts).arg(k));
        ++bursts;
        QTest::qWait(2);
    }
    const qint64 elapsed = t.elapsed();
    EXPECT_GT(bursts, 2 * (elapsed / TMemo::kSyncEveryMs + 2)) << "too few bursts to tell";
    EXPECT_LE(syncs, elapsed / TMemo::kSyncEveryMs + 2) << bursts << " bursts";
    const QString last = QStringLiteral("burst %1 line 9").arg(bursts - 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m.accessibleDescription().endsWith(last); }, 1000));
    QScrollBar* v = m.verticalScrollBar();
    EXPECT_EQ(v->value(), v->maximum());
    EXPECT_EQ(v->maximum(), m.count() - m.viewport()->height() / m.fontMetrics().lineSpacing());
}

// A scroll bar drawn from the kept pictures looks as the application's style draws it, at
// every place of the handle and in every state, one after the other on the same bar.
TEST(CachedScrollBarStyle, DrawsWhatTheApplicationsStyleDraws) {
    struct Case {
        Qt::Orientation orientation;
        int maximum;
        int value;
        bool enabled;
    };
    const Case cases[] = {
        {Qt::Vertical, 1000, 0, true},     {Qt::Vertical, 1000, 300, true},
        {Qt::Vertical, 1000, 600, true},   {Qt::Vertical, 1000, 999, true},
        {Qt::Vertical, 1000, 1000, true},  {Qt::Vertical, 1000, 1000, false},
        {Qt::Vertical, 5, 3, true},        {Qt::Vertical, 0, 0, true},
        {Qt::Horizontal, 300, 0, true},    {Qt::Horizontal, 300, 150, true},
        {Qt::Horizontal, 300, 300, false},
    };
    QScrollBar plain;
    QScrollBar cached;
    cached.setStyle(CachedScrollBarStyle::instance());
    for (const Case& c : cases) {
        for (QScrollBar* bar : {&plain, &cached}) {
            bar->setOrientation(c.orientation);
            bar->resize(c.orientation == Qt::Vertical ? QSize(16, 150) : QSize(150, 16));
            bar->setRange(0, c.maximum);
            bar->setPageStep(10);
            bar->setValue(c.value);
            bar->setEnabled(c.enabled);
        }
        EXPECT_EQ(cached.grab().toImage(), plain.grab().toImage())
            << "orientation " << c.orientation << ", maximum " << c.maximum << ", value " << c.value
            << (c.enabled ? "" : ", disabled");
    }
}

// A figure changing on a page repaints the figure, not the tab bar and every page around it;
// the tab bar is still laid out when its tabs change, and the window still learns when a
// page needs more room.
TEST(PageControl, AFigureOnAPageRepaintsOnlyWhatChanged) {
    struct PaintCount : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    };
    QWidget top;
    auto* pages = new PageControl(&top);
    auto* topLayout = new QVBoxLayout(&top);
    topLayout->addWidget(pages);
    auto* page = new QWidget;
    auto* pageLayout = new QVBoxLayout(page);
    auto* figure = new QLabel(QStringLiteral("Reads: 0"));
    pageLayout->addWidget(figure);
    pages->addTab(page, QStringLiteral("TAGS"));
    pages->addTab(new QWidget, QStringLiteral("LOG"));
    top.resize(400, 300);
    top.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));
    QApplication::processEvents();

    PaintCount tabBar;
    pages->tabBar()->installEventFilter(&tabBar);
    for (int i = 1; i <= 5; ++i) {
        figure->setText(QStringLiteral("Reads: %1").arg(i * 1000));
        QApplication::processEvents();
    }
    EXPECT_EQ(tabBar.paints, 0);

    const int before = pages->tabBar()->width();
    pages->setTabText(1, QStringLiteral("a much longer tab text"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return pages->tabBar()->width() > before; }, 1000));

    const int minimum = topLayout->minimumSize().height();
    auto* tall = new QWidget;
    tall->setMinimumHeight(minimum + 200);
    pageLayout->addWidget(tall);
    EXPECT_TRUE(QTest::qWaitFor([&] { return topLayout->minimumSize().height() > minimum + 200; }, 1000));
}

// Lines dropped at the top while the user reads further up: the lines in sight stay.
TEST(TMemo, DroppedLinesLeaveTheLinesInSight) {
    TMemo m(QStringLiteral("MemoX"));
    m.setMaxLines(200);
    m.resize(200, 100);
    m.show();
    for (int i = 0; i < 200; ++i)
        m.append(QString::number(i));
    QApplication::processEvents();
    m.verticalScrollBar()->setValue(50);
    QApplication::processEvents();
    for (int i = 200; i < 230; ++i)
        m.append(QString::number(i));
    QApplication::processEvents();
    EXPECT_EQ(m.line(m.firstVisibleRow()), QStringLiteral("50"));
    m.scrollToBottom();
    m.append(QStringLiteral("last"));
    QApplication::processEvents();
    EXPECT_EQ(m.verticalScrollBar()->value(), m.verticalScrollBar()->maximum());
}

// The view scrolls sideways far enough to show the end of its widest line, in a
// proportional font too, whatever the characters and whenever the font is set.
TEST(TMemo, TheEndOfTheWidestLineCanBeScrolledIntoView) {
    struct Case {
        const char* name;
        QString line;
        bool fontFirst;
        int maxLines = 0;
    };
    const Case cases[] = {
        {"wide_letters", QString(150, QLatin1Char('W')) + QStringLiteral(";"), true},
        {"font_set_after", QString(150, QLatin1Char('M')) + QStringLiteral(";"), false},
        {"cyrillic", QString(150, QChar(0x416)) + QStringLiteral(";"), true},
        {"latin1_above_7f", QString(150, QChar(0xC6)) + QStringLiteral(";"), true},
        {"dropped_lines_row", LineList::droppedText(21), true, 1},
    };
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    // In a fixed-pitch font the longest line of narrow letters is the widest.
    QFont fixed(QStringLiteral("DejaVu Sans Mono"));
    fixed.setPixelSize(13);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMemo m(QStringLiteral("MemoX"));
        m.setMaxLines(c.maxLines);
        m.setFont(c.fontFirst ? font : fixed);
        m.resize(300, 100);
        m.show();
        for (int i = 0; i < 20; ++i)
            m.append(c.maxLines ? QStringLiteral("x") : QString(i * 10, QLatin1Char('i')));
        m.append(c.maxLines ? QString() : c.line);
        m.append(QStringLiteral("short"));
        if (!c.fontFirst)
            m.setFont(font);
        QApplication::processEvents();
        QScrollBar* h = m.horizontalScrollBar();
        h->setValue(h->maximum());
        // The line is drawn from 3 pixels in, moved left by the scroll value.
        const int end = 3 - h->value() + m.fontMetrics().horizontalAdvance(c.line);
        EXPECT_LE(end, m.viewport()->width());
        EXPECT_GT(end, m.viewport()->width() - 20); // and not far beyond it
    }
}

TEST(TMemo, SelectedLinesAreCopied) {
    TMemo m(QStringLiteral("MemoX"));
    m.resize(300, 200);
    m.show();
    for (const char* s : {"first", "second", "third"})
        m.append(QString::fromLatin1(s));
    QApplication::processEvents();
    m.scrollToBottom();
    const int row = m.fontMetrics().lineSpacing();
    QTest::mouseClick(m.viewport(), Qt::LeftButton, {}, QPoint(5, row / 2));
    QTest::mouseClick(m.viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(5, row + row / 2));
    EXPECT_EQ(m.selectedText(), QStringLiteral("first\nsecond"));
    QTest::keyClick(&m, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("first\nsecond"));
    QTest::keyClick(&m, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(m.selectedText(), QStringLiteral("first\nsecond\nthird"));
    m.clear();
    EXPECT_EQ(m.selectedText(), QString());
}

TEST(Text, BytesAndCharactersMapOneToOne) {
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString wide = WidenBytes(all.constData(), int(all.size()));
    ASSERT_EQ(wide.size(), 256);
    EXPECT_EQ(wide[0xC0].unicode(), 0xC0);
    EXPECT_EQ(NarrowText(wide), all);
    // Only the low 8 bits of a character's code are sent.
    EXPECT_EQ(NarrowText(QString(QChar(0x0410))), QByteArray("\x10", 1));
}

TEST(Text, TimeOfDayHasNoZone) {
    const QString t = TimeText(QTime(9, 5, 7));
    EXPECT_TRUE(t.contains(QStringLiteral("05"))) << t.toStdString();
    EXPECT_TRUE(t.contains(QStringLiteral("07"))) << t.toStdString();
    EXPECT_FALSE(t.contains(QLatin1Char('t'))) << t.toStdString();
    EXPECT_FALSE(t.contains(QStringLiteral("UTC"))) << t.toStdString();
    EXPECT_EQ(t, t.trimmed());
}

TEST(Clock, TestsCanSetTheTime) {
    const QDateTime fixed(QDate(2013, 3, 1), QTime(9, 5, 7));
    SetClockForTesting([&] { return fixed; });
    EXPECT_EQ(Now(), fixed);
    SetClockForTesting({});
    EXPECT_LT(std::abs(Now().secsTo(QDateTime::currentDateTime())), 2);
}

// The real dialog (no test hook): a name that exists already is taken at once. A question,
// should one come, is answered "No", which keeps the dialog open; it is then cancelled.
TEST(SaveDialog, AnExistingNameIsTakenWithoutAQuestion) {
    QTemporaryDir dir;
    const QString existing = dir.filePath(QStringLiteral("12_34_56"));
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    bool asked = false;
    bool accepted = false;
    QString dialogName;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            asked = true;
            box->done(QMessageBox::No);
        } else if (auto* d = qobject_cast<QFileDialog*>(modal)) {
            if (accepted) {
                d->reject();
                return;
            }
            accepted = true;
            dialogName = d->objectName();
            d->selectFile(existing);
            QMetaObject::invokeMethod(d, "accept", Qt::QueuedConnection);
        }
    });
    driver.start(10);
    const QString chosen =
        ExecuteSaveDialog(nullptr, QStringLiteral("SaveDialogLOG"), QStringLiteral("12_34_56"));
    driver.stop();
    EXPECT_FALSE(asked);
    EXPECT_EQ(chosen.toStdString(), existing.toStdString());
    EXPECT_EQ(dialogName.toStdString(), "SaveDialogLOG");
}

// The real dialog opens in the user's documents folder (here one named by the test's own
// user-dirs.dirs) while no folder is kept, and after a save in the folder of the file saved,
// which the settings keep.
TEST(SaveDialog, OpensInTheLastFolderUsedElseInTheDocuments) {
    QTemporaryDir documents;
    QTemporaryDir used;
    const QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    ASSERT_FALSE(config.isEmpty());
    QFile dirs(config + QStringLiteral("/user-dirs.dirs"));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_DOCUMENTS_DIR=\"" + documents.path().toUtf8() + "\"\n");
    dirs.close();

    // Shows the dialog, notes its folder, then saves saveAs or cancels.
    auto show = [](const QString& saveAs) {
        QString folder;
        QTimer driver;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!d || !folder.isEmpty())
                return;
            folder = d->directory().absolutePath();
            if (saveAs.isEmpty()) {
                QMetaObject::invokeMethod(d, "reject", Qt::QueuedConnection);
                return;
            }
            d->selectFile(saveAs);
            QMetaObject::invokeMethod(d, "accept", Qt::QueuedConnection);
        });
        driver.start(10);
        ExecuteSaveDialog(nullptr, QStringLiteral("SaveDialogLOG"), QStringLiteral("12_34_56"));
        return folder;
    };
    SetSettingsEnabled(false); // nothing kept, nothing read
    EXPECT_EQ(show({}).toStdString(), documents.path().toStdString());
    SetSettingsEnabled(true);
    show(used.filePath(QStringLiteral("run")));
    EXPECT_EQ(show({}).toStdString(), used.path().toStdString());
    EXPECT_EQ(OpenSettings()->value(QStringLiteral("dialogs/saveFolder")).toString().toStdString(),
              used.path().toStdString());
    QFile::remove(dirs.fileName());
}

} // namespace
} // namespace rd

namespace rd {
namespace {

TEST(Widgets, ACaptionColourLeavesTheDisabledLookToTheStyle) {
    QWidget parent;
    QPushButton* b = MakeButton(&parent, QStringLiteral("BitBtnX"), QStringLiteral("STOP"), colors::red());
    const QColor styleDisabled = QPushButton().palette().color(QPalette::Disabled, QPalette::ButtonText);
    EXPECT_EQ(FontColor(b), colors::red());
    EXPECT_EQ(b->palette().color(QPalette::Inactive, QPalette::ButtonText), colors::red());
    EXPECT_EQ(b->palette().color(QPalette::Disabled, QPalette::ButtonText), styleDisabled);
    // Read by its caption, whatever the caption becomes.
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("STOP"));
    b->setText(QStringLiteral("COM3"));
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("COM3"));
}

TEST(Widgets, BoxTextsAreNotCompletedOrCollected) {
    QWidget parent;
    QComboBox* c = MakeCombo(&parent, QStringLiteral("ComboBoxX"), QStringLiteral("01"),
                             {QStringLiteral("VERSION")}, QString(), QStringLiteral("command"));
    EXPECT_EQ(c->currentText(), QStringLiteral("01"));
    EXPECT_EQ(c->completer(), nullptr);
    c->setEditText(QString());
    QTest::keyClicks(c->lineEdit(), QStringLiteral("ver"));
    QTest::keyClick(c->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(c->currentText(), QStringLiteral("ver"));
    EXPECT_EQ(c->count(), 1);
    EXPECT_EQ(c->accessibleName(), QStringLiteral("command"));
}

} // namespace
} // namespace rd
