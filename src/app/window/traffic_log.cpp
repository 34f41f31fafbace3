#include "app/window/traffic_log.h"

#include "kit/errors.h"

#include <QDateTime>

namespace rd {

TrafficLog::TrafficLog(const QString& path) : file_(path) {
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append))
        throw AppError(QStringLiteral("Cannot open traffic log %1: %2").arg(path, file_.errorString()));
}

bool TrafficLog::write(const QString& line) {
    // The wall clock, not the window's replaceable one: the log is for people reading it later.
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    const QByteArray bytes = (stamp + QLatin1Char(' ') + line + QLatin1Char('\n')).toUtf8();
    const bool written = file_.write(bytes) == bytes.size();
    return file_.flush() && written;
}

} // namespace rd
