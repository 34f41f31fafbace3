#include "kit/settings.h"

#include <atomic>

namespace rd {

namespace {
std::atomic<bool> g_enabled{true};
} // namespace

void SetSettingsEnabled(bool enabled) {
    g_enabled = enabled;
}

bool SettingsEnabled() {
    return g_enabled;
}

std::unique_ptr<QSettings> OpenSettings() {
    if (!g_enabled)
        return nullptr;
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("ReaderDesk"), QStringLiteral("readerdesk"));
}

} // namespace rd
