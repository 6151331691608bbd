#include "platform/last_error.h"
#include "platform/process.h"

#include "platform/win32/windows_headers.h"

namespace plat {

uint32_t GetLastError() {
    return ::GetLastError();
}

void SetLastError(uint32_t code) {
    ::SetLastError(code);
}

uint32_t GetCurrentProcessId() {
    return ::GetCurrentProcessId();
}

// A Windows program's file gives it no rights of its own; elevation asks the user.
bool RaisedRights() {
    return false;
}

}  // namespace plat
