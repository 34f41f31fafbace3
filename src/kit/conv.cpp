#include "kit/conv.h"

#include "kit/errors.h"
#include "kit/settings.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>

#include <limits>

namespace rd {

namespace {
std::function<QDateTime()>& clockFn() {
    static std::function<QDateTime()> fn;
    return fn;
}
std::function<QString(const QString&, const QString&)>& saveFn() {
    static std::function<QString(const QString&, const QString&)> fn;
    return fn;
}

// The folder of the last file saved, in the settings.
const QString kSaveFolderKey = QStringLiteral("dialogs/saveFolder");

// Where a save dialog opens: the folder of the last file saved while it is there, else the
// user's documents folder, else the home folder.
QString SaveFolder() {
    if (auto settings = OpenSettings()) {
        const QString kept = settings->value(kSaveFolderKey).toString();
        if (!kept.isEmpty() && QFileInfo(kept).isDir())
            return kept;
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

QString KeepSaveFolder(const QString& chosen) {
    if (auto settings = OpenSettings(); settings && !chosen.isEmpty())
        settings->setValue(kSaveFolderKey, QFileInfo(chosen).absolutePath());
    return chosen;
}

std::function<QString(const QString&)>& openFn() {
    static std::function<QString(const QString&)> fn;
    return fn;
}

int hexValue(QChar c) {
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}
} // namespace

int StrToInt(const QString& text) {
    auto fail = [&text]() -> int {
        throw AppError(QStringLiteral("''%1'' is not a valid integer value").arg(text));
    };
    int i = 0;
    const int n = int(text.size());
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    bool hex = false;
    if (i < n && text[i] == QLatin1Char('$')) {
        hex = true;
        ++i;
    } else if (i + 1 < n && text[i] == QLatin1Char('0') &&
               (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
        hex = true;
        i += 2;
    }
    if (i >= n)
        return fail();
    quint64 value = 0;
    const quint64 limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    for (; i < n; ++i) {
        const int d = hexValue(text[i]);
        if (d < 0 || (!hex && d > 9))
            return fail();
        value = value * (hex ? 16 : 10) + quint64(d);
        if (value > limit)
            return fail();
    }
    // Hexadecimal texts cover the whole 32-bit pattern, as the toolkit's conversion does.
    const qint64 v = hex ? qint64(qint32(quint32(value))) : qint64(value);
    return int(negative ? -v : v);
}

QDateTime Now() {
    return clockFn() ? clockFn()() : QDateTime::currentDateTime();
}

qint64 NowMs() {
    return clockFn() ? clockFn()().toMSecsSinceEpoch() : QDateTime::currentMSecsSinceEpoch();
}

void SetClockForTesting(std::function<QDateTime()> clock) {
    clockFn() = std::move(clock);
}

QString TimeText() {
    thread_local qint64 shownSecond = std::numeric_limits<qint64>::min();
    thread_local QString shown;
    const qint64 ms = NowMs();
    // Whole seconds, also before 1970; the local time changes its offset only on whole seconds.
    const qint64 second = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    if (second != shownSecond) {
        shown = TimeText(Now().time());
        shownSecond = second;
    }
    return shown;
}

QString TimeText(const QTime& t) {
    static const QString format = [] {
        QString f = QLocale().timeFormat(QLocale::LongFormat);
        // Drop the time-zone part ("t", "tt", ...) and the blanks around it.
        f.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*")));
        return f.trimmed();
    }();
    return QLocale().toString(t, format);
}

QString ExecuteSaveDialog(QWidget* parent, const QString& objectName, const QString& suggestedName) {
    if (saveFn())
        return KeepSaveFolder(saveFn()(objectName, suggestedName));
    QFileDialog dialog(parent);
    dialog.setObjectName(objectName);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The chosen name is a base name: the files written are it plus a suffix, and the file
    // of that very name is left alone, so there is nothing to ask about replacing it.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.selectFile(QDir(SaveFolder()).filePath(suggestedName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return KeepSaveFolder(dialog.selectedFiles().first());
}

void SetSaveDialogForTesting(std::function<QString(const QString&, const QString&)> fn) {
    saveFn() = std::move(fn);
}

QString ExecuteOpenDialog(QWidget* parent, const QString& objectName) {
    if (openFn())
        return openFn()(objectName);
    QFileDialog dialog(parent);
    dialog.setObjectName(objectName);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

void SetOpenDialogForTesting(std::function<QString(const QString& objectName)> fn) {
    openFn() = std::move(fn);
}

QByteArray NarrowText(const QString& s) {
    QByteArray out(s.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < s.size(); ++i)
        out[i] = char(s[i].unicode() & 0xFF);
    return out;
}

QString WidenBytes(const char* bytes, int count) {
    return QString::fromLatin1(bytes, count);
}

} // namespace rd
