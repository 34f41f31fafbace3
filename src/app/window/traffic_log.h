// The traffic log: every terminal line and every discovery message, one line each with
// the time of day (milliseconds included) in front, appended to a file as it happens.
#pragma once

#include <QFile>
#include <QString>

namespace rd {

class TrafficLog {
  public:
    // Opens path for appending; throws AppError with the path and the reason when it cannot.
    explicit TrafficLog(const QString& path);

    // "2024-05-01 13:45:12.345 " + line + "\n", written and flushed at once. False when the
    // line did not reach the file (a full disk, /dev/full); errorString() says why.
    bool write(const QString& line);
    QString errorString() const { return file_.errorString(); }
    QString path() const { return file_.fileName(); }

  private:
    QFile file_;
};

} // namespace rd
