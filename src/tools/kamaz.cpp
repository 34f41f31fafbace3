#include "tools/kamaz.h"

#include "tools/page_style.h"

#include "kit/errors.h"
#include "kit/form_timer.h"
#include "kit/widgets.h"

#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

namespace rd {

FreeTextMemo::FreeTextMemo(const QString& objectName, QWidget* parent) : QPlainTextEdit(parent) {
    setObjectName(objectName);
    setAccessibleName(objectName);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void FreeTextMemo::doubleClick() {
    RunGuarded(dblClick_);
}

void FreeTextMemo::mouseDoubleClickEvent(QMouseEvent* e) {
    QPlainTextEdit::mouseDoubleClickEvent(e); // keeps the word selection of a text box
    doubleClick();
}

KamazPage::KamazPage(Shell& shell, QWidget* parent) : QWidget(parent), shell_(shell) {
    setObjectName(QStringLiteral("TabSheetKAMAZ"));

    start_ = MakeButton(this, QStringLiteral("BitBtnKAMAZ_START_INV"), QStringLiteral("START"),
                        colors::black(), tr("Start the inventory"));
    stop_ = MakeButton(this, QStringLiteral("BitBtnKAMAZ_STOP_INV"), QStringLiteral("STOP"), colors::black(),
                       tr("Stop the inventory"));
    start_->setEnabled(false);
    stop_->setEnabled(false);

    auto field = [this](const char* name) {
        QLabel* l = MakeLabel(this, QString::fromLatin1(name), QStringLiteral(":"));
        SetPageFont(l, QStringLiteral("Tahoma"), 21, true);
        return l;
    };
    date_ = field("LabelKAMAZ_DATE");
    time_ = field("LabelKAMAZ_Time");
    rota_ = field("LabelKAMAZ_Rota");
    avto_ = field("LabelKAMAZ_AVTO");
    regSign_ = field("LabelKAMAZ_REG_SIGN");
    memo_ = new FreeTextMemo(QStringLiteral("MemoKAMAZ"), this);
    memo_->setAccessibleName(tr("notes"));
    timer_ = new FormTimer(QStringLiteral("TimerKAMAZ"), 1000, false, this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(start_, 0, 0);
    grid->addWidget(stop_, 0, 1);
    QLabel* rows[] = {date_, time_, rota_, avto_, regSign_};
    for (int i = 0; i < 5; ++i)
        grid->addWidget(rows[i], 1 + i, 0, 1, 3);
    grid->addWidget(memo_, 6, 0, 1, 3);
    grid->setRowStretch(6, 1);
    grid->setColumnStretch(2, 1);

    OnClick(start_, [this] { BitBtnKAMAZ_START_INVClick(); });
    OnClick(stop_, [this] { BitBtnKAMAZ_STOP_INVClick(); });
    memo_->onDoubleClick([this] { MemoKAMAZDblClick(); });
    timer_->onTimer([this] { TimerKAMAZTimer(); });
}

void KamazPage::BitBtnKAMAZ_START_INVClick() {
    shell_.StartInventoryRun();
    model_.start();
    showRunState();
}

void KamazPage::BitBtnKAMAZ_STOP_INVClick() {
    shell_.StopInventoryRun();
    model_.stop();
    showRunState();
}

void KamazPage::showRunState() {
    start_->setEnabled(!model_.running());
    stop_->setEnabled(model_.running());
    timer_->setEnabled(model_.running());
}

void KamazPage::MemoKAMAZDblClick() {
    QLabel* const fields[] = {date_, time_, rota_, avto_, regSign_};
    for (int i = 0; i < 5; ++i)
        fields[i]->setText(KamazModel::Captions().at(i));
}

void KamazPage::TimerKAMAZTimer() {
    model_.tick();
}

void KamazPage::resetForStart() {
    memo_->clear();
}

void KamazPage::readerFound() {
    start_->setEnabled(true);
}

void KamazPage::readerGone() {
    if (!model_.running())
        start_->setEnabled(false);
}

} // namespace rd
