// The calling thread's system error number, as GetLastError and SetLastError keep it.
#pragma once

#include <cstdint>

#include "platform/export.h"

namespace plat {

PLAT_API uint32_t GetLastError();
PLAT_API void SetLastError(uint32_t code);

}  // namespace plat
