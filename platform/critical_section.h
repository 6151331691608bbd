// A recursive lock owned by one creator, like a Windows critical section.
#pragma once

#include "platform/export.h"

namespace plat {

struct CriticalSection;

// Null when the lock cannot be created.
PLAT_API CriticalSection* CreateCriticalSection();
PLAT_API void DeleteCriticalSection(CriticalSection* section);
PLAT_API void EnterCriticalSection(CriticalSection* section);
PLAT_API void LeaveCriticalSection(CriticalSection* section);

}  // namespace plat
