#include <dlfcn.h>
#include <string.h>
#include <strings.h>

#include <cstdint>

#include "platform/module.h"
#include "platform/posix/builtin_modules.h"

namespace plat {

namespace {

using ModuleAccessor = const posix::BuiltinModule& (*)();

constexpr ModuleAccessor kBuiltinModules[] = {
    &posix::Ws2_32Module,
    &posix::IcmpModule,
    &posix::IphlpapiModule,
};

// A Windows path names the module by its last component; without an extension the
// loader appends ".dll".
bool NamesModule(const char* path, const char* fileName) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') base = p + 1;
    }
    if (strcasecmp(base, fileName) == 0) return true;
    const size_t stem = strlen(fileName) - 4;  // without ".dll"
    return strlen(base) == stem && strncasecmp(base, fileName, stem) == 0;
}

const posix::BuiltinModule* FindBuiltin(const char* path) {
    for (ModuleAccessor accessor : kBuiltinModules) {
        const posix::BuiltinModule& module = accessor();
        if (NamesModule(path, module.fileName)) return &module;
    }
    return nullptr;
}

// The handle of a built-in module is the address of its table.
const posix::BuiltinModule* AsBuiltin(void* handle) {
    for (ModuleAccessor accessor : kBuiltinModules) {
        const posix::BuiltinModule& module = accessor();
        if (handle == &module) return &module;
    }
    return nullptr;
}

}  // namespace

void* LoadLibraryA(const char* path) {
    if (path == nullptr) return nullptr;
    if (const posix::BuiltinModule* module = FindBuiltin(path)) {
        return const_cast<posix::BuiltinModule*>(module);
    }
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(void* module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    if (const posix::BuiltinModule* builtin = AsBuiltin(module)) {
        const uintptr_t ordinal = reinterpret_cast<uintptr_t>(name);
        for (size_t i = 0; i < builtin->exportCount; ++i) {
            const posix::BuiltinExport& e = builtin->exports[i];
            if (ordinal < 0x10000 ? e.ordinal != 0 && e.ordinal == ordinal
                                  : strcmp(e.name, name) == 0) {
                return e.function;
            }
        }
        return nullptr;
    }
    // Shared objects export by name only.
    if (reinterpret_cast<uintptr_t>(name) < 0x10000) return nullptr;
    return dlsym(module, name);
}

void* GetModuleHandleA(const char* name) {
    if (name != nullptr) {
        if (const posix::BuiltinModule* module = FindBuiltin(name)) {
            return const_cast<posix::BuiltinModule*>(module);
        }
    }
    void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
    // The probe took a reference of its own; the module's other holders keep it loaded.
    if (handle != nullptr) dlclose(handle);
    return handle;
}

// Built-in modules stay loaded for the life of the process.
bool FreeLibrary(void* module) {
    if (module == nullptr) return false;
    if (AsBuiltin(module) != nullptr) return true;
    return dlclose(module) == 0;
}

}  // namespace plat
