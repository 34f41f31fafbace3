#include "app/window/console_history.h"

namespace rd {

void ConsoleHistory::load(const QStringList& items) {
    items_.clear();
    for (const QString& item : items) {
        if (items_.size() >= kMax)
            break;
        if (!item.trimmed().isEmpty() && !items_.contains(item))
            items_ << item;
    }
}

bool ConsoleHistory::add(const QString& command) {
    if (command.trimmed().isEmpty())
        return false;
    if (!items_.isEmpty() && items_.front() == command)
        return false;
    items_.removeAll(command);
    items_.prepend(command);
    while (items_.size() > kMax)
        items_.removeLast();
    return true;
}

} // namespace rd
