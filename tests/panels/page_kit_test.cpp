// The table a command page is written as: Tab follows the table's lines, each control lands
// in its cell (several in one cell side by side), fields keep their controls, and a click
// runs the page's handler inside the error handling.
#include "kit/errors.h"
#include "panels/page_kit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <stdexcept>

namespace rd {
namespace {

// A page whose table does not run row by row: Tab must follow the table, not the rows.
class TinyPage : public QWidget {
  public:
    TinyPage() {
        using namespace page;
        using P = TinyPage;
        grid = CompactGrid(this);
        Fill(this, grid,
             {
                 {0, 0, Button("First", "first", &P::FirstClick)},
                 {1, 0, Button("Second", "second", &P::SecondClick).keep(&second)},
                 {0, 1,
                  Strip{Box(&box, "Box", "b", 3, "a box"), Stretch(),
                        Button("Right", "right", &P::RightClick)}},
                 {2, 0, Check(&check, "Check", "check"), 1, 2},
             });
    }
    void FirstClick() { clicks << "first"; }
    void SecondClick() { clicks << "second"; }
    void RightClick() { throw std::runtime_error("right failed"); }

    QGridLayout* grid = nullptr;
    QPushButton* second = nullptr;
    QComboBox* box = nullptr;
    QCheckBox* check = nullptr;
    QStringList clicks;
};

QString NameAt(QLayout* l, int i) {
    QLayoutItem* it = l->itemAt(i);
    return it->widget() ? it->widget()->objectName() : it->spacerItem() ? "stretch" : "?";
}

TEST(PageKit, TabFollowsTheLinesOfTheTable) {
    TinyPage page;
    QStringList chain;
    for (QWidget* w = page.nextInFocusChain(); w != &page; w = w->nextInFocusChain()) {
        if (w->parentWidget() == &page)
            chain << w->objectName();
    }
    EXPECT_EQ(chain, (QStringList{"First", "Second", "Box", "Right", "Check"}));
}

TEST(PageKit, EachControlStandsInItsCellAndItsField) {
    TinyPage page;
    EXPECT_EQ(page.grid->itemAtPosition(0, 0)->widget()->objectName(), "First");
    EXPECT_EQ(page.grid->itemAtPosition(1, 0)->widget(), page.second);
    EXPECT_EQ(page.second->objectName(), "Second");

    QLayout* strip = page.grid->itemAtPosition(0, 1)->layout();
    ASSERT_TRUE(strip);
    ASSERT_EQ(strip->count(), 3);
    EXPECT_EQ((QStringList{NameAt(strip, 0), NameAt(strip, 1), NameAt(strip, 2)}),
              (QStringList{"Box", "stretch", "Right"}));
    EXPECT_EQ(strip->itemAt(0)->widget(), page.box);

    int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
    page.grid->getItemPosition(page.grid->indexOf(page.check), &row, &column, &rowSpan, &columnSpan);
    EXPECT_EQ((std::vector<int>{row, column, rowSpan, columnSpan}), (std::vector<int>{2, 0, 1, 2}));
    EXPECT_EQ(page.check->objectName(), "Check");
}

TEST(PageKit, AClickRunsTheHandlerOfThePageAndItsErrorIsReported) {
    TinyPage page;
    QStringList errors;
    SetErrorSink([&](const QString& m) { errors << m; });
    page.findChild<QPushButton*>("First")->click();
    page.second->click();
    page.findChild<QPushButton*>("Right")->click();
    SetErrorSink({});
    EXPECT_EQ(page.clicks, (QStringList{"first", "second"}));
    EXPECT_EQ(errors, QStringList{"right failed"});
}

} // namespace
} // namespace rd
