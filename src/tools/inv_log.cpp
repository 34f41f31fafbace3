#include "tools/inv_log.h"

#include "tools/page_style.h"
#include "tools/tool_text.h"

#include "kit/conv.h"
#include "kit/errors.h"
#include "kit/line_list.h"
#include "kit/widgets.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace rd {

InvLogPage::InvLogPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheetLOG"));

    invStart_ = MakeButton(this, QStringLiteral("BitBtnLOG_INV_START"), QStringLiteral("INV_START"),
                           colors::black(), tr("Switch the log on and start an inventory"));
    invStop_ = MakeButton(this, QStringLiteral("BitBtnLOG_INV_STOP"), QStringLiteral("INV_STOP"),
                          colors::black(), tr("Stop the inventory"));
    save_ = MakeButton(this, QStringLiteral("BitBtnLOG_SaveFilles"), QStringLiteral("SAVE"), colors::black(),
                       tr("Save the three lists"));
    capacity_ = MakeLabel(this, QStringLiteral("LabelLOG_NUM_INV"), QStringLiteral("CAPACITY:"));
    str_ = new TMemo(QStringLiteral("MemoLOG_STR"), this);
    filtr_ = new TMemo(QStringLiteral("MemoLOG_STR_FILTR"), this);
    all_ = new TMemo(QStringLiteral("MemoLOG_ALL"), this);
    str_->setAccessibleName(tr("all tag answers"));
    filtr_->setAccessibleName(tr("distinct tag answers"));
    all_->setAccessibleName(tr("information lines"));
    all_->setTextColor(colors::black());

    auto* grid = new QGridLayout(this);
    grid->addWidget(invStart_, 0, 0);
    grid->addWidget(invStop_, 0, 1);
    grid->addWidget(save_, 0, 2);
    grid->addWidget(capacity_, 0, 3);
    grid->addWidget(str_, 1, 0, 1, 2);
    grid->addWidget(filtr_, 1, 2, 1, 2);
    grid->addWidget(all_, 2, 0, 1, 4);
    grid->setRowStretch(1, 1);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(3, 1);

    OnClick(invStart_, [this] { BitBtnLOG_INV_STARTClick(); });
    OnClick(invStop_, [this] { BitBtnLOG_INV_STOPClick(); });
    OnClick(save_, [this] { BitBtnLOG_SaveFillesClick(); });
    // The distinct list is the model's memory of the answers seen: emptied, they are new again.
    filtr_->onDoubleClick([this] { clearDistinct(); });
}

void InvLogPage::BitBtnLOG_INV_STARTClick() {
    // Ticking the switch runs its handler through the toggled signal.
    logOn_->setChecked(true);
    shell_.StartInventoryRun();
}

void InvLogPage::BitBtnLOG_INV_STOPClick() {
    shell_.StopInventoryRun();
}

void InvLogPage::CheckBoxINV_LOG_ONClick() {
    all_->setTextColor(logOn_->isChecked() ? colors::red() : colors::black());
}

void InvLogPage::InvLogAnswer(const QString& answer) {
    const InvLogModel::Outcome out = model_.answer(answer, logOn_->isChecked());
    if (!out.logged)
        return;
    all_->append(out.infoLine);
    str_->append(answer);
    if (out.distinct)
        filtr_->append(answer);
    capacity_->setText(model_.capacityText());
}

void InvLogPage::BitBtnLOG_SaveFillesClick() {
    const QString base = ExecuteSaveDialog(this, QStringLiteral("SaveDialogLOG"), TimeFileName(TimeText()));
    if (base.isEmpty())
        return;
    // In this order; a failure ends the save and leaves the files written before it.
    WriteTextLinesFile(base + QStringLiteral("-ALL_STR.txt"), str_->lines()->lines(), FileText::AnswerBytes);
    WriteTextLinesFile(base + QStringLiteral("-FILTR_STR.txt"), filtr_->lines()->lines(),
                       FileText::AnswerBytes);
    WriteTextLinesFile(base + QStringLiteral("-INFO_STR.txt"), all_->lines()->lines(), FileText::AnswerBytes);
}

void InvLogPage::attachLogSwitch(QCheckBox* logSwitch) {
    logOn_ = logSwitch;
    // toggled, not clicked: a change made by INV_START runs the handler as a click would.
    connect(logOn_, &QCheckBox::toggled, this, [this] { RunGuarded([this] { CheckBoxINV_LOG_ONClick(); }); });
}

void InvLogPage::resetForStart() {
    all_->clear();
    str_->clear();
    clearDistinct();
}

void InvLogPage::clearDistinct() {
    filtr_->clear();
    model_.distinctListCleared();
}

} // namespace rd
