// TCOM_A: the receiver thread of a connected port. Reads the port into a ring, cuts
// answer frames out of it into a short queue of whole answers and hands them over one at a
// time through the answer-ready and answer-free events. The queue lets a taker go through a
// burst of answers without waiting for the thread between two of them. The events belong to this one thread:
// a thread started later on the same port never shares them, so an earlier thread cannot take its releases.
#pragma once

#include "link/events.h"
#include "link/frames.h"
#include "link/platform.h"
#include "link/serial_port.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace rd {

class TCOM_A {
  public:
    static constexpr int kRingSize = 400001;
    static constexpr int kReadBlock = 100;
    // Whole answers cut ahead of the taker. Once that many wait, the thread cuts no further
    // and the bytes stay in the ring (where a lasting stall ends in dropped, marked bytes).
    static constexpr int kQueuedAnswers = 256;

    // Create: stores the handle and the name, creates the eight events (labelled with the
    // literal and the port name, such as "ANSWER STRING READYCOM3") and starts the thread
    // at once. xPriority: 0 idle .. 3 normal .. 6 time-critical. ringSize: the ring's bytes
    // (one stays free); a small ring lets a test run it full and across its gaps quickly.
    // queuedAnswers: how many whole answers may wait (1: each waits in the cutter's buffer
    // alone, and everything behind it stays in the ring).
    TCOM_A(PortHandle xPort, const std::string& PORT, int xPriority = 3, int ringSize = kRingSize,
           int queuedAnswers = kQueuedAnswers);
    // Asks the thread to stop and joins it.
    ~TCOM_A();
    TCOM_A(const TCOM_A&) = delete;
    TCOM_A& operator=(const TCOM_A&) = delete;

    // The thread's eight events, in the order they are created. Only the answer pair is used:
    // AnswerStrReady is set while an answer waits, and take()/release() do the rest.
    enum class EventId {
        SendStrReady,
        DATAReady,
        DATAFree,
        AnswerStrReady,
        AnswerStrFree,
        DataReadyForLoad,
        DataReadyForLoadOBRAZ,
        COM,
    };
    static constexpr int kEventCount = 8;
    const Event& event(EventId id) const { return *events_[static_cast<int>(id)]; }

    // The hand-over. take waits at most waitMs for the oldest waiting answer and gives a copy
    // of it; it stays first until release(). One taker at a time; a take without a release in
    // between gives the same answer again.
    std::optional<std::string> take(uint32_t waitMs);
    void release();

    const std::string& port() const { return CommPort; }
    PortHandle handle() const { return hPORT; }
    // The thread's read time-outs: a read returns as soon as any bytes are there and waits at
    // most 101 ms for the first one, so an answer is cut the moment its ";" is read rather than
    // after a further millisecond of silence. A quiet line still costs one read per 101 ms.
    const CommTimeouts& timeouts() const { return TimeOuts; }
    // The answer cutter's mode (AnswerCutter::Hunting ... Held), as the thread left it.
    int32_t cutterMode() const { return modeSeen_.load(std::memory_order_acquire); }

    // Ask the thread to leave its loop at the end of the current pass.
    void requestStop();
    // Bytes that arrived while the ring was full and had to be dropped, and those the port's
    // driver counted as lost before they could be read.
    uint64_t droppedBytes() const { return dropped_.load(std::memory_order_relaxed); }
    // Reads that failed (an adapter pulled out) since the start.
    uint64_t failedReads() const { return failedReads_.load(std::memory_order_acquire); }
    // Why the last failed read failed (err 0 while none has): kept before that read is
    // counted, so a caller that saw the count sees this cause or a later one. Any thread may ask.
    PortError lastReadError() const;
    // The connection is lost: kLostAfterFailedReads reads in a row have failed (a hung-up
    // or vanished port fails every read at once, so that takes about two back-offs). Once
    // set it stays set; the thread goes on trying until it is stopped. Any thread may ask.
    bool lost() const { return lost_.load(); }

    // How long the thread rests after a failed read before it tries again.
    static constexpr int kFailedReadBackoffMs = 100;
    static constexpr int kLostAfterFailedReads = 3;

  private:
    std::shared_ptr<Event>& ev(EventId id) { return events_[static_cast<int>(id)]; }
    void Execute();
    void run(int priority);
    // Feed ring bytes to the cutter until the ring is empty or the queue of answers is full.
    void cutRing(AnswerCutter& cutter);
    void appendToRing(const uint8_t* bytes, uint32_t count);
    // Bytes the port's driver lost since the last look (InputOverruns): counted as dropped, and
    // the bytes read next follow a gap.
    void noteOverruns();
    // Sleep at most ms, ended early by a stop request or a release.
    void rest(int ms);

    std::shared_ptr<Event> events_[kEventCount];
    std::string CommPort;
    PortHandle hPORT;
    CommTimeouts TimeOuts{};
    // The cutter's buffer: the thread's alone.
    uint8_t REC_ANSWER_BUF[kMaxAnswerSize + 1] = {};
    int32_t ANSWER_BUF_COUNT = 0;
    int32_t REC_MODE = 0;
    std::atomic<int32_t> modeSeen_{0};

    // Whole answers, oldest first, and how many may wait.
    std::mutex queueMutex_;
    std::deque<std::string> queue_;
    const std::size_t queueLimit_;

    const int32_t ringSize_;
    std::vector<uint8_t> ring_;
    // Non-zero at a ring position whose byte follows bytes that were dropped (ring full, or
    // lost in the driver).
    std::vector<uint8_t> gapBefore_;
    int32_t writePos_ = 0;
    int32_t readPos_ = 0;
    WakeSignal wake_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> dropped_{0};
    uint64_t overrunsSeen_ = 0; // the thread's own
    std::atomic<uint64_t> failedReads_{0};
    mutable std::mutex readErrorMutex_;
    PortError lastReadError_;
    std::atomic<bool> lost_{false};
    std::unique_ptr<std::thread> thread_;
};

} // namespace rd
