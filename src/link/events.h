// Event objects with manual or automatic reset. An event may carry a name as its label;
// CreateNamedEvent also shares it: the same name gives the same object within the process.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rd {

class WakeSignal;

class Event {
  public:
    // A wait with this time-out waits until the event is set.
    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

    Event(bool manualReset, bool initialState, std::string name = {});
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Wait at most ms milliseconds; true when the event was (or became) set. An automatic-
    // reset event is cleared by the wait that sees it.
    bool Wait(uint32_t ms);
    bool IsSet() const;
    bool manualReset() const { return manual_; }
    // The label given at construction (empty for none).
    const std::string& name() const { return name_; }

    // A thread that waits for more than this event (a read and a release at once) registers
    // its wake-up signal here: every Set() signals it after the state has changed. It is only
    // a wake-up hint; the waiter takes it and then looks at IsSet(). The signal must stay
    // alive until it is removed; nullptr is ignored.
    void AddWakeFd(WakeSignal* wake);
    void RemoveWakeFd(WakeSignal* wake);

  private:
    const bool manual_;
    const std::string name_;
    mutable std::mutex m_;
    std::condition_variable cv_;
    bool set_;
    std::vector<WakeSignal*> wakeSignals_;
};

// Create (or open, when the name exists already) a named event. The flags of an
// existing event are left as they are, as on the original platform.
std::shared_ptr<Event> CreateNamedEvent(const std::string& name, bool manualReset, bool initialState);

} // namespace rd
