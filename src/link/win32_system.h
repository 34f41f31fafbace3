// What the Windows files of the link have in common: windows.h as they take it, and the
// system's error codes as the errno values the layer reports. Internal to the link library.
#pragma once

#include <cstdint>

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace rd {

// A system error code (GetLastError, or WSAGetLastError for a socket) as the errno value the
// layer reports: the same causes read the same on every platform. EIO for the rest.
int ErrnoFor(DWORD code);

} // namespace rd
