// What a console program needs of the system: Ctrl+C and termination requests as a
// descriptor the message queue can watch, a plain sleep, and whether a display exists.
#pragma once

#include <cstdint>

#include "platform/export.h"

namespace plat {

// Catches interrupt and termination requests from now on. The descriptor becomes
// readable once one arrives (for JoinGuiSource); -1 when it cannot be set up.
PLAT_API int WatchConsoleInterrupts();
PLAT_API bool ConsoleInterrupted();

PLAT_API void Sleep(uint32_t milliseconds);

// A graphical display the program could open a window on.
PLAT_API bool HasDisplay();

}  // namespace plat
