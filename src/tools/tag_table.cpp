#include "tools/tag_table.h"

#include "tools/tool_text.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cmath>

namespace rd {

namespace {

constexpr int64_t kRateWindowMs = 1000;

// A word that is a finite number, in the C locale (a point as the decimal separator).
bool NumberOf(const QString& word, double* value) {
    bool ok = false;
    const double v = QLocale::c().toDouble(word, &ok);
    if (!ok || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

QString NumberText(double v) {
    return QString::number(v, 'g', 15);
}

QString TimeOfDay(int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString CsvField(const QString& s) {
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n')) &&
        !s.contains(QLatin1Char('\r')))
        return s;
    QString quoted = s;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// -1, 0 or 1 for a < b, a == b, a > b; a missing number comes before every number.
int CompareNumbers(bool hasA, double a, bool hasB, double b) {
    if (hasA != hasB)
        return hasA ? 1 : -1;
    if (!hasA || a == b)
        return 0;
    return a < b ? -1 : 1;
}

template <class T> int Compare(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

const QStringList& TagTable::Headers() {
    static const QStringList headers = {QStringLiteral("EPC"),        QStringLiteral("Antenna"),
                                        QStringLiteral("Reads"),      QStringLiteral("Signal"),
                                        QStringLiteral("Min"),        QStringLiteral("Max"),
                                        QStringLiteral("First seen"), QStringLiteral("Last seen")};
    return headers;
}

TagTable::TagTable(Clock clock) : clock_(std::move(clock)) {}

bool TagTable::answer(const QString& answer) {
    return take(answer, nullptr);
}

bool TagTable::answerAt(const QString& answer, int64_t atMs) {
    return take(answer, &atMs);
}

bool TagTable::take(const QString& answer, const int64_t* atMs) {
    const QString keyword = AnswerWord(2, answer);
    const bool cycle = keyword == QLatin1String("START_INVENTORY");
    if (!cycle && keyword != QLatin1String("INV"))
        return false;
    QString epc;
    if (!cycle) {
        epc = AnswerWord(5, answer);
        if (epc.isEmpty())
            return false;
    }
    // The clock is read for counted answers only.
    const int64_t now = atMs ? *atMs : clock_();
    if (!counting_) {
        counting_ = true;
        firstCountedMs_ = now;
    }
    lastCountedMs_ = std::max(lastCountedMs_, now);
    if (cycle) {
        ++cycles_;
        ++runCycles_;
        return true;
    }

    ++reads_;
    ++runReads_;
    // The rate's times never go back, whatever the clock does.
    const int64_t at = recent_.empty() ? now : std::max(now, recent_.back().first);
    if (!recent_.empty() && recent_.back().first == at)
        ++recent_.back().second;
    else
        recent_.emplace_back(at, 1);
    while (recent_.front().first <= at - kRateWindowMs)
        recent_.pop_front();

    double signal = 0;
    const bool hasSignal = NumberOf(AnswerWord(6, answer), &signal);
    auto it = index_.constFind(epc);
    int i = 0;
    if (it != index_.constEnd()) {
        i = it.value();
    } else {
        i = int(rows_.size());
        index_.insert(epc, i);
        TagRow r;
        r.epc = epc;
        r.firstMs = now;
        r.run = runNo_ - 1; // not yet read in this run
        rows_.push_back(std::move(r));
    }
    TagRow& r = rows_[std::size_t(i)];
    if (r.run != runNo_) {
        r.run = runNo_;
        ++runTags_;
    }
    r.antenna = AnswerWord(3, answer);
    ++r.reads;
    r.hasSignal = hasSignal;
    r.signal = signal;
    if (hasSignal) {
        r.min = r.hasRange ? std::min(r.min, signal) : signal;
        r.max = r.hasRange ? std::max(r.max, signal) : signal;
        r.hasRange = true;
    }
    r.lastMs = now;
    touched(i);
    return true;
}

void TagTable::touched(int row) {
    if (changedFirst_ < 0) {
        changedFirst_ = changedLast_ = row;
        return;
    }
    changedFirst_ = std::min(changedFirst_, row);
    changedLast_ = std::max(changedLast_, row);
}

std::pair<int, int> TagTable::takeChanged() {
    const std::pair<int, int> span{changedFirst_, changedLast_};
    changedFirst_ = changedLast_ = -1;
    return span;
}

void TagTable::clear() {
    rows_.clear();
    index_.clear();
    reads_ = cycles_ = 0;
    runTags_ = 0;
    runReads_ = runCycles_ = 0;
    if (run_ == Run::Running)
        runStartMs_ = clock_();
    else
        run_ = Run::None;
    counting_ = false;
    firstCountedMs_ = lastCountedMs_ = 0;
    recent_.clear();
    changedFirst_ = changedLast_ = -1;
}

void TagTable::startRun() {
    ++runNo_;
    runTags_ = 0;
    runReads_ = runCycles_ = 0;
    run_ = Run::Running;
    runStartMs_ = clock_();
}

void TagTable::endRun() {
    if (run_ != Run::Running)
        return;
    run_ = Run::Ended;
    runEndMs_ = std::max(clock_(), runStartMs_);
}

QString TagTable::text(int row, int column) const {
    const TagRow& r = rows_[std::size_t(row)];
    switch (column) {
    case kEpc:
        return r.epc;
    case kAntenna:
        return r.antenna;
    case kReads:
        return QString::number(r.reads);
    case kSignal:
        return r.hasSignal ? NumberText(r.signal) : QString();
    case kMin:
        return r.hasRange ? NumberText(r.min) : QString();
    case kMax:
        return r.hasRange ? NumberText(r.max) : QString();
    case kFirstSeen:
        return TimeOfDay(r.firstMs);
    case kLastSeen:
        return TimeOfDay(r.lastMs);
    default:
        return QString();
    }
}

int TagTable::compare(int rowA, int rowB, int column) const {
    const TagRow& a = rows_[std::size_t(rowA)];
    const TagRow& b = rows_[std::size_t(rowB)];
    int order = 0;
    switch (column) {
    case kEpc:
        order = Compare(a.epc, b.epc);
        break;
    case kAntenna: {
        double na = 0;
        double nb = 0;
        const bool ha = NumberOf(a.antenna, &na);
        const bool hb = NumberOf(b.antenna, &nb);
        order = ha == hb ? (ha ? CompareNumbers(true, na, true, nb) : Compare(a.antenna, b.antenna))
                         : CompareNumbers(ha, na, hb, nb);
        break;
    }
    case kReads:
        order = Compare(a.reads, b.reads);
        break;
    case kSignal:
        order = CompareNumbers(a.hasSignal, a.signal, b.hasSignal, b.signal);
        break;
    case kMin:
        order = CompareNumbers(a.hasRange, a.min, b.hasRange, b.min);
        break;
    case kMax:
        order = CompareNumbers(a.hasRange, a.max, b.hasRange, b.max);
        break;
    case kFirstSeen:
        order = Compare(a.firstMs, b.firstMs);
        break;
    case kLastSeen:
        order = Compare(a.lastMs, b.lastMs);
        break;
    default:
        break;
    }
    return order;
}

double TagTable::rate() const {
    if (recent_.empty())
        return 0;
    const int64_t now = std::max(clock_(), recent_.back().first);
    int64_t n = 0;
    for (auto it = recent_.rbegin(); it != recent_.rend() && it->first > now - kRateWindowMs; ++it)
        n += it->second;
    return double(n) * 1000.0 / double(kRateWindowMs);
}

double TagTable::elapsedSeconds() const {
    switch (run_) {
    case Run::Running:
        return double(std::max<int64_t>(clock_() - runStartMs_, 0)) / 1000.0;
    case Run::Ended:
        return double(runEndMs_ - runStartMs_) / 1000.0;
    case Run::None:
        break;
    }
    return counting_ ? double(lastCountedMs_ - firstCountedMs_) / 1000.0 : 0.0;
}

QString TagTable::summary() const {
    return QStringLiteral("Tags: %1   Reads: %2   Cycles: %3   Rate: %4 reads/s   Elapsed: %5 s")
        .arg(runTags_)
        .arg(runReads_)
        .arg(runCycles_)
        .arg(QString::number(rate(), 'f', 1), QString::number(elapsedSeconds(), 'f', 1));
}

QString TagTable::totalText() const {
    return QStringLiteral("since CLEAR: Tags: %1   Reads: %2   Cycles: %3")
        .arg(tags())
        .arg(reads_)
        .arg(cycles_);
}

QString TagTable::CsvHeader() {
    QStringList fields;
    for (const QString& h : Headers())
        fields << CsvField(h);
    return fields.join(QLatin1Char(','));
}

QString TagTable::csvLine(int row) const {
    const TagRow& r = rows_[std::size_t(row)];
    QStringList fields;
    for (int c = 0; c < kColumnCount; ++c) {
        if (c == kFirstSeen)
            fields << IsoLocalDateTime(r.firstMs);
        else if (c == kLastSeen)
            fields << IsoLocalDateTime(r.lastMs);
        else
            fields << CsvField(text(row, c));
    }
    return fields.join(QLatin1Char(','));
}

} // namespace rd
