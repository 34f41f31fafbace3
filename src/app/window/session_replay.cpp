// A recorded session loaded into the window: every line into the terminal with its recorded
// time, every answer into the TAGS table as if it arrived now but at the time it was recorded.
#include "app/window/main_window.h"

#include "app/window/status_bar.h"
#include "kit/conv.h"
#include "kit/errors.h"
#include "link/frames.h"
#include "protocol/recording.h"
#include "tools/tags_page.h"

#include <QDir>
#include <QFile>

namespace rd {

namespace {

constexpr int64_t kDayMs = 24LL * 3600 * 1000;

// ">> 01 3A 30 ...": the terminal line of a request to address with the frame's bytes.
QString RequestLine(int address, const std::string& frame) {
    QString line = QStringLiteral(">> %1").arg(address & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
    for (unsigned char b : frame)
        line += QStringLiteral(" %1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return line;
}

} // namespace

void TFormQUOR::openSession(const QString& path) {
    proto::Recording recording;
    try {
        recording = proto::ReadRecording(QFile::encodeName(path).toStdString());
    } catch (const proto::RecordingError& e) {
        throw AppError(QStringLiteral("Cannot open session %1: %2")
                           .arg(QDir::toNativeSeparators(path), QString::fromStdString(e.what())));
    }
    // The recorded times are the local clock's; monitor output has no date: today's.
    const QDate firstDay = recording.dated() ? QDate(1970, 1, 1) : QDate::currentDate();
    auto wallMs = [&](int64_t ms) {
        const int64_t days = ms >= 0 ? ms / kDayMs : -((-ms + kDayMs - 1) / kDayMs);
        const QTime time = QTime::fromMSecsSinceStartOfDay(int(ms - days * kDayMs));
        return int64_t(QDateTime(firstDay.addDays(days), time).toMSecsSinceEpoch());
    };
    for (const proto::RecordedLine& l : recording.lines) {
        const int64_t at = wallMs(l.ms);
        switch (l.kind) {
        case proto::RecordedKind::Request:
            appendRecordedTerminal(RequestLine(l.address, l.bytes), at, l.ms);
            break;
        case proto::RecordedKind::Answer: {
            appendRecordedTerminal(
                QString::fromLatin1(AnswerTerminalLine(reinterpret_cast<const uint8_t*>(l.bytes.data()),
                                                       int(l.bytes.size()))),
                at, l.ms);
            const std::string_view frame = proto::AnswerFrame(l.bytes);
            pageTAGS->TagsAnswerAt(WidenBytes(frame.data(), int(frame.size())), at);
            break;
        }
        case proto::RecordedKind::Message:
            appendRecordedTerminal(QString::fromUtf8(l.bytes), at, l.ms);
            break;
        }
    }
    statusBar_->showReplay(path);
}

} // namespace rd
