// The computer's host name, as gethostname of Windows Sockets gives it.
#pragma once

#include "platform/export.h"

namespace plat {

// Copies the name with its NUL into buffer. Returns 0, or -1 with WSAGetLastError() set
// (10014 when the buffer is too small).
PLAT_API int GetHostName(char* buffer, int length);

}  // namespace plat
