#include "platform/module.h"

#include "platform/win32/windows_headers.h"

namespace plat {

void* LoadLibraryA(const char* path) {
    return ::LoadLibraryA(path);
}

void* GetProcAddress(void* module, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

bool FreeLibrary(void* module) {
    return ::FreeLibrary(static_cast<HMODULE>(module)) != FALSE;
}

void* GetModuleHandleA(const char* name) {
    return ::GetModuleHandleA(name);
}

// The program maps its PE images itself; the system loader takes no module from memory.
void* LoadLibraryFromMemory(const void* /*bytes*/, size_t /*size*/) {
    ::SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
}

}  // namespace plat
