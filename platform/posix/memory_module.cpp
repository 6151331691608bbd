#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "platform/last_error.h"
#include "platform/module.h"

namespace plat {

namespace {

constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorBadExeFormat = 193;

bool WriteAll(int fd, const uint8_t* bytes, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

// The bytes go into an anonymous memory file that the dynamic loader opens by its
// descriptor's name; it lives on in the loader's mappings after the descriptor is closed.
void* LoadLibraryFromMemory(const void* bytes, size_t size) {
    if (bytes == nullptr || size == 0) {
        SetLastError(kErrorInvalidParameter);
        return nullptr;
    }
    const int fd = memfd_create("corvane-module", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        SetLastError(kErrorNotEnoughMemory);
        return nullptr;
    }
    void* handle = nullptr;
    if (WriteAll(fd, static_cast<const uint8_t*>(bytes), size)) {
        // Sealed, the file cannot change under the loader's private mappings.
        fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
        char path[32];
        snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
        handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) SetLastError(kErrorBadExeFormat);
    } else {
        SetLastError(kErrorNotEnoughMemory);
    }
    close(fd);
    return handle;
}

}  // namespace plat
