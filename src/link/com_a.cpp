#include "link/com_a.h"

#include "link/platform.h"

#include <utility>

namespace rd {

namespace {

constexpr uint32_t kThreadQueueSize = 100000;
// Interval and multiplier at their maximum with a constant: return with what has come as soon
// as anything has, after at most the constant for the first byte.
constexpr uint32_t kReturnWhatIsThere = 0xFFFFFFFFu;
constexpr uint32_t kFirstByteWaitMs = 101;

} // namespace

TCOM_A::TCOM_A(PortHandle xPort, const std::string& PORT, int xPriority, int ringSize, int queuedAnswers)
    : CommPort(PORT), hPORT(xPort), queueLimit_(queuedAnswers < 1 ? 1 : std::size_t(queuedAnswers)),
      ringSize_(ringSize < 2 ? 2 : ringSize), ring_(std::size_t(ringSize_), 0),
      gapBefore_(std::size_t(ringSize_), 0) {
    // The events exist before anyone can poll them: created here rather than in the run.
    // They are this thread's own objects; the names are labels only.
    auto event = [this](EventId id, const char* literal, bool manualReset) {
        ev(id) = std::make_shared<Event>(manualReset, false, literal + CommPort);
    };
    event(EventId::SendStrReady, "DATA_FOR_SEND_READY", false);
    event(EventId::DATAReady, "DATA READY", true);
    event(EventId::DATAFree, "DATA FREE", true);
    event(EventId::AnswerStrReady, "ANSWER STRING READY", true);
    event(EventId::AnswerStrFree, "ANSWER STRING FREE", true);
    event(EventId::DataReadyForLoad, "DATA READY FOR LOAD", false);
    event(EventId::DataReadyForLoadOBRAZ, "DATA READY FOR LOAD OBRAZ", false);
    event(EventId::COM, "EV_RXFLAG ", false);

    TimeOuts.ReadIntervalTimeout = kReturnWhatIsThere;
    TimeOuts.ReadTotalTimeoutMultiplier = kReturnWhatIsThere;
    TimeOuts.ReadTotalTimeoutConstant = kFirstByteWaitMs;
    TimeOuts.WriteTotalTimeoutMultiplier = 0;
    TimeOuts.WriteTotalTimeoutConstant = 0;

    // A release that makes room in a full queue, or a stop request, wakes the thread out of
    // its read at once (on Windows out of its rest only: a read there ends by its own
    // time-out, within 101 ms).
    if (wake_.valid())
        ev(EventId::AnswerStrFree)->AddWakeFd(&wake_);

    thread_ = std::make_unique<std::thread>(&TCOM_A::run, this, xPriority);
}

TCOM_A::~TCOM_A() {
    requestStop();
    if (thread_ && thread_->joinable())
        thread_->join();
    ev(EventId::AnswerStrFree)->RemoveWakeFd(&wake_);
}

void TCOM_A::requestStop() {
    stop_.store(true);
    wake_.signal();
}

std::optional<std::string> TCOM_A::take(uint32_t waitMs) {
    if (!ev(EventId::AnswerStrReady)->Wait(waitMs))
        return std::nullopt;
    std::lock_guard lock(queueMutex_);
    if (queue_.empty())
        return std::nullopt;
    return queue_.front();
}

void TCOM_A::release() {
    bool wasFull = false;
    {
        // The ready event follows the queue under its lock: cleared with the last answer,
        // set again by the thread with the next one.
        std::lock_guard lock(queueMutex_);
        if (queue_.empty())
            return;
        wasFull = queue_.size() >= queueLimit_;
        queue_.pop_front();
        if (queue_.empty())
            ev(EventId::AnswerStrReady)->Reset();
    }
    // A thread that stopped cutting for want of room goes on at once.
    if (wasFull)
        ev(EventId::AnswerStrFree)->Set();
}

void TCOM_A::run(int priority) {
    SetCurrentThreadPriority(priority);
    Execute();
}

void TCOM_A::Execute() {
    ANSWER_BUF_COUNT = 0;
    REC_MODE = AnswerCutter::Hunting;
    writePos_ = 0;
    readPos_ = 0;
    // The port is not purged: bytes already waiting, such as the tail of the probe reply,
    // are the first input.
    SetCommTimeouts(hPORT, TimeOuts);
    SetupComm(hPORT, kThreadQueueSize, kThreadQueueSize);
    // Lost before this thread reads (during a probe) is not the thread's to tell.
    overrunsSeen_ = InputOverruns(hPORT);

    modeSeen_.store(REC_MODE, std::memory_order_release);
    AnswerCutter cutter(REC_ANSWER_BUF, ANSWER_BUF_COUNT, REC_MODE);
    uint8_t block[kReadBlock];
    int failedInARow = 0;
    while (!stop_.load()) {
        if (ev(EventId::AnswerStrFree)->IsSet())
            ev(EventId::AnswerStrFree)->Reset();
        // Answers already in the ring are cut at once when the queue has room again.
        cutRing(cutter);

        // The port is drained into the ring even while the queue is full; the wait ends early
        // on a release that makes room. A failed read (a port that has gone away) counts as no bytes.
        uint32_t got = 0;
        if (PortError e = ReadFileUntilWoken(hPORT, block, kReadBlock, &got, &wake_); e.ok()) {
            failedInARow = 0;
            if (got > 0)
                noteOverruns();
            appendToRing(block, got);
            cutRing(cutter);
        } else {
            {
                std::lock_guard lock(readErrorMutex_);
                lastReadError_ = std::move(e);
            }
            failedReads_.fetch_add(1, std::memory_order_release);
            if (++failedInARow >= kLostAfterFailedReads)
                lost_.store(true);
            rest(kFailedReadBackoffMs);
        }
    }
}

PortError TCOM_A::lastReadError() const {
    std::lock_guard lock(readErrorMutex_);
    return lastReadError_;
}

void TCOM_A::cutRing(AnswerCutter& cutter) {
    std::size_t waiting = 0;
    {
        std::lock_guard lock(queueMutex_);
        waiting = queue_.size();
    }
    while (readPos_ != writePos_ && waiting < queueLimit_) {
        const uint8_t b = ring_[readPos_];
        ring_[readPos_] = 0;
        if (gapBefore_[readPos_] != 0) {
            // Bytes were lost just before this one: the frame being collected cannot go on
            // across the gap, as if a line end had come.
            gapBefore_[readPos_] = 0;
            cutter.feed('\n');
        }
        readPos_ = readPos_ + 1 == ringSize_ ? 0 : readPos_ + 1;
        if (cutter.feed(b)) {
            const int32_t count = ANSWER_BUF_COUNT > kMaxAnswerSize ? kMaxAnswerSize : ANSWER_BUF_COUNT;
            std::string answer(reinterpret_cast<const char*>(REC_ANSWER_BUF), std::size_t(count));
            cutter.release();
            std::lock_guard lock(queueMutex_);
            queue_.push_back(std::move(answer));
            waiting = queue_.size();
            ev(EventId::AnswerStrReady)->Set();
        }
    }
    modeSeen_.store(REC_MODE, std::memory_order_release);
}

void TCOM_A::noteOverruns() {
    const uint64_t overruns = InputOverruns(hPORT);
    if (overruns <= overrunsSeen_)
        return;
    // Lost where the driver cannot hand them on: they count as dropped, and the frame being
    // collected ends before the bytes just read, which may follow the loss.
    dropped_.fetch_add(overruns - overrunsSeen_, std::memory_order_relaxed);
    overrunsSeen_ = overruns;
    gapBefore_[writePos_] = 1;
}

void TCOM_A::appendToRing(const uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t next = writePos_ + 1 == ringSize_ ? 0 : writePos_ + 1;
        if (next == readPos_) {
            // Full: what has not been examined is never overwritten; the newcomers are lost.
            // The byte that comes next into this position follows the gap.
            gapBefore_[writePos_] = 1;
            dropped_.fetch_add(count - i, std::memory_order_relaxed);
            return;
        }
        ring_[writePos_] = bytes[i];
        writePos_ = next;
    }
}

void TCOM_A::rest(int ms) {
    wake_.wait(ms);
}

} // namespace rd
