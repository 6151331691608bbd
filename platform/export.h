// Visibility of the platform layer's own entry points. On Linux the layer is one
// shared library used by the engine module and by the program alike.
#pragma once

#if defined(_WIN32)
#define PLAT_API
#else
#define PLAT_API __attribute__((visibility("default")))
#endif
