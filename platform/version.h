// The operating system's version record, as GetVersionExW fills it.
#pragma once

#include <cstdint>

#include "platform/export.h"

namespace plat {

inline constexpr uint32_t VER_PLATFORM_WIN32_NT = 2;
// What a system outside the Windows families answers; no Windows version uses it.
inline constexpr uint32_t VER_PLATFORM_POSIX = 0x100;

// OSVERSIONINFOW, with char16_t for the wide characters.
struct OSVERSIONINFOW {
    uint32_t dwOSVersionInfoSize;
    uint32_t dwMajorVersion;
    uint32_t dwMinorVersion;
    uint32_t dwBuildNumber;
    uint32_t dwPlatformId;
    char16_t szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOW) == 276);

// The caller sets dwOSVersionInfoSize to 276. False with LastError() 122 for another size
// and 87 for null. On Linux the numbers are the kernel release's and the platform
// identifier is VER_PLATFORM_POSIX.
PLAT_API bool GetVersionExW(OSVERSIONINFOW* info);

}  // namespace plat
