// The recording reader on any bytes: it reads them or refuses them with a line number within
// the file, never crashes; what it reads holds together (requests are frames whose counter and
// command it names, lines in file order, answers of monitor output written again read the same).
#include "protocol/recording.h"

#include "fuzz_check.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const int lines = int(std::count(text.begin(), text.end(), '\n')) + 1;
    rd::proto::Recording r;
    try {
        r = rd::proto::ParseRecording(text);
    } catch (const rd::proto::RecordingError& e) {
        FUZZ_CHECK(e.line() >= 1 && e.line() <= lines, "line %d of %d", e.line(), lines);
        FUZZ_CHECK(std::string(e.what()).rfind("line " + std::to_string(e.line()) + ": ", 0) == 0, "%s",
                   e.what());
        return 0;
    }
    int before = 0;
    for (const rd::proto::RecordedLine& l : r.lines) {
        FUZZ_CHECK(l.line > before && l.line <= lines, "line %d after %d", l.line, before);
        before = l.line;
        if (l.kind == rd::proto::RecordedKind::Request) {
            FUZZ_CHECK(r.dated(), "a request in monitor output");
            FUZZ_CHECK(l.bytes == ":" + l.counter + " " + l.command + ";", "request %s", l.bytes.c_str());
            FUZZ_CHECK(!l.counter.empty() && l.counter.find_first_not_of("0123456789") == std::string::npos,
                       "counter %s", l.counter.c_str());
            FUZZ_CHECK(l.address >= 0 && l.address <= 255, "address %d", l.address);
        }
        if (l.kind == rd::proto::RecordedKind::Answer) {
            FUZZ_CHECK(!l.bytes.empty(), "an empty answer");
            const std::string_view frame = rd::proto::AnswerFrame(l.bytes);
            if (!frame.empty()) {
                const std::string renumbered = rd::proto::WithCounter(frame, "00000001");
                FUZZ_CHECK(rd::proto::FrameWord(2, renumbered) == rd::proto::FrameWord(2, frame),
                           "word 2 moved");
            }
        }
    }
    return 0;
}
