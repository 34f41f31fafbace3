#include "tools/saw_monitor_model.h"

#include "kit/conv.h"

namespace rd {

QStringList SawCsvLines(const std::deque<SawReading>& readings) {
    QStringList lines{QStringLiteral("Time,Tag,T,H,cf,mf,df")};
    for (const SawReading& r : readings) {
        QString line = IsoLocalDateTime(r.msecs) + QLatin1Char(',') + SawTagIds().at(r.tag) +
                       QLatin1Char(',') + QString::number(r.t) + QLatin1Char(',') + QString::number(r.h) +
                       QLatin1Char(',');
        if (r.tag == 2) {
            line += QString::number(r.cf) + QLatin1Char(',') + QString::number(r.mf) + QLatin1Char(',') +
                    QString::number(r.df);
        } else {
            line += QStringLiteral(",,");
        }
        lines << line;
    }
    return lines;
}

SawMonitorModel::SawMonitorModel(Clock clock) : clock_(clock ? std::move(clock) : Clock(&Now)) {}

SawMonitorModel::Outcome SawMonitorModel::answer(const QString& answer) {
    Outcome out;
    const QString keyword = AnswerWord(2, answer);
    if (keyword == QLatin1String("collection_start..")) {
        out.clearInfo = true;
        out.info << QStringLiteral("collection start ") << QStringLiteral("wait.. ");
        out.collectionEnabled = false;
    } else if (keyword == QLatin1String("collection_stop")) {
        out.info << QStringLiteral("collection stop ");
        out.collectionEnabled = true;
        out.readTimer = collectionStopped();
    } else if (keyword == QLatin1String("UID")) {
        const SawRecord r = DecodeSawRecord(AnswerWord(3, answer));
        if (r.tag >= 0 && !r.complete) {
            out.info << SawShortRecordLine(r);
        } else if (r.tag == 0 || r.tag == 1) {
            out.info << SawIdLine(r);
            out.labelTag = r.tag;
            out.label = SawIdLine(r);
        } else if (r.tag == 2) {
            out.info << SawFrequencyLine(r) << SawIdLine(r);
            out.labelTag = 2;
            out.label = SawTagLabel2(r);
        }
        const QDateTime now = r.complete ? clock_() : QDateTime();
        if (r.complete && r.tag == 2)
            out.dataLine = SawDataLine(TimeText(now.time()), r);
        if (r.complete) {
            addReading(r, now);
            out.readingAdded = true;
        }
        out.readAnswered = true;
        out.readTimer = readAnswered();
    } else if (keyword == QLatin1String("NO_ACK")) {
        out.readAnswered = true;
        out.readTimer = readAnswered();
    }
    return out;
}

void SawMonitorModel::addReading(const SawRecord& r, const QDateTime& now) {
    SawReading reading;
    reading.msecs = now.toMSecsSinceEpoch();
    reading.tag = r.tag;
    reading.t = r.t;
    reading.h = r.h;
    reading.cf = r.cf;
    reading.mf = r.mf;
    reading.df = r.df;
    readings_.push_back(reading);
    if (readings_.size() > std::size_t(kKeptReadings))
        readings_.pop_front();
}

SawMonitorModel::ReadTimer SawMonitorModel::setReadAfter(bool on) {
    readAfter_ = on;
    return on ? ReadTimer{} : stopReads();
}

SawMonitorModel::ReadTimer SawMonitorModel::collectionStopped() {
    if (!readAfter_ || readStep_ >= 0)
        return {};
    readStep_ = 0;
    awaitingAnswer_ = false;
    return {ReadTimer::Restart, kReadGapMs};
}

SawMonitorModel::ReadTimer SawMonitorModel::readAnswered() {
    if (readStep_ < 0 || !awaitingAnswer_)
        return {};
    awaitingAnswer_ = false;
    if (++readStep_ > 2)
        return stopReads();
    return {ReadTimer::Restart, kReadGapMs};
}

SawMonitorModel::ReadTick SawMonitorModel::readTimerFired() {
    if (readStep_ < 0)
        return {};
    if (awaitingAnswer_) {
        // No answer in time: that tag is given up, the next one is read.
        awaitingAnswer_ = false;
        if (++readStep_ > 2)
            return {-1, stopReads()};
    }
    awaitingAnswer_ = true;
    return {readStep_, {ReadTimer::Restart, kReadTimeoutMs}};
}

SawMonitorModel::ReadTimer SawMonitorModel::stopReads() {
    readStep_ = -1;
    awaitingAnswer_ = false;
    return {ReadTimer::Stop, 0};
}

QStringList SawMonitorModel::startPeriodic(int32_t period) {
    ticks_ = WrapSub(period, 1);
    period_ = period;
    periodicOn_ = true;
    blinkRed_ = false;
    return {QStringLiteral("process start.."), QStringLiteral("period ") + QString::number(period)};
}

QString SawMonitorModel::stopPeriodic() {
    periodicOn_ = false;
    return QStringLiteral("process stop");
}

SawMonitorModel::PeriodicTick SawMonitorModel::periodicTick() {
    PeriodicTick tick;
    ticks_ = WrapAdd(ticks_, 1);
    if (ticks_ == period_) {
        ticks_ = 0;
        tick.collect = true;
        tick.message = QStringLiteral("collection..");
    }
    blinkRed_ = !blinkRed_;
    tick.blinkRed = blinkRed_;
    tick.countText = QString::number(WrapSub(period_, ticks_));
    return tick;
}

} // namespace rd
