// The calling process.
#pragma once

#include <cstdint>

#include "platform/export.h"

namespace plat {

PLAT_API uint32_t GetCurrentProcessId();

}  // namespace plat
