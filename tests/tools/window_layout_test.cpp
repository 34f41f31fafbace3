// The window's layout: what the pages show never changes the window's width, and at the
// window's minimum size every caption fits on every page.
#include "window_fixture.h"

#include "tools/saw_monitor.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLayout>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>

namespace rd::testing {
namespace {

std::string SizeText(QSize s) {
    return std::to_string(s.width()) + "x" + std::to_string(s.height());
}

class WindowLayout : public WindowTest {
  protected:
    void settle() {
        for (int i = 0; i < 3; ++i) {
            QApplication::sendPostedEvents();
            QApplication::processEvents();
        }
    }
    // Captions of the visible buttons, check boxes, labels and tabs that do not fit the
    // room their widget gives them, each with what it needs and what it has. Labels that
    // wrap their text are left out: they never clip, they break.
    QStringList clippedCaptions() {
        QStringList clipped;
        auto check = [&](const QWidget* w, const QString& what, const QString& caption, int room) {
            const int need = QFontMetrics(w->font()).horizontalAdvance(caption);
            if (need > room)
                clipped << QStringLiteral("%1 \"%2\": %3 > %4").arg(what, caption).arg(need).arg(room);
        };
        for (QWidget* w : form().findChildren<QWidget*>()) {
            if (!w->isVisible())
                continue;
            if (auto* b = qobject_cast<QPushButton*>(w)) {
                QStyleOptionButton opt;
                opt.initFrom(b);
                check(b, b->objectName(), b->text(),
                      b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b).width());
            } else if (auto* x = qobject_cast<QCheckBox*>(w)) {
                QStyleOptionButton opt;
                opt.initFrom(x);
                check(x, x->objectName(), x->text(),
                      x->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, x).width());
            } else if (auto* l = qobject_cast<QLabel*>(w)) {
                if (!l->wordWrap())
                    check(l, l->objectName(), l->text(), l->contentsRect().width());
            } else if (auto* t = qobject_cast<QTabBar*>(w)) {
                for (int i = 0; i < t->count(); ++i) {
                    // A tab scrolled out of sight or cut at the bar's end is clipped as well.
                    const QRect r = t->tabRect(i);
                    const int room = r.left() < 0 || r.right() >= t->width() ? 0 : r.width();
                    check(t, t->parent()->objectName() + "/tab", t->tabText(i), room);
                }
            }
        }
        return clipped;
    }
};

TEST_F(WindowLayout, StartsAtItsSizeAndFitsEveryCaptionAtItsMinimum) {
    // The minimum is there before the window is first shown (a window manager asks then).
    const QSize minimum = form().minimumSize();
    EXPECT_TRUE(minimum.width() > 0 && minimum.height() > 0) << "no minimum size";
    EXPECT_LE(minimum.width(), 943);
    EXPECT_LE(minimum.height(), 562);
    form().show();
    settle();
    EXPECT_EQ(SizeText(form().size()), "943x562");
    EXPECT_EQ(SizeText(form().minimumSize()), SizeText(minimum));

    // Made as small as it allows.
    form().resize(1, 1);
    settle();
    ASSERT_EQ(SizeText(form().size()), SizeText(minimum));
    QTabWidget* pages = form().PageControl1;
    auto* commandPages = form().findChild<QTabWidget*>(QStringLiteral("PageControl2"));
    ASSERT_TRUE(commandPages);
    for (int i = 0; i < pages->count(); ++i) {
        pages->setCurrentIndex(i);
        const bool util = pages->currentWidget() == commandPages->parentWidget();
        for (int k = 0; k < (util ? commandPages->count() : 1); ++k) {
            commandPages->setCurrentIndex(k);
            settle();
            const QString page = pages->tabText(i) + (util ? "/" + commandPages->tabText(k) : QString());
            EXPECT_EQ(clippedCaptions().join("; ").toStdString(), "") << page.toStdString();
        }
    }
}

// The readings of the three sensor tags are long bold lines: they wrap inside their
// column, and neither the window's width nor the smallest width its layout allows moves.
TEST_F(WindowLayout, SensorReadingsLeaveTheWindowWidthAlone) {
    sim::Options o;
    o.identifier = "VKR433-SAW";
    connectedTo(o);
    form().show();
    form().PageControl1->setCurrentWidget(form().pageZEZ2011);
    settle();
    const int width = form().width();
    const int layoutMinimum = form().layout()->totalMinimumSize().width();
    const char* const reads[] = {"BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF0",
                                 "BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF1",
                                 "BitBtnSEND_COP_READ_USER_ID_EEEE_FEDCBAF2"};
    const char* const labels[] = {"LabelZEZ2011_0", "LabelZEZ2011_1", "LabelZEZ2011_2"};
    for (int i = 0; i < 3; ++i) {
        click(reads[i]);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !text(labels[i]).isEmpty(); }, 5000)) << labels[i];
    }
    ASSERT_TRUE(text(labels[2]).contains(QStringLiteral("mf=\u00A0"))); // kept with its value
    settle();
    EXPECT_EQ(form().width(), width);
    EXPECT_EQ(form().layout()->totalMinimumSize().width(), layoutMinimum);
    // Each reading is shown whole, on as many lines as it needs.
    for (const char* name : labels) {
        auto* l = c<QLabel>(name);
        EXPECT_LE(l->geometry().right(), l->parentWidget()->contentsRect().right()) << name;
        EXPECT_GE(l->height(), l->heightForWidth(l->width())) << name;
    }
}

} // namespace
} // namespace rd::testing
