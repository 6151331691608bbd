// Loading code modules and looking up their exported functions, like LoadLibraryA,
// GetProcAddress and FreeLibrary.
#pragma once

#include "platform/export.h"

namespace plat {

// Null when the module cannot be loaded.
PLAT_API void* LoadLibraryA(const char* path);
PLAT_API void* GetProcAddress(void* module, const char* name);
PLAT_API bool FreeLibrary(void* module);

}  // namespace plat
