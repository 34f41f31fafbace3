#include "bridge/event_log.h"

#include "bridge/bridge_messages.h"

#include <cerrno>
#include <cstring>

namespace rd::bridge {

EventLog::~EventLog() {
    if (own_)
        std::fclose(file_);
}

bool EventLog::open(const std::string& path, std::string& why) {
    if (path.empty())
        return true;
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f) {
        why = std::strerror(errno);
        return false;
    }
    file_ = f;
    own_ = true;
    return true;
}

void EventLog::event(std::string_view name, const nlohmann::ordered_json& fields) {
    nlohmann::ordered_json j;
    j["time"] = IsoTimeNow();
    j["event"] = name;
    for (const auto& [key, value] : fields.items())
        j[key] = value;
    const std::string line = j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

} // namespace rd::bridge
