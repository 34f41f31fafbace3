#include "tools/ant_test.h"

#include "tools/page_style.h"
#include "tools/tool_text.h"

#include "kit/conv.h"
#include "kit/errors.h"
#include "kit/line_list.h"
#include "kit/widgets.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace rd {

AntTestPage::AntTestPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheet_ANT_TEST"));

    devFound_ = MakeButton(this, QStringLiteral("BitBtn_ANT_TEST_dev_found"), QStringLiteral("COM"),
                           colors::black(), tr("Find the reader"));
    start_ = MakeButton(this, QStringLiteral("BitBtn_ANT_TEST_START"), QStringLiteral("START"));
    stop_ = MakeButton(this, QStringLiteral("BitBtn_ANT_TEST_STOP"), QStringLiteral("STOP"));
    start_->setEnabled(false);
    stop_->setEnabled(false);
    stopInv_ = MakeCombo(this, QStringLiteral("ComboBox_ANT_TEST_STOP_INV"), QStringLiteral("5"), {},
                         tr("Inventory cycles after which the test stops"), tr("Stop after cycles"));
    time_ = MakeLabel(this, QStringLiteral("Label_ANT_TEST_TIME"), QStringLiteral("Label_ANT_TEST_TIME"));
    invCount_ = MakeLabel(this, QStringLiteral("Label_ANT_TEST_INV_COUNT"), QStringLiteral("INV:"));
    tagCount_ = MakeLabel(this, QStringLiteral("LabelANT_TEST_TAG_COUNT"), QStringLiteral("TAGs:"));
    SetPageFont(tagCount_, QString(), 19, true);

    tags_ = new TMemo(QStringLiteral("MemoANT_TEST_TAGS"), this);
    tags_->setAccessibleName(tr("distinct tag answers"));
    SetPageFont(tags_, QStringLiteral("Courier New"), 0, false);
    info_ = new TMemo(QStringLiteral("Memo_ANT_TEST_info"), this);
    info_->setMaxLines(kDisplayLogLines);
    info_->setAccessibleName(tr("reader found"));
    SetPageFont(info_, QStringLiteral("Courier10 BT"), 0, false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(devFound_, 0, 0);
    grid->addWidget(start_, 0, 1);
    grid->addWidget(stop_, 0, 2);
    grid->addWidget(stopInv_, 0, 3);
    grid->addWidget(time_, 0, 4);
    grid->addWidget(invCount_, 1, 0, 1, 2);
    grid->addWidget(tagCount_, 1, 2, 1, 3);
    grid->addWidget(tags_, 2, 0, 1, 3);
    grid->addWidget(info_, 2, 3, 1, 2);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(4, 1);

    OnClick(start_, [this] { BitBtn_ANT_TEST_STARTClick(); });
    OnClick(stop_, [this] { BitBtn_ANT_TEST_STOPClick(); });
    OnClick(devFound_, [this] { emit findReaderClicked(); });
    time_->installEventFilter(this);
}

void AntTestPage::BitBtn_ANT_TEST_STARTClick() {
    // A stop count that is not an integer ends the click before anything changes.
    AntTestStopInv = StrToInt(stopInv_->currentText());
    // The start command of the run control, without its reset of a pending stop: the
    // retries of a stop begun elsewhere go on until the reader confirms it.
    shell_.SEND_STRING_COMA(shell_.InventoryStartCommand());
    AntTestRunning = 1;
    AntTestAutoStopArmed = 1;
    stop_->setEnabled(true);
    start_->setEnabled(false);
    AntTestInvCount = 0;
    invCount_->setText(QStringLiteral("INV:") + QString::number(AntTestInvCount));
    tags_->clear();
    AntTestTagCount = 0;
    tagCount_->setText(QStringLiteral("TAGs:") + QString::number(AntTestTagCount));
}

void AntTestPage::BitBtn_ANT_TEST_STOPClick() {
    shell_.StopInventoryRun();
    AntTestAutoStopArmed = 0;
    stop_->setEnabled(false);
}

void AntTestPage::AntTestAnswer(const QString& answer) {
    // Answers of a run that is being stopped are neither counted nor shown.
    if (shell_.StopPending() == 1)
        return;
    if (AntTestRunning == 1) {
        const QString keyword = AnswerWord(2, answer);
        if (keyword == QLatin1String("START_INVENTORY")) {
            AntTestInvCount = WrapAdd(AntTestInvCount, 1);
            invCount_->setText(QStringLiteral("INV:") + QString::number(AntTestInvCount));
            // The test's own inventory is stopped once; cycles of later inventories begun
            // on other pages are counted on, but those inventories are theirs to stop.
            if (AntTestAutoStopArmed == 1 && AntTestInvCount >= AntTestStopInv) {
                shell_.StopInventoryRun();
                AntTestAutoStopArmed = 0;
                stop_->setEnabled(false);
            }
        } else if (keyword == QLatin1String("INV")) {
            // Every line of the tag list was appended together with a rise of the tag
            // count, so the list never holds more than AntTestTagCount lines and the
            // list's index answers "seen before" for all of them at once.
            if (!tags_->lines()->contains(answer)) {
                AntTestTagCount = WrapAdd(AntTestTagCount, 1);
                tagCount_->setText(QStringLiteral("TAGs:") + QString::number(AntTestTagCount));
                tags_->append(answer);
            }
        }
    }
    shell_.AppendReceived(answer);
}

void AntTestPage::resetForStart() {
    info_->clear();
    start_->setEnabled(false);
    stop_->setEnabled(false);
    invCount_->clear();
    tags_->clear();
    tagCount_->clear();
}

void AntTestPage::readerFound(const QString& message, const QString& portName) {
    info_->append(message);
    start_->setEnabled(true);
    devFound_->setText(portName);
    devFound_->setEnabled(false);
}

void AntTestPage::runStopEnded() {
    start_->setEnabled(true);
}

void AntTestPage::showTime(const QString& time) {
    time_->setText(time);
}

bool AntTestPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == time_ && event->type() == QEvent::MouseButtonDblClick) {
        RunGuarded([this] { emit clockDoubleClicked(); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace rd
