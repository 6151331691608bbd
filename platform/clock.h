// Time sources: a 32-bit millisecond tick count that wraps after about 49.7 days, and a
// high-resolution counter with its frequency.
#pragma once

#include <cstdint>

#include "platform/export.h"

namespace plat {

PLAT_API uint32_t GetTickCount();
PLAT_API bool QueryPerformanceCounter(int64_t* counter);
PLAT_API bool QueryPerformanceFrequency(int64_t* frequency);

}  // namespace plat
