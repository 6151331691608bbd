// Loading code modules and looking up their exported functions, like LoadLibraryA,
// GetProcAddress and FreeLibrary.
#pragma once

#include <cstddef>

#include "platform/export.h"

namespace plat {

// Null when the module cannot be loaded.
PLAT_API void* LoadLibraryA(const char* path);
// A name below 0x10000 is an ordinal.
PLAT_API void* GetProcAddress(void* module, const char* name);
PLAT_API bool FreeLibrary(void* module);

// The handle of a module that is already loaded, without taking a reference; null when it
// is not loaded. A null name gives the program's own module.
PLAT_API void* GetModuleHandleA(const char* name);

// Loads a code module of the system's own format from size bytes in memory; nothing is
// written to a disk. The handle works with GetProcAddress and FreeLibrary; null when the
// bytes are no loadable module. Linux only: on Windows the program maps its PE images
// itself.
PLAT_API void* LoadLibraryFromMemory(const void* bytes, size_t size);

}  // namespace plat
