// The program's settings between runs: the user's configuration folder (on Linux
// $XDG_CONFIG_HOME/ReaderDesk/, else ~/.config/ReaderDesk/). "--no-settings" switches them off:
// nothing is read and nothing is written.
#pragma once

#include <QSettings>

#include <memory>

namespace rd {

void SetSettingsEnabled(bool enabled);
bool SettingsEnabled();

// The store, or null while settings are off. Each caller opens its own and lets it go when
// done; QSettings writes it back then.
std::unique_ptr<QSettings> OpenSettings();

} // namespace rd
