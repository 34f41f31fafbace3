#include "tools/tool_text.h"

#include "kit/errors.h"

#include <QDir>
#include <QSaveFile>
#include <QStringEncoder>

namespace rd {

void WriteTextLinesFile(const QString& path, const QStringList& lines) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw AppError(QStringLiteral("Cannot create file \"%1\". %2")
                           .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
    QStringEncoder encode(QStringConverter::System);
    for (const QString& line : lines) {
        const QByteArray bytes = encode(line + QStringLiteral("\r\n"));
        if (file.write(bytes) != bytes.size())
            break; // commit() reports the failure and leaves the earlier file alone
    }
    if (!file.commit()) {
        throw AppError(QStringLiteral("Cannot write file \"%1\". %2")
                           .arg(QDir::toNativeSeparators(path), file.errorString()));
    }
}

} // namespace rd
