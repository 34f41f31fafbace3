#include "tools/inv_log_model.h"

#include "tools/tool_text.h"

#include "kit/conv.h"

namespace rd {

InvLogModel::InvLogModel(Clock clock) : clock_(clock ? std::move(clock) : Clock(&Now)) {}

InvLogModel::Outcome InvLogModel::answer(const QString& answer, bool logOn) {
    Outcome out;
    if (!logOn)
        return out;
    const QString keyword = AnswerWord(2, answer);
    if (keyword == QLatin1String("START_INVENTORY"))
        cycles_ = WrapAdd(cycles_, 1);
    if (keyword != QLatin1String("INV"))
        return out;
    out.logged = true;
    out.infoLine =
        InvLogInfoLine(TimeText(clock_().time()), cycles_, AnswerWord(5, answer), AnswerWord(6, answer));
    if (!seen_.contains(answer)) {
        seen_.insert(answer);
        out.distinct = true;
    }
    return out;
}

QString InvLogModel::capacityText() const {
    return QStringLiteral("CAPACITY: ") + QString::number(distinct());
}

} // namespace rd
