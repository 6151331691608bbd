// The calling process.
#pragma once

#include <cstdint>

#include "platform/export.h"

namespace plat {

PLAT_API uint32_t GetCurrentProcessId();

// Started with more rights than the user who started it (set-user-id, file
// capabilities): what the environment says must not choose the code it runs.
PLAT_API bool RaisedRights();

}  // namespace plat
