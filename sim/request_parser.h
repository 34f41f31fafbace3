// Cuts request frames out of the bytes a reader receives: one address byte, ":", the
// counter digits, a blank, the command text and ";". Anything else is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rd::sim {

struct Request {
    std::vector<uint8_t> raw; // address byte through ";"
    std::string counter;      // the counter digits as sent
    std::string command;      // the bytes between the counter's blank and ";"
};

class RequestParser {
  public:
    // Longest command text waited for; a frame that never ends is dropped after it.
    static constexpr size_t kMaxCommand = 4096;

    // Takes the next bytes and returns the requests completed by them, in order.
    std::vector<Request> Feed(const uint8_t* data, size_t n);
    std::vector<Request> Feed(const std::string& bytes) {
        return Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }

  private:
    std::vector<uint8_t> buf_;
};

} // namespace rd::sim
