// The answer cutter on any byte stream. Every frame it hands on starts with ":", holds 2 to
// 1024 bytes and no byte below 16, ends with ";" unless it is 1024 bytes long, and is a
// contiguous run of the input; and the frames are exactly those a plain reading of the
// framing rules finds.
#include "link/frames.h"

#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

using Span = std::pair<std::size_t, std::size_t>; // offset in the input, length

// The rules read plainly: a ":" outside a frame opens one; a byte below 16 abandons it; ";"
// or the 1024th byte closes it.
std::vector<Span> ExpectedFrames(const uint8_t* data, std::size_t size) {
    std::vector<Span> frames;
    std::size_t i = 0;
    while (i < size) {
        if (data[i] != ':') {
            ++i;
            continue;
        }
        const std::size_t start = i;
        std::size_t j = i + 1;
        for (; j < size; ++j) {
            if (data[j] < 16)
                break;
            if (data[j] == ';' || j - start + 1 == std::size_t(rd::kMaxAnswerSize)) {
                frames.emplace_back(start, j - start + 1);
                break;
            }
        }
        i = j + 1;
    }
    return frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    uint8_t buffer[rd::kMaxAnswerSize + 1] = {};
    int32_t count = 0;
    int32_t mode = rd::AnswerCutter::Hunting;
    rd::AnswerCutter cutter(buffer, count, mode);

    std::vector<Span> frames;
    std::size_t start = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const int32_t before = mode;
        const bool held = cutter.feed(data[i]);
        if (before == rd::AnswerCutter::Hunting && mode == rd::AnswerCutter::Collecting)
            start = i;
        FUZZ_CHECK(held == (mode == rd::AnswerCutter::Held), "held %d, mode %d at %zu", held, mode, i);
        if (!held)
            continue;
        const std::size_t n = std::size_t(count);
        FUZZ_CHECK(n >= 2 && n <= std::size_t(rd::kMaxAnswerSize), "frame of %zu bytes", n);
        FUZZ_CHECK(buffer[0] == ':', "frame starts with %02X", buffer[0]);
        FUZZ_CHECK(buffer[n - 1] == ';' || n == std::size_t(rd::kMaxAnswerSize),
                   "frame of %zu bytes ends with %02X", n, buffer[n - 1]);
        for (std::size_t k = 0; k < n; ++k)
            FUZZ_CHECK(buffer[k] >= 16, "byte %02X at %zu of a frame", buffer[k], k);
        // Contiguous: the frame is the input from its ":" up to this byte, nothing left out.
        FUZZ_CHECK(i - start + 1 == n, "frame of %zu bytes from input bytes %zu to %zu", n, start, i);
        FUZZ_CHECK(std::equal(buffer, buffer + n, data + start), "frame differs from input at %zu", start);
        frames.emplace_back(start, n);
        cutter.release();
    }
    FUZZ_CHECK(frames == ExpectedFrames(data, size), "%zu frames cut, %zu expected", frames.size(),
               ExpectedFrames(data, size).size());
    return 0;
}
