// Named resources carried by the program's executable, found, loaded, locked and freed
// as the Windows resource functions do. On Linux the executable registers a table of
// its resources when it starts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/export.h"

namespace plat {

inline constexpr uintptr_t RT_RCDATA = 10;

struct ResourceEntry {
    const char16_t* name;  // compared without regard to case
    uintptr_t type;
    const void* data;
    size_t size;
};

// module null: the program itself. Null when there is no such resource.
PLAT_API void* FindResourceW(void* module, const char16_t* name, uintptr_t type);
PLAT_API uint32_t SizeofResource(void* module, void* resource);
PLAT_API void* LoadResource(void* module, void* resource);
PLAT_API const void* LockResource(void* loaded);
PLAT_API bool FreeResource(void* loaded);

// Linux: adds the program's resources (kept by reference; the table must outlive its use).
PLAT_API void RegisterResources(const ResourceEntry* entries, size_t count);

}  // namespace plat
