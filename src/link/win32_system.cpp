#include "link/win32_system.h"

#include <cerrno>

#include <winsock2.h>

namespace rd {

int ErrnoFor(DWORD code) {
    switch (code) {
    // Files and devices.
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        // A COM port that someone holds refuses a second open with "access denied".
        return EBUSY;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
        return ENODEV;
    case ERROR_OPERATION_ABORTED:
        return EINTR;
    case ERROR_SEM_TIMEOUT:
        return ETIMEDOUT;
    // Sockets.
    case WSAECONNREFUSED:
        return ECONNREFUSED;
    case WSAETIMEDOUT:
        return ETIMEDOUT;
    case WSAEHOSTUNREACH:
        return EHOSTUNREACH;
    case WSAENETUNREACH:
        return ENETUNREACH;
    case WSAECONNRESET:
        return ECONNRESET;
    case WSAECONNABORTED:
        return ECONNABORTED;
    default:
        return EIO;
    }
}

} // namespace rd
