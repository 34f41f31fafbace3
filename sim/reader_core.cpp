#include "sim/reader_core.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace rd::sim {

namespace {

using std::chrono::milliseconds;

std::string Hex(unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, value);
    return buf;
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') {
            ++i;
        }
        size_t j = i;
        while (j < text.size() && text[j] != ' ') {
            ++j;
        }
        if (j > i) {
            words.push_back(text.substr(i, j - i));
        }
        i = j;
    }
    return words;
}

// A triangle wave: 0, 1, ..., amplitude, ..., 1, 0, -1, ..., -amplitude, ..., -1, 0, ...
// Consecutive values differ by exactly 1.
int Triangle(int n, int amplitude) {
    const int period = 4 * amplitude;
    int p = n % period;
    if (p <= amplitude) {
        return p;
    }
    if (p <= 3 * amplitude) {
        return 2 * amplitude - p;
    }
    return p - 4 * amplitude;
}

// Bytes a noisy line might carry between frames; no ':' or ';', so a sound answer cutter
// discards them all.
const std::string kGarbage = std::string("\x00\x7F#~\xFF\r\n?", 9);

// Inventory cycles are skipped while this much output waits: nobody reads the pty, and a
// reader on a line nobody listens to loses its answers too.
constexpr size_t kMaxBacklog = 64 * 1024;
// The record of answers keeps the latest ones only, for simulators that run for hours.
constexpr size_t kMaxRecordedAnswers = 100000;
// The flood is queued in batches of whole cycles of at least this many bytes.
constexpr size_t kFloodBatch = 8192;
// After the last request, how long the program has to read its answer before the hang-up,
// and how often it is looked whether it has.
constexpr milliseconds kDrainLimit{2000};
constexpr milliseconds kDrainLook{5};

} // namespace

ReaderCore::ReaderCore(Options options) : opt(std::move(options)), group(GroupOf(opt.identifier)) {
    if (opt.epcs.empty()) {
        for (int i = 1; i <= opt.tagCount; ++i) {
            epcs.push_back("3008" + Hex(static_cast<unsigned>(i), 12));
        }
    } else {
        epcs = opt.epcs;
    }
    tagReads.assign(epcs.size(), 0);
    const int n = static_cast<int>(epcs.size());
    for (int i = 0; i < n; ++i) {
        if (static_cast<size_t>(i) < opt.tagMargins.size()) {
            margins.push_back(opt.tagMargins[static_cast<size_t>(i)]);
        } else if (!opt.tagMargins.empty() || n == 1) {
            margins.push_back(18);
        } else {
            margins.push_back(4 + (28 * i + n - 1) / (2 * (n - 1))); // 4 + 14 i / (n - 1), rounded
        }
    }
    if (opt.replay) {
        player = std::make_unique<ReplayPlayer>(*opt.replay, opt.replayOptions, opt.identifier);
    }
}

// --- Requests ---------------------------------------------------------------------------

void ReaderCore::receive(const uint8_t* data, size_t size, SimTime now) {
    if (closed) {
        return; // nothing arrives on a line that is gone
    }
    for (const Request& req : parser.Feed(data, size)) {
        Handle(req, now);
    }
}

void ReaderCore::Handle(const Request& req, SimTime now) {
    requestLog.push_back(req.raw);
    commandLog.push_back(req.command);
    lastCounter = req.counter;
    const bool last =
        opt.hangUpAfterRequests >= 0 && requestLog.size() >= static_cast<size_t>(opt.hangUpAfterRequests);
    if (opt.silent) {
        // recorded only
    } else if (player) {
        player->request(req, now);
    } else {
        Answer(req, now);
    }
    if (last) {
        hangUpWhenDrained = true;
    }
}

