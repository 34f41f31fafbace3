#include "tools/sweep_model.h"

#include "kit/errors.h"
#include "panels/commands.h"

namespace rd {

SweepModel::Outcome SweepModel::start(const QString& stepsText, const QString& cyclesText) {
    const SweepSteps steps = ParseSweepSteps(stepsText.toStdString());
    if (!steps.error.empty())
        throw AppError(QStringLiteral("Bad value in the attenuation steps box (ComboBoxSWEEP_STEPS): %1")
                           .arg(QString::fromStdString(steps.error)));
    const std::optional<int> cycles = ParseSweepCycles(cyclesText.toStdString());
    if (!cycles)
        throw AppError(QStringLiteral("Bad value in the cycles per step box (ComboBoxSWEEP_CYCLES): %1; "
                                      "a whole number from 1 to 100000")
                           .arg(cyclesText.trimmed()));
    failure_.clear();
    return act(sweep_.start(steps.values, *cycles));
}

SweepModel::Outcome SweepModel::answer(const QString& answer) {
    if (!sweep_.active())
        return {};
    const Sweep::State before = sweep_.state();
    Outcome out = act(sweep_.answer(answer.toLatin1().toStdString()));
    out.stateChanged = out.stateChanged || sweep_.state() != before;
    out.counted = before == Sweep::State::Running;
    return out;
}

SweepModel::Outcome SweepModel::stopEnded(bool confirmed) {
    return act(sweep_.stopEnded(confirmed));
}

SweepModel::Outcome SweepModel::cancel() {
    const bool was = sweep_.active();
    Outcome out = act(sweep_.cancel());
    out.stateChanged = was;
    return out;
}

SweepModel::Outcome SweepModel::connectionEnded() {
    if (!sweep_.active())
        return {};
    sweep_.cancel();
    failure_ = QStringLiteral("the connection ended at %1 dB").arg(sweep_.stepValue(sweep_.step()));
    Outcome out;
    out.stateChanged = true;
    return out;
}

SweepModel::Outcome SweepModel::act(Sweep::Do d) {
    Outcome out;
    if (d == Sweep::Do::Start) {
        out.setAttOut = cmd::SetAttOut(QString::number(sweep_.stepValue(sweep_.step())));
        out.startInventory = true;
        out.stateChanged = true;
    } else if (d == Sweep::Do::Stop) {
        out.stopInventory = true;
    }
    if (!sweep_.active())
        out.stateChanged = true;
    return out;
}

QString SweepModel::progressText() const {
    if (sweep_.state() == Sweep::State::Idle || sweep_.stepCount() == 0)
        return {};
    return QStringLiteral("step %1 of %2, %3 dB")
        .arg(sweep_.step() + 1)
        .arg(sweep_.stepCount())
        .arg(sweep_.stepValue(sweep_.step()));
}

QString SweepModel::stateText() const {
    switch (sweep_.state()) {
    case Sweep::State::Idle:
        return {};
    case Sweep::State::Running:
    case Sweep::State::Stopping:
        return QStringLiteral("sweep: ") + progressText();
    case Sweep::State::Done:
        return QStringLiteral("sweep done: %1 steps, %2 tags")
            .arg(sweep_.stepCount())
            .arg(sweep_.epcs().size());
    case Sweep::State::Cancelled:
        if (!failure_.isEmpty())
            return QStringLiteral("sweep failed: ") + failure_;
        return QStringLiteral("sweep stopped at ") + progressText();
    case Sweep::State::Failed:
        return QStringLiteral("sweep failed: ") + QString::fromStdString(sweep_.failure());
    }
    return {};
}

QString SweepModel::stepCaption(int step) const {
    return QStringLiteral("%1 dB").arg(sweep_.stepValue(step));
}

QStringList SweepModel::csvLines() const {
    QStringList lines;
    for (const std::string& line : sweep_.csvLines())
        lines << QString::fromLatin1(line.data(), qsizetype(line.size()));
    return lines;
}

} // namespace rd
