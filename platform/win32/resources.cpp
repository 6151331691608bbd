#include "platform/resources.h"

#include "platform/win32/windows_headers.h"

namespace plat {

namespace {

HMODULE Module(void* module) {
    return module != nullptr ? static_cast<HMODULE>(module) : ::GetModuleHandleW(nullptr);
}

}  // namespace

void* FindResourceW(void* module, const char16_t* name, uintptr_t type) {
    return ::FindResourceW(Module(module), reinterpret_cast<const wchar_t*>(name),
                           reinterpret_cast<const wchar_t*>(type));
}

uint32_t SizeofResource(void* module, void* resource) {
    return ::SizeofResource(Module(module), static_cast<HRSRC>(resource));
}

void* LoadResource(void* module, void* resource) {
    return ::LoadResource(Module(module), static_cast<HRSRC>(resource));
}

const void* LockResource(void* loaded) {
    return ::LockResource(static_cast<HGLOBAL>(loaded));
}

bool FreeResource(void* loaded) {
    // A no-op on 64-bit Windows; it answers false.
    return ::FreeResource(static_cast<HGLOBAL>(loaded)) != FALSE;
}

// The resource compiler puts the resources into the executable.
void RegisterResources(const ResourceEntry* /*entries*/, size_t /*count*/) {}

}  // namespace plat
