#include "app/window/status_bar.h"

#include "kit/widgets.h"
#include "link/frames.h"

#include <QFileInfo>
#include <QLabel>

namespace rd {

namespace {

const QString kDot = QStringLiteral(" · ");
// The line settings every connection uses, as people write them.
const QString kLineSettings = QStringLiteral("115200 8N2");

bool IsTcp(const std::string& port) {
    return port.rfind("tcp://", 0) == 0;
}

// Sets a part's text and hands it to assistive technology with it.
void SetPart(QLabel* part, const QString& text) {
    if (part->text() == text)
        return;
    part->setText(text);
    part->setAccessibleDescription(text);
}

QLabel* MakePart(QStatusBar* bar, const char* name, const QString& accessibleName) {
    auto* part = new QLabel(bar);
    part->setObjectName(QLatin1String(name));
    part->setAccessibleName(accessibleName);
    part->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return part;
}

} // namespace

namespace link_status {

QString connected(const std::string& port, const std::string& identifier) {
    QString text = QString::fromStdString(port) + kDot +
                   (identifier.empty() ? QStringLiteral("opened without identification")
                                       : QString::fromStdString(identifier));
    if (!IsTcp(port))
        text += kDot + kLineSettings;
    return text;
}

QString lost(const std::string& port) {
    return QString::fromStdString(port) + QStringLiteral(": connection lost — retrying");
}

QString scanning(const std::string& port) {
    return QStringLiteral("Scanning %1… (Esc cancels)").arg(QString::fromStdString(port));
}

QString notConnected() {
    return QStringLiteral("Not connected — press COM");
}

QString nothingFound() {
    return QStringLiteral("No reader found — see UTIL for each port's reason");
}

} // namespace link_status

void RunTally::start() {
    reads_.clear();
    epcs_.clear();
}

void RunTally::answer(std::string_view bytes, int64_t nowMs) {
    if (GetAnswerWord(2, bytes) != "INV")
        return;
    const std::string epc = GetAnswerWord(5, bytes);
    if (epc.empty())
        return;
    reads_.push_back(nowMs);
    epcs_.insert(QByteArray(epc.data(), qsizetype(epc.size())), 0);
}

int RunTally::readsLastSecond(int64_t nowMs) {
    while (!reads_.empty() && nowMs - reads_.front() >= 1000)
        reads_.pop_front();
    return int(reads_.size());
}

WindowStatusBar::WindowStatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("StatusBarMAIN"));
    setAccessibleName(QStringLiteral("status"));
    setSizeGripEnabled(false);
    link_ = MakePart(this, "LabelSTATUS_LINK", QStringLiteral("connection"));
    run_ = MakePart(this, "LabelSTATUS_RUN", QStringLiteral("inventory run state"));
    rate_ = MakePart(this, "LabelSTATUS_RATE", QStringLiteral("inventory reads"));
    log_ = MakePart(this, "LabelSTATUS_LOG", QStringLiteral("traffic log"));
    replay_ = MakePart(this, "LabelSTATUS_REPLAY", QStringLiteral("recorded session"));
    sweep_ = MakePart(this, "LabelSTATUS_SWEEP", QStringLiteral("attenuation sweep"));
    addWidget(link_, 3);
    addWidget(run_, 2);
    addWidget(rate_, 2);
    addWidget(log_, 2);
    addWidget(replay_, 2);
    addWidget(sweep_, 2);
    rate_->hide();
    log_->hide();
    replay_->hide();
    sweep_->hide();
    showLink(link_status::notConnected(), false);
}

void WindowStatusBar::showLink(const QString& text, bool lost) {
    SetPart(link_, text);
    const QColor color = lost ? colors::red() : colors::black();
    if (FontColor(link_) != color)
        SetFontColor(link_, color);
}

void WindowStatusBar::showRunState(const QString& text, const QColor& color) {
    SetPart(run_, text);
    if (FontColor(run_) != color)
        SetFontColor(run_, color);
}

void WindowStatusBar::showRate(int readsPerSecond, int distinct) {
    SetPart(rate_, QStringLiteral("%1 reads/s · %2 EPCs").arg(readsPerSecond).arg(distinct));
    rate_->show();
}

void WindowStatusBar::hideRate() {
    rate_->hide();
    SetPart(rate_, QString());
}

void WindowStatusBar::showLog(const QString& path) {
    SetPart(log_, path.isEmpty() ? QString() : QStringLiteral("log: ") + QFileInfo(path).fileName());
    log_->setToolTip(path);
    log_->setVisible(!path.isEmpty());
}

void WindowStatusBar::showReplay(const QString& path) {
    SetPart(replay_, path.isEmpty() ? QString() : QStringLiteral("replay of ") + QFileInfo(path).fileName());
    replay_->setToolTip(path);
    replay_->setVisible(!path.isEmpty());
}

void WindowStatusBar::showSweep(const QString& text) {
    SetPart(sweep_, text);
    sweep_->setVisible(!text.isEmpty());
}

} // namespace rd
