// Process attach and detach of the engine module on Windows: the DLL's entry routine,
// called by whichever loader maps the image (the system's or the program's own).
#include <cstdint>

#include "engine/core/module_state.h"

namespace {

constexpr uint32_t kProcessDetach = 0;
constexpr uint32_t kProcessAttach = 1;

}  // namespace

// The C runtime's entry routine runs the module's constructors, then calls this.
extern "C" int __stdcall DllMain(void* instance, unsigned long reason, void* /*reserved*/) {
    if (reason == kProcessAttach) corvane::ModuleAttach(instance);
    if (reason == kProcessDetach) corvane::ModuleDetach();
    return 1;
}
