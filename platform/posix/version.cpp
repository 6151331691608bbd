#include "platform/version.h"

#include <sys/utsname.h>

#include <cstddef>

#include "platform/last_error.h"

namespace plat {

namespace {

constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;

// Reads a decimal number at *p and steps over it and one following separator.
uint32_t TakeNumber(const char*& p) {
    uint32_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + static_cast<uint32_t>(*p - '0');
        ++p;
    }
    if (*p == '.' || *p == '-') ++p;
    return value;
}

}  // namespace

bool GetVersionExW(OSVERSIONINFOW* info) {
    if (info == nullptr) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    if (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) {
        SetLastError(kErrorInsufficientBuffer);
        return false;
    }
    info->dwMajorVersion = 0;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 0;
    info->dwPlatformId = VER_PLATFORM_POSIX;
    info->szCSDVersion[0] = u'\0';
    utsname names;
    if (uname(&names) != 0) return true;  // the platform is known even without a release
    const char* p = names.release;
    info->dwMajorVersion = TakeNumber(p);
    info->dwMinorVersion = TakeNumber(p);
    info->dwBuildNumber = TakeNumber(p);
    // The whole release text ("6.1.0-13-amd64", plain ASCII) stands where a service pack
    // name would.
    size_t n = 0;
    for (const char* q = names.release; *q != '\0' && n + 1 < 128; ++q)
        info->szCSDVersion[n++] = static_cast<char16_t>(static_cast<unsigned char>(*q));
    info->szCSDVersion[n] = u'\0';
    return true;
}

}  // namespace plat
