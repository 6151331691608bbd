// Process attach and detach of the engine module: on Linux the shared object's
// initialisation and finalisation.
#include "engine/core/module_state.h"

extern "C" void* __dso_handle;

namespace {

__attribute__((constructor)) void OnModuleLoad() {
    corvane::ModuleAttach(&__dso_handle);
}

__attribute__((destructor)) void OnModuleUnload() {
    corvane::ModuleDetach();
}

}  // namespace
