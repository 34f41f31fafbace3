// What the receiver thread and the event objects need of the operating system beyond the
// standard library: a wake-up descriptor and thread priorities. platform_posix.cpp holds the
// POSIX forms (an eventfd, nice steps), platform_win32.cpp the Windows ones.
#pragma once

namespace rd {

// A wake-up descriptor: Set on an event, or a stop request, makes it ready; a waiter drains it
// and then looks at what changed. On POSIX an eventfd. On Windows an auto-reset event object,
// its handle kept in the int (Windows handles are 32-bit significant, so the value survives).
// -1 when none could be made; every call below accepts -1 and does nothing with it.
int CreateWakeFd();
void CloseWakeFd(int fd);
void SignalWakeFd(int fd);
// Waits at most ms milliseconds for the descriptor and drains it; true when it was ready.
// Without a descriptor (-1) it sleeps ms and returns false.
bool WaitWakeFd(int fd, int ms);

// The calling thread's priority on the scale idle 0, lowest 1, lower 2, normal 3, higher 4,
// highest 5, time-critical 6. Where raising it needs a privilege the thread stays at normal.
void SetCurrentThreadPriority(int priority);

} // namespace rd
