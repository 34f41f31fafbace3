// The bridge's events, one JSON object a line ({"time":…,"event":…, …}), to a file or standard
// output, flushed per line (journald takes standard output as it comes). Thread-safe.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace rd::bridge {

class EventLog {
  public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // "" : standard output. False with the system's reason when the file cannot be opened.
    bool open(const std::string& path, std::string& why);
    void event(std::string_view name,
               const nlohmann::ordered_json& fields = nlohmann::ordered_json::object());

  private:
    std::mutex mutex_;
    std::FILE* file_ = stdout;
    bool own_ = false;
};

} // namespace rd::bridge
