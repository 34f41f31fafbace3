// Event objects with manual or automatic reset, optionally named: the same name gives
// the same object within the process.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace rd {

class Event {
public:
    Event(bool manualReset, bool initialState);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Wait at most ms milliseconds; true when the event was (or became) set. An automatic-
    // reset event is cleared by the wait that sees it.
    bool Wait(uint32_t ms);
    bool IsSet() const;
    bool manualReset() const { return manual_; }

private:
    const bool manual_;
    mutable std::mutex m_;
    std::condition_variable cv_;
    bool set_;
};

// Create (or open, when the name exists already) a named event. The flags of an
// existing event are left as they are, as on the original platform.
std::shared_ptr<Event> CreateNamedEvent(const std::string& name, bool manualReset, bool initialState);

} // namespace rd
