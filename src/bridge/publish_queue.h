// The messages of one reader waiting for the broker: at most `capacity`; a message added to a
// full queue pushes out the oldest, which is counted. Used from one thread (the reader's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace rd::bridge {

struct OutMessage {
    std::string topic;
    std::string payload;
    int qos = 0;
    bool retain = false;
};

class PublishQueue {
  public:
    explicit PublishQueue(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

    void push(OutMessage m) {
        if (messages_.size() >= capacity_) {
            messages_.pop_front();
            ++dropped_;
        }
        messages_.push_back(std::move(m));
    }
    bool empty() const { return messages_.empty(); }
    std::size_t size() const { return messages_.size(); }
    const OutMessage& front() const { return messages_.front(); }
    void pop() { messages_.pop_front(); }
    // Messages pushed out since the start.
    uint64_t dropped() const { return dropped_; }

  private:
    std::size_t capacity_;
    std::deque<OutMessage> messages_;
    uint64_t dropped_ = 0;
};

} // namespace rd::bridge
