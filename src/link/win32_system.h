// What the Windows files of the link have in common: windows.h as they take it, the handle
// behind a wake-up descriptor, and the system's error codes as the errno values the layer
// reports. Internal to the link library.
#pragma once

#include <cstdint>

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace rd {

// The event object of a wake-up descriptor (platform.h keeps its handle in the int),
// sign-extended back, as handles handed between 32- and 64-bit code are.
inline HANDLE WakeHandle(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

// A system error code (GetLastError, or WSAGetLastError for a socket) as the errno value the
// layer reports: the same causes read the same on every platform. EIO for the rest.
int ErrnoFor(DWORD code);

} // namespace rd
