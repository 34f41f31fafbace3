// The program's side of a simulated reader in the tests: plain POSIX calls on the slave
// path, request frames composed by hand, answer frames cut out of what arrives.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace rd::sim::testing {

// Address byte, ":", counter as 8 digits, blank, command, ";".
inline std::string RequestFrame(int counter, const std::string& command, unsigned char address = 1) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08d", counter);
    return std::string(1, static_cast<char>(address)) + ":" + digits + " " + command + ";";
}

// The answer frames (":" through ";") in a byte stream; bytes outside frames are skipped.
inline std::vector<std::string> FramesIn(const std::string& bytes) {
    std::vector<std::string> frames;
    size_t pos = 0;
    while ((pos = bytes.find(':', pos)) != std::string::npos) {
        size_t end = bytes.find(';', pos);
        if (end == std::string::npos) {
            break;
        }
        frames.push_back(bytes.substr(pos, end - pos + 1));
        pos = end + 1;
    }
    return frames;
}

// Blank-separated words of an answer frame without its ":" and ";".
inline std::vector<std::string> WordsOf(const std::string& frame) {
    std::vector<std::string> words;
    std::string inner = frame.substr(1, frame.size() - 2);
    size_t i = 0;
    while (i < inner.size()) {
        size_t j = inner.find(' ', i);
        if (j == std::string::npos) {
            j = inner.size();
        }
        if (j > i) {
            words.push_back(inner.substr(i, j - i));
        }
        i = j + 1;
    }
    return words;
}

class PtyClient {
  public:
    using Clock = std::chrono::steady_clock;

    explicit PtyClient(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~PtyClient() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    void Write(const std::string& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // What is there within timeoutMs ("" when nothing came): bytes kept from an earlier read
    // at once, else one poll and one read.
    std::string ReadSome(int timeoutMs) {
        if (!kept_.empty()) {
            return std::exchange(kept_, {});
        }
        return Receive(timeoutMs);
    }

    // Reads until `count` answer frames stand in `got` and what follows it, or the deadline
    // passes. Returns the bytes through the count-th frame and those after it up to the next
    // frame's ":" (the tests look at the frames and at what lies between them); the rest is
    // kept for the next read, so a read never returns more frames than asked for, however
    // far the simulator has run ahead.
    std::string ReadFrames(size_t count, int timeoutMs = 3000, std::string got = {}) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        got += std::exchange(kept_, {});
        for (;;) {
            const size_t cut = CutAfterFrames(got, count);
            if (cut != std::string::npos) {
                kept_ = got.substr(cut);
                got.resize(cut);
                return got;
            }
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                return got;
            }
            got += Receive(static_cast<int>(left));
        }
    }

    // Reads through the first answer frame equal to `frame` (what came after it is kept), or
    // until the deadline passes; returns all of it.
    std::string ReadThrough(const std::string& frame, int timeoutMs = 3000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string got;
        for (;;) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            const std::string one = ReadFrames(1, static_cast<int>(std::max<long long>(left, 0)));
            got += one;
            const auto frames = FramesIn(one);
            if (frames.empty() || frames.back() == frame) {
                return got;
            }
        }
    }

    // Everything that arrives until the line has been quiet for quietMs.
    std::string ReadUntilQuiet(int quietMs) {
        std::string got = std::exchange(kept_, {});
        for (;;) {
            std::string more = Receive(quietMs);
            if (more.empty()) {
                return got;
            }
            got += more;
        }
    }

  private:
    // One poll and one read.
    std::string Receive(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN)) {
            return {};
        }
        char buf[4096];
        ssize_t n = ::read(fd_, buf, sizeof buf);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }

    // Where the bytes after the count-th answer frame in `bytes` begin to belong to the next
    // frame (its ":", or the end); npos when fewer frames stand in it.
    static size_t CutAfterFrames(const std::string& bytes, size_t count) {
        size_t pos = 0;
        for (size_t n = 0; n < count; ++n) {
            pos = bytes.find(':', pos);
            if (pos == std::string::npos) {
                return std::string::npos;
            }
            pos = bytes.find(';', pos);
            if (pos == std::string::npos) {
                return std::string::npos;
            }
            ++pos;
        }
        const size_t next = bytes.find(':', pos);
        return next == std::string::npos ? bytes.size() : next;
    }

    int fd_ = -1;
    // Bytes read but not yet handed out: they belong to frames after those asked for.
    std::string kept_;
};

} // namespace rd::sim::testing
