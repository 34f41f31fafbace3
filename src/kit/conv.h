// Conversions of box texts and of the clock, shared by every page.
#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <string>

class QWidget;

namespace rd {

// Integer value of a box text: leading blanks, an optional sign, then decimal digits,
// or hexadecimal digits after "$" or "0x". Anything else raises AppError with the text
// "''<text>'' is not a valid integer value".
int StrToInt(const QString& text);

// The local clock, replaceable by tests.
QDateTime Now();
void SetClockForTesting(std::function<QDateTime()> clock); // empty function: the real clock
// Now() as milliseconds since the epoch; without a test clock it skips the local time
// conversion, which costs some microseconds.
qint64 NowMs();

// Time of day in the locale's long time format (hours, minutes, seconds), without a
// time-zone part.
QString TimeText(const QTime& t);
// TimeText of Now(). The text is made again only when the second changes: the clock label
// asks for it at every tick of the main timer.
QString TimeText();

// A save-file dialog: shows it with the suggested file name in the folder of the last file
// saved (kept in the settings), else in the user's documents folder, and returns the chosen
// path, or "" when the user cancelled. Tests replace the dialog with a function; the folder
// of the path it gives is kept all the same.
QString ExecuteSaveDialog(QWidget* parent, const QString& objectName, const QString& suggestedName);
void SetSaveDialogForTesting(std::function<QString(const QString& objectName, const QString& suggested)> fn);
// An open-file dialog for an existing file: the chosen path, or "" when the user cancelled.
// Tests replace the dialog with a function.
QString ExecuteOpenDialog(QWidget* parent, const QString& objectName);
void SetOpenDialogForTesting(std::function<QString(const QString& objectName)> fn);

// The low 8 bits of every character code become one byte, and back (Latin-1 both ways,
// with no replacement characters).
QByteArray NarrowText(const QString& s);
QString WidenBytes(const char* bytes, int count);
inline QString WidenBytes(const std::string& s) {
    return WidenBytes(s.data(), int(s.size()));
}

} // namespace rd
