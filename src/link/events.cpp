#include "link/events.h"

#include "link/platform.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <utility>

namespace rd {

Event::Event(bool manualReset, bool initialState, std::string name)
    : manual_(manualReset), name_(std::move(name)), set_(initialState) {}

void Event::Set() {
    std::lock_guard lock(m_);
    set_ = true;
    // An automatic-reset event releases one waiter; a manual one all of them.
    if (manual_)
        cv_.notify_all();
    else
        cv_.notify_one();
    for (const WakeSignal* wake : wakeSignals_)
        wake->signal();
}

void Event::Reset() {
    std::lock_guard lock(m_);
    set_ = false;
}

bool Event::Wait(uint32_t ms) {
    std::unique_lock lock(m_);
    if (!set_) {
        if (ms == 0)
            return false;
        if (ms == kInfinite)
            cv_.wait(lock, [this] { return set_; });
        else if (!cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return set_; }))
            return false;
    }
    if (!manual_)
        set_ = false;
    return true;
}

bool Event::IsSet() const {
    std::lock_guard lock(m_);
    return set_;
}

void Event::AddWakeFd(WakeSignal* wake) {
    std::lock_guard lock(m_);
    if (wake && std::find(wakeSignals_.begin(), wakeSignals_.end(), wake) == wakeSignals_.end())
        wakeSignals_.push_back(wake);
}

void Event::RemoveWakeFd(WakeSignal* wake) {
    std::lock_guard lock(m_);
    wakeSignals_.erase(std::remove(wakeSignals_.begin(), wakeSignals_.end(), wake), wakeSignals_.end());
}

std::shared_ptr<Event> CreateNamedEvent(const std::string& name, bool manualReset, bool initialState) {
    if (name.empty())
        return std::make_shared<Event>(manualReset, initialState);
    // A named event lives as long as someone holds it; the registry only finds it again.
    static std::mutex registryMutex;
    static std::map<std::string, std::weak_ptr<Event>> registry;
    std::lock_guard lock(registryMutex);
    for (auto it = registry.begin(); it != registry.end();) {
        if (it->second.expired())
            it = registry.erase(it);
        else
            ++it;
    }
    auto& slot = registry[name];
    if (auto existing = slot.lock())
        return existing;
    auto created = std::make_shared<Event>(manualReset, initialState, name);
    slot = created;
    return created;
}

} // namespace rd
