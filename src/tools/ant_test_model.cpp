#include "tools/ant_test_model.h"

#include "tools/tool_text.h"

namespace rd {

void AntTestModel::start(int32_t stopCount) {
    stopCount_ = stopCount;
    started_ = true;
    autoStopArmed_ = true;
    cycles_ = 0;
    tags_ = 0;
    seen_.clear();
}

AntTestModel::Outcome AntTestModel::answer(const QString& answer, bool stopPending) {
    Outcome out;
    // Answers of a run that is being stopped are neither counted nor shown.
    if (stopPending)
        return out;
    out.shown = true;
    if (!started_)
        return out;
    const QString keyword = AnswerWord(2, answer);
    if (keyword == QLatin1String("START_INVENTORY")) {
        cycles_ = WrapAdd(cycles_, 1);
        out.cycleCounted = true;
        // The test's own inventory is stopped once; cycles of later inventories begun on
        // other pages are counted on, but those inventories are theirs to stop.
        out.stopInventory = autoStopArmed_ && cycles_ >= stopCount_;
    } else if (keyword == QLatin1String("INV")) {
        if (!seen_.contains(answer)) {
            seen_.insert(answer);
            tags_ = WrapAdd(tags_, 1);
            out.tagAdded = true;
        }
    }
    return out;
}

QString AntTestModel::cycleText() const {
    return QStringLiteral("INV:") + QString::number(cycles_);
}

QString AntTestModel::tagText() const {
    return QStringLiteral("TAGs:") + QString::number(tags_);
}

} // namespace rd
