// The program's side of a simulated reader in the tests: plain POSIX calls on the slave
// path, request frames composed by hand, answer frames cut out of what arrives.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
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

    // One poll and one read: what is there within timeoutMs ("" when nothing came).
    std::string ReadSome(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN)) {
            return {};
        }
        char buf[4096];
        ssize_t n = ::read(fd_, buf, sizeof buf);
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }

    // Reads until `count` answer frames stand in `got` and what follows it, or the deadline
    // passes; returns all of it (the tests look at the frames and at what lies between them).
    std::string ReadFrames(size_t count, int timeoutMs = 3000, std::string got = {}) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (FramesIn(got).size() < count) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                break;
            }
            got += ReadSome(static_cast<int>(left));
        }
        return got;
    }

    // Everything that arrives until the line has been quiet for quietMs.
    std::string ReadUntilQuiet(int quietMs) {
        std::string got;
        for (;;) {
            std::string more = ReadSome(quietMs);
            if (more.empty()) {
                return got;
            }
            got += more;
        }
    }

  private:
    int fd_ = -1;
};

} // namespace rd::sim::testing
