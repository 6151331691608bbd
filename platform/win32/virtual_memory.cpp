#include "platform/virtual_memory.h"

#include "platform/win32/windows_headers.h"

namespace plat {

void* VirtualAlloc(void* address, size_t size, uint32_t type, uint32_t protect) {
    return ::VirtualAlloc(address, size, type, protect);
}

bool VirtualFree(void* address, size_t size, uint32_t type) {
    return ::VirtualFree(address, size, type) != FALSE;
}

}  // namespace plat
