#include "tools/kamaz_model.h"

namespace rd {

void KamazModel::start() {
    running_ = true;
    countdown_ = kCountdownFrom;
}

void KamazModel::tick() {
    --countdown_;
    if (countdown_ == 0)
        countdown_ = kCountdownFrom;
}

const QStringList& KamazModel::Captions() {
    static const QStringList captions = {QStringLiteral("Дата: "), QStringLiteral("Время:"),
                                         QStringLiteral("Рота: "), QStringLiteral("Автомобиль:"),
                                         QStringLiteral("Регистрационный знак:")};
    return captions;
}

} // namespace rd
