// The console's history: the commands sent from ComboBoxUTIL_COMMAND, newest first, each
// once, at most kMax of them. The window shows them above the presets and keeps them in
// the settings under kKey.
#pragma once

#include <QString>
#include <QStringList>

namespace rd {

class ConsoleHistory {
  public:
    static constexpr int kMax = 50;
    static constexpr const char* kKey = "console/history";

    // Takes a kept list (newest first); empty and repeated items and those past kMax go.
    void load(const QStringList& items);
    // command becomes the newest item; an earlier equal item goes. An empty or blank
    // command is not kept. Returns whether the list changed.
    bool add(const QString& command);
    const QStringList& items() const { return items_; }

  private:
    QStringList items_;
};

} // namespace rd