void ReaderCore::Answer(const Request& req, SimTime now) {
    const auto words = Words(req.command);
    const std::string cmd = words.empty() ? std::string() : words[0];
    const std::string& c = req.counter;
    const int delay = opt.replyDelayMs;
    if (cmd == "VERSION") {
        QueueAnswer(c, "VERSION " + opt.identifier, delay);
        return;
    }
    if (group == ReaderGroup::Uhf900 && cmd == "KELM_EPC_INVENTORY_TIME") {
        running = true;
        runCounter = c;
        stopCount = 0;
        tagReads.assign(epcs.size(), 0);
        nextCycle = now + milliseconds(delay);
        return;
    }
    if (group == ReaderGroup::Uhf900 && cmd == "EPC_STOP") {
        if (++stopCount >= std::max(1, opt.stopConfirmAfter)) {
            stopCount = 0;
            running = false;
            if (opt.confirmStop) {
                QueueAnswer(c, "STOP_INVENTORY", delay);
            }
        }
        return;
    }
    if (group == ReaderGroup::Uhf900 && cmd == "SET_ATT_OUT" && words.size() >= 2) {
        char* end = nullptr;
        const long dB = std::strtol(words[1].c_str(), &end, 10);
        if (*end == '\0') {
            attenuation = static_cast<int>(std::clamp(dB, -1000L, 1000L));
        }
    }
    if (group == ReaderGroup::Sensor433 && cmd == "SEND_COP_COLLECTION") {
        QueueAnswer(c, "collection_start..", delay);
        collections.emplace_back(now + milliseconds(delay + opt.collectionMs), c);
        return;
    }
    if (group == ReaderGroup::Sensor433 && cmd == "SEND_COP_READ_USER_ID") {
        std::string tag = words.size() >= 3 ? words[1] + "-" + words[2] : std::string();
        bool known = std::find(opt.sensorTags.begin(), opt.sensorTags.end(), tag) != opt.sensorTags.end();
        QueueAnswer(c, known ? "UID " + UidRecord(tag) : "NO_ACK", delay);
        return;
    }
    QueueAnswer(c, "OK", delay);
}

// --- The step ---------------------------------------------------------------------------

NextTick ReaderCore::tick(SimTime now, Line& line) {
    if (closed) {
        return {};
    }
    QueueDueCycle(now);
    QueueEndedCollections(now);
    QueueFloodBatch();
    QueueReplay(now);
    WriteDue(now, line);
    HangUpWhenRead(now, line);
    return Next(now);
}

// One inventory cycle when it is due; a cycle missed (the tick came late by a period or
// more) is not made up, the next one follows a period after this one.
void ReaderCore::QueueDueCycle(SimTime now) {
    if (!running || flooding || now < nextCycle) {
        return;
    }
    QueueCycle(runCounter, nullptr, nullptr);
    const milliseconds period(std::max(1, opt.cyclePeriodMs));
    nextCycle += period;
    if (nextCycle < now) {
        nextCycle = now + period;
    }
}

void ReaderCore::QueueEndedCollections(SimTime now) {
    for (auto it = collections.begin(); it != collections.end();) {
        if (now >= it->first) {
            QueueAnswer(it->second, "collection_stop", 0);
            it = collections.erase(it);
        } else {
            ++it;
        }
    }
}

// The flood's next batch once the previous one is written: whole cycles with the counter of
// the last request, counted but not recorded.
void ReaderCore::QueueFloodBatch() {
    if (!flooding || !queue.empty()) {
        return;
    }
    Chunk c;
    int frames = 0;
    while (c.bytes.size() < kFloodBatch) {
        size_t mark = c.bytes.size();
        int before = frames;
        QueueCycle(lastCounter, &c.bytes, &frames);
        // Frame ends inside this cycle's bytes.
        size_t pos = mark;
        for (int k = before; k < frames; ++k) {
            pos = c.bytes.find(';', pos) + 1;
            c.frameEnds.emplace_back(pos, std::string());
        }
    }
    Enqueue(std::move(c));
}

