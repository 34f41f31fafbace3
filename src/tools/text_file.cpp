#include "tools/tool_text.h"

#include "kit/errors.h"

#include <QDir>
#include <QSaveFile>

namespace rd {

namespace {

QByteArray FileBytes(const QString& line, FileText text) {
    if (text == FileText::Typed)
        return line.toUtf8();
    QByteArray bytes(line.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char16_t c = line[i].unicode();
        bytes[i] = c <= 0xFF ? char(c) : '?';
    }
    return bytes;
}

} // namespace

void WriteTextLinesFile(const QString& path, const QStringList& lines, FileText text) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw AppError(QStringLiteral("Cannot create file \"%1\". %2")
                           .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
    for (const QString& line : lines) {
        const QByteArray bytes = FileBytes(line, text) + "\r\n";
        if (file.write(bytes) != bytes.size())
            break; // commit() reports the failure and leaves the earlier file alone
    }
    if (!file.commit()) {
        throw AppError(QStringLiteral("Cannot write file \"%1\". %2")
                           .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
}

} // namespace rd
