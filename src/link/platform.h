// What the receiver thread and the event objects need of the operating system beyond the
// standard library: a wake-up signal and thread priorities. platform_posix.cpp holds the
// POSIX forms (an eventfd, nice steps), platform_win32.cpp the Windows ones.
#pragma once

namespace rd {

// A wake-up signal: signal() on an event, or a stop request, makes it ready; a waiter takes
// it and then looks at what changed. On POSIX an eventfd, on Windows an auto-reset event
// object; the object is closed with the signal. When none could be made the signal is not
// valid(), and every member accepts that and does nothing with it. signal() and wait() may be
// called from any thread; they act on the system's object, not on this one.
class WakeSignal {
  public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;
    // The moved-from signal is left not valid.
    WakeSignal(WakeSignal&& other) noexcept;
    WakeSignal& operator=(WakeSignal&& other) noexcept;

    bool valid() const;
    void signal() const;
    // Waits at most ms milliseconds for the signal and takes it; true when it was ready.
    // Without a valid signal it sleeps ms and returns false.
    bool wait(int ms) const;

#ifdef _WIN32
    // The event object, for WaitForMultipleObjects (a HANDLE).
    void* handle() const {
        return handle_;
    }
#else
    // The eventfd, for a poll that waits on more than this signal; -1 when not valid. Ready
    // means signalled; wait(0) takes it.
    int fd() const {
        return fd_;
    }
#endif

  private:
    void close();

#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// The calling thread's priority on the scale idle 0, lowest 1, lower 2, normal 3, higher 4,
// highest 5, time-critical 6. Where raising it needs a privilege the thread stays at normal.
void SetCurrentThreadPriority(int priority);

} // namespace rd
