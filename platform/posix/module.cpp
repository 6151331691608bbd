#include <dlfcn.h>

#include "platform/module.h"

namespace plat {

void* LoadLibraryA(const char* path) {
    return path != nullptr ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr;
}

void* GetProcAddress(void* module, const char* name) {
    return module != nullptr && name != nullptr ? dlsym(module, name) : nullptr;
}

bool FreeLibrary(void* module) {
    return module != nullptr && dlclose(module) == 0;
}

}  // namespace plat
