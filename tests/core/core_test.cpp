// The pieces every page shares: box-text conversion, the timer rule, line lists and
// their view, the error handling, and text/byte conversion.
#include "conv.h"
#include "errors.h"
#include "form_timer.h"
#include "line_list.h"
#include "widgets.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTest>

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
        {"01", 1},         {"09", 9},       {"10", 10},          {"  7", 7},
        {"-5", -5},        {"+12", 12},     {"$1F", 31},         {"0x1f", 31},
        {"0X10", 16},      {"-$10", -16},   {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},   {"$FFFFFFFF", -1},
        {"", std::nullopt}, {"0A", std::nullopt}, {"1 2", std::nullopt}, {"7 ", std::nullopt},
        {"$", std::nullopt}, {"0x", std::nullopt}, {"-", std::nullopt}, {"1A", std::nullopt}, {"\t7", std::nullopt},
        {"2147483648", std::nullopt}, {"$100000000", std::nullopt}, {"\xd0\x9f", std::nullopt},
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
