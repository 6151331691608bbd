// Inside the Linux backend: how the socket functions hand WSAAsyncSelect registrations to
// the message queue of the window's thread. The queue watches each registered descriptor
// and posts the notification message when an event is due.
#pragma once

#include <cstdint>

#include "platform/export.h"
#include "platform/window.h"

namespace plat::posix {

// Exported only so that the backend's own tests and benchmarks can drive it with plain
// descriptors; nothing above the platform layer includes this header.

// Replaces any earlier registration of fd; events 0 removes it. false when the window is
// not a live window. FD_WRITE is posted once, as soon as fd can send; FD_READ whenever
// data waits and no FD_READ for fd is queued or being handled since the last receive.
PLAT_API bool RegisterSocketNotification(int fd, uintptr_t socket, HWND window, uint32_t message,
                                         int32_t events);
// A receive call was made on fd: FD_READ may be posted again while data remains.
PLAT_API void RearmSocketRead(int fd);
// fd is being closed: forget it everywhere (any thread's queue).
PLAT_API void ForgetSocket(int fd);

}  // namespace plat::posix