// The recording's answers that are due; dropped, as the inventory cycles are, while the line
// holds more than the backlog unread.
void ReaderCore::QueueReplay(SimTime now) {
    if (!player) {
        return;
    }
    for (const std::string& frame : player->due(now, queue.empty())) {
        if (queuedBytes <= kMaxBacklog) {
            QueueFrame(frame, opt.replyDelayMs);
        }
    }
}

// Writes the pieces that are due, in order, as far as the line takes them; counts and records
// each answer frame once its ";" is written.
void ReaderCore::WriteDue(SimTime now, Line& line) {
    while (!queue.empty()) {
        Chunk& head = queue.front();
        if (!head.due) {
            head.due = now + milliseconds(head.gapBeforeMs);
        }
        if (*head.due > now) {
            return;
        }
        size_t before = head.written;
        if (head.written < head.bytes.size()) {
            head.written += line.write(head.bytes.data() + head.written, head.bytes.size() - head.written);
        }
        for (auto& [end, text] : head.frameEnds) {
            if (end > before && end <= head.written) {
                ++sent;
                if (!text.empty()) {
                    answerLog.push_back(text);
                    if (answerLog.size() > kMaxRecordedAnswers) {
                        answerLog.pop_front();
                    }
                }
            }
        }
        if (head.written < head.bytes.size()) {
            return; // the line is full for now
        }
        queuedBytes -= head.bytes.size();
        queue.pop_front();
    }
}

// After the last request, once its answer is written: the hang-up, when the program has read
// what was sent (a hang-up drops what still waits in the slave's input queue) or at the limit.
void ReaderCore::HangUpWhenRead(SimTime now, Line& line) {
    if (!hangUpWhenDrained || !queue.empty()) {
        return;
    }
    if (!drainDeadline) {
        drainDeadline = now + kDrainLimit;
    }
    if (!line.unread() || now >= *drainDeadline) {
        hangUp();
    }
}

// The earliest of what is due next.
NextTick ReaderCore::Next(SimTime now) const {
    NextTick next;
    if (closed) {
        return next;
    }
    auto consider = [&](SimTime t) {
        if (!next.at || t < *next.at) {
            next.at = t;
        }
    };
    if (running && !flooding) {
        consider(nextCycle);
    }
    for (const auto& [t, counter] : collections) {
        consider(t);
    }
    if (drainDeadline) {
        consider(now + kDrainLook);
    }
    if (player) {
        if (const std::optional<SimTime> at = player->next()) {
            consider(*at);
        }
        if (player->waitsForLine() && queue.empty()) {
            next.whenWritable = true;
        }
    }
    if (flooding && queue.empty()) {
        next.whenWritable = true; // the next batch goes as soon as the line takes it
    } else if (!queue.empty()) {
        if (queue.front().due && *queue.front().due > now) {
            consider(*queue.front().due);
        } else {
            next.whenWritable = true;
        }
    }
    return next;
}

// --- Sends of the simulator's owner -----------------------------------------------------

void ReaderCore::sendRaw(std::string bytes) {
    if (!closed) {
        Enqueue(Chunk{std::move(bytes), 0, 0, std::nullopt, {}});
    }
}

void ReaderCore::sendAnswer(const std::string& keywordAndArgs) {
    if (!closed) {
        QueueAnswer(lastCounter, keywordAndArgs, 0);
    }
}

void ReaderCore::startFlood() {
    flooding = !closed;
}

void ReaderCore::stopFlood() {
    flooding = false;
}

void ReaderCore::hangUp() {
    closed = true;
    queue.clear();
    queuedBytes = 0;
    running = false;
    flooding = false;
    collections.clear();
    hangUpWhenDrained = false;
    drainDeadline.reset();
}

// --- Output -----------------------------------------------------------------------------

void ReaderCore::Enqueue(Chunk c) {
    queuedBytes += c.bytes.size();
    queue.push_back(std::move(c));
}

// Frames "<counter> text" as an answer and queues it with the answer options.
void ReaderCore::QueueAnswer(const std::string& counter, const std::string& text, int delayMs) {
    QueueFrame(":" + counter + " " + text + ";", delayMs);
}

