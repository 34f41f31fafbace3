// The vehicle-check page on the real window: start and stop through the run control,
// the page timer and the captions of the five fields.
#include "window_fixture.h"

#include "kit/form_timer.h"
#include "tools/kamaz.h"

#include <QPlainTextEdit>

namespace rd::testing {
namespace {

class KamazPageTest : public WindowTest {
  protected:
    KamazPage& page() { return *form().pageKAMAZ; }
    FormTimer* timer() { return c<FormTimer>("TimerKAMAZ"); }
};

TEST_F(KamazPageTest, StartAndStopSwapTheButtonsAndSendTheRunCommands) {
    sim::Options o;
    connectedTo(o);
    EXPECT_TRUE(enabled("BitBtnKAMAZ_START_INV")); // discovery found a 900 MHz reader
    EXPECT_FALSE(enabled("BitBtnKAMAZ_STOP_INV"));
    form().StopInventoryRun();
    click("BitBtnKAMAZ_START_INV");
    EXPECT_EQ(form().StopPending(), 0);
    EXPECT_FALSE(enabled("BitBtnKAMAZ_START_INV"));
    EXPECT_TRUE(enabled("BitBtnKAMAZ_STOP_INV"));
    EXPECT_TRUE(timer()->enabled());
    click("BitBtnKAMAZ_STOP_INV");
    // Ready again at once, before the reader confirms the stop.
    EXPECT_EQ(form().StopPending(), 1);
    EXPECT_TRUE(enabled("BitBtnKAMAZ_START_INV"));
    EXPECT_FALSE(enabled("BitBtnKAMAZ_STOP_INV"));
    EXPECT_FALSE(timer()->enabled());
    ASSERT_TRUE(waitForSent(3));
    EXPECT_EQ(sent(), (std::vector<std::string>{"EPC_STOP", "KELM_EPC_INVENTORY_TIME 20 5 15", "EPC_STOP"}));
}

TEST_F(KamazPageTest, TheTimerCountsFiveDownAndStartsOver) {
    c<QWidget>("BitBtnKAMAZ_START_INV")->setEnabled(true);
    click("BitBtnKAMAZ_START_INV");
    EXPECT_EQ(page().model().countdown(), 5);
    std::vector<int> seen;
    for (int i = 0; i < 6; ++i) {
        timer()->fire();
        seen.push_back(page().model().countdown());
    }
    EXPECT_EQ(seen, (std::vector<int>{4, 3, 2, 1, 5, 4}));
    click("BitBtnKAMAZ_STOP_INV");
    click("BitBtnKAMAZ_START_INV");
    EXPECT_EQ(page().model().countdown(), 5);
}

TEST_F(KamazPageTest, DoubleClickFillsTheCaptionsAndKeepsTheText) {
    const char* const names[] = {"LabelKAMAZ_DATE", "LabelKAMAZ_Time", "LabelKAMAZ_Rota", "LabelKAMAZ_AVTO",
                                 "LabelKAMAZ_REG_SIGN"};
    const QString captions[] = {"Дата: ", "Время:", "Рота: ", "Автомобиль:", "Регистрационный знак:"};
    for (const char* n : names) {
        EXPECT_EQ(text(n), ":") << n;
        EXPECT_TRUE(c<QLabel>(n)->font().bold()) << n;
        EXPECT_EQ(c<QLabel>(n)->font().pixelSize(), 21) << n;
    }
    auto* memo = c<FreeTextMemo>("MemoKAMAZ");
    EXPECT_TRUE(memo->toPlainText().isEmpty());
    memo->setPlainText("notes");
    for (int round = 0; round < 2; ++round) {
        memo->doubleClick();
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(text(names[i]), captions[i]) << names[i];
    }
    EXPECT_EQ(memo->toPlainText(), "notes");
}

} // namespace
} // namespace rd::testing
