#include "tools/tool_text.h"

#include "kit/conv.h"
#include "link/frames.h"

namespace rd {

QString AnswerWord(int n, const QString& answer) {
    // Answer texts hold one character per received byte, so the narrowing is lossless.
    const QByteArray bytes = NarrowText(answer);
    return WidenBytes(GetAnswerWord(n, std::string_view(bytes.constData(), std::size_t(bytes.size()))));
}

} // namespace rd