// Queues an answer frame ':' ... ';' with the answer options.
void ReaderCore::QueueFrame(const std::string& frame, int delayMs) {
    std::string bytes = frame;
    if (opt.crlf) {
        bytes += "\r\n";
    }
    int gap = delayMs;
    if (opt.garbage) {
        Enqueue(Chunk{kGarbage, gap, 0, std::nullopt, {}});
        gap = 0;
    }
    // Cut points with the gap before each piece.
    std::map<size_t, int> cuts;
    const int parts = std::max(1, std::min<int>(opt.splitParts, static_cast<int>(bytes.size())));
    for (int k = 1; k < parts; ++k) {
        cuts[bytes.size() * k / parts] = opt.splitGapMs;
    }
    if (opt.pauseInsideMs > 0 && bytes.size() > 1) {
        int& g = cuts[bytes.size() / 2];
        g = std::max(g, opt.pauseInsideMs);
    }
    std::vector<std::pair<size_t, int>> pieces(cuts.begin(), cuts.end()); // (end, gap after)
    pieces.emplace_back(bytes.size(), 0);
    const size_t frameEnd = frame.size(); // just past the ";"
    size_t from = 0;
    for (auto [to, gapAfter] : pieces) {
        Chunk c{bytes.substr(from, to - from), gap, 0, std::nullopt, {}};
        if (from < frameEnd && frameEnd <= to) {
            c.frameEnds.emplace_back(frameEnd - from, frame);
        }
        Enqueue(std::move(c));
        from = to;
        gap = gapAfter;
    }
}

// The tag answer's words after "INV": antenna, PC word, EPC and signal strength. Only
// the strength may change from read to read, and only with varySignal.
std::string ReaderCore::TagWords(size_t i) {
    const auto pc = static_cast<unsigned>((epcs[i].size() + 3) / 4) * 0x800u;
    int rssi = -50 - static_cast<int>(i % 8) * 3;
    if (opt.varySignal) {
        rssi += Triangle(tagReads[i]++, 3);
    }
    return "1 " + Hex(pc & 0xFFFFu, 4) + " " + epcs[i] + " " + std::to_string(rssi);
}

// One inventory cycle: into out (the flood's batch) or queued as answers.
void ReaderCore::QueueCycle(const std::string& counter, std::string* out, int* frames) {
    if (out == nullptr && queuedBytes > kMaxBacklog) {
        return;
    }
    auto add = [&](const std::string& text) {
        if (out != nullptr) {
            std::string frame = ":" + counter + " " + text + ";";
            *out += frame;
            if (opt.crlf) {
                *out += "\r\n";
            }
            ++*frames;
            return;
        }
        QueueAnswer(counter, text, 0);
    };
    add("START_INVENTORY");
    for (size_t i = 0; i < epcs.size(); ++i) {
        if (attenuation <= margins[i]) {
            add("INV " + TagWords(i));
        }
    }
}

std::string ReaderCore::UidRecord(const std::string& tag) {
    const int n = sensorReads[tag]++;
    const auto index = static_cast<int>(std::find(opt.sensorTags.begin(), opt.sensorTags.end(), tag) -
                                        opt.sensorTags.begin());
    const unsigned t = 22 + 2 * index + Triangle(n / 2, 2);
    const unsigned h = 45 + index + Triangle(n / 3, 3);
    const unsigned mf = 100 + Triangle(n, 4);
    const unsigned cf = 50 + Triangle(n / 2, 5);
    std::string rec = tag.substr(0, 13);
    rec.resize(13, '0');
    rec += "-" + Hex(static_cast<unsigned>(n), 8); // 14-22: read sequence
    rec += Hex(t, 2) + Hex(h, 2);                  // 23-26
    rec += "0000";                                 // 27-30
    rec += Hex(mf, 4) + Hex(cf, 4);                // 31-38
    rec += "00";
    return rec;
}

} // namespace rd::sim
