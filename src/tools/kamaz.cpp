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
    start_->setEnabled(false);
    stop_->setEnabled(true);
    KamazCountdown = 5;
    timer_->setEnabled(true);
}

void KamazPage::BitBtnKAMAZ_STOP_INVClick() {
    shell_.StopInventoryRun();
    // Ready again at once; the run control repeats the stop until the reader confirms it.
    start_->setEnabled(true);
    stop_->setEnabled(false);
    timer_->setEnabled(false);
}

void KamazPage::MemoKAMAZDblClick() {
    date_->setText(QStringLiteral("Дата: "));
    time_->setText(QStringLiteral("Время:"));
    rota_->setText(QStringLiteral("Рота: "));
    avto_->setText(QStringLiteral("Автомобиль:"));
    regSign_->setText(QStringLiteral("Регистрационный знак:"));
}

void KamazPage::TimerKAMAZTimer() {
    --KamazCountdown;
    if (KamazCountdown == 0)
        KamazCountdown = 5;
}

void KamazPage::resetForStart() {
    memo_->clear();
}

void KamazPage::readerFound() {
    start_->setEnabled(true);
}

} // namespace rd
