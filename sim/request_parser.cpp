#include "sim/request_parser.h"

namespace rd::sim {

namespace {

bool IsDigit(uint8_t b) {
    return b >= '0' && b <= '9';
}

} // namespace

std::vector<Request> RequestParser::Feed(const uint8_t* data, size_t n) {
    buf_.insert(buf_.end(), data, data + n);
    std::vector<Request> out;
    const size_t size = buf_.size();
    size_t s = 0;    // candidate address byte
    size_t keep = 0; // first byte that may still belong to a request
    while (true) {
        // The address byte is whatever stands right before a ":".
        while (s + 1 < size && buf_[s + 1] != ':') {
            ++s;
        }
        if (s + 1 >= size) {
            keep = s; // the last byte may be the address of a frame still arriving
            break;
        }
        size_t i = s + 2;
        while (i < size && IsDigit(buf_[i])) {
            ++i;
        }
        if (i >= size) {
            keep = s;
            break;
        }
        if (i == s + 2 || buf_[i] != ' ') {
            ++s;
            continue;
        }
        // Command text up to ";". A control byte right before ":" inside it is taken as the
        // address of a new frame: the earlier one lost its end.
        size_t j = i + 1;
        size_t restart = 0;
        while (j < size && buf_[j] != ';') {
            if (buf_[j] < 0x10 && j + 1 < size && buf_[j + 1] == ':') {
                restart = j;
                break;
            }
            ++j;
        }
        if (restart != 0) {
            s = restart;
            continue;
        }
        if (j >= size) {
            if (j - (i + 1) > kMaxCommand) {
                ++s;
                continue;
            }
            keep = s;
            break;
        }
        Request r;
        r.raw.assign(buf_.begin() + static_cast<std::ptrdiff_t>(s),
                     buf_.begin() + static_cast<std::ptrdiff_t>(j) + 1);
        r.counter.assign(buf_.begin() + static_cast<std::ptrdiff_t>(s) + 2,
                         buf_.begin() + static_cast<std::ptrdiff_t>(i));
        r.command.assign(buf_.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                         buf_.begin() + static_cast<std::ptrdiff_t>(j));
        out.push_back(std::move(r));
        s = j + 1;
    }
    buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(keep));
    return out;
}

} // namespace rd::sim
