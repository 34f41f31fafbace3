#include "tools/ant_test.h"

#include "tools/page_style.h"

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
    // The list is the model's memory of the tags seen: emptied, they count as new again.
    tags_->onDoubleClick([this] { clearTags(); });
}

void AntTestPage::clearTags() {
    tags_->clear();
    model_.tagListCleared();
}

void AntTestPage::BitBtn_ANT_TEST_STARTClick() {
    // A stop count that is not an integer ends the click before anything changes.
    const int32_t stopCount = StrToInt(stopInv_->currentText());
    // The start command of the run control, without its reset of a pending stop: the
    // retries of a stop begun elsewhere go on until the reader confirms it.
    shell_.SEND_STRING_COMA(shell_.InventoryStartCommand());
    model_.start(stopCount);
    stop_->setEnabled(true);
    start_->setEnabled(false);
    invCount_->setText(model_.cycleText());
    tags_->clear();
    tagCount_->setText(model_.tagText());
}

void AntTestPage::BitBtn_ANT_TEST_STOPClick() {
    shell_.StopInventoryRun();
    model_.runStopped();
    stop_->setEnabled(false);
}

void AntTestPage::AntTestAnswer(const QString& answer) {
    const AntTestModel::Outcome out = model_.answer(answer, shell_.StopPending() == 1);
    if (out.cycleCounted)
        invCount_->setText(model_.cycleText());
    if (out.stopInventory) {
        shell_.StopInventoryRun();
        model_.runStopped();
        stop_->setEnabled(false);
    }
    if (out.tagAdded) {
        tagCount_->setText(model_.tagText());
        tags_->append(answer);
    }
    if (out.shown)
        shell_.AppendReceived(answer);
}

void AntTestPage::resetForStart() {
    info_->clear();
    start_->setEnabled(false);
    stop_->setEnabled(false);
    invCount_->clear();
    clearTags();
    tagCount_->clear();
}

void AntTestPage::readerFound(const QString& message, const QString& portName) {
    info_->append(message);
    readerThere_ = true;
    start_->setEnabled(true);
    devFound_->setText(portName);
    devFound_->setEnabled(false);
}

void AntTestPage::readerLost() {
    readerThere_ = false;
    start_->setEnabled(false);
}

void AntTestPage::readerBack() {
    readerThere_ = true;
    start_->setEnabled(true);
}

void AntTestPage::readerGone() {
    readerLost();
    devFound_->setText(QStringLiteral("COM"));
    devFound_->setEnabled(true);
}

void AntTestPage::runStopEnded() {
    start_->setEnabled(readerThere_);
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
