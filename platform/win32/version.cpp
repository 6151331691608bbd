#include "platform/version.h"

#include "platform/win32/windows_headers.h"

namespace plat {

static_assert(sizeof(::OSVERSIONINFOW) == sizeof(OSVERSIONINFOW));

bool GetVersionExW(OSVERSIONINFOW* info) {
    return ::GetVersionExW(reinterpret_cast<::OSVERSIONINFOW*>(info)) != FALSE;
}

}  // namespace plat
