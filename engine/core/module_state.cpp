#include "engine/core/module_state.h"

#include <atomic>

#include "engine/core/corvane20.h"
#include "platform/critical_section.h"

namespace corvane {

namespace {
void* g_module = nullptr;
plat::CriticalSection* g_lock = nullptr;
std::atomic<bool> g_wipeOnRelease{false};
}  // namespace

void* ModuleHandle() {
    return g_module;
}

void ModuleAttach(void* module) {
    g_module = module;
    g_lock = plat::CreateCriticalSection();
    Corvane_Ping_StaticInit(module);
}

void ModuleDetach() {
    Corvane_Ping_StaticDestroy();
    plat::DeleteCriticalSection(g_lock);
    g_lock = nullptr;
}

ConstructionLock::ConstructionLock() {
    plat::EnterCriticalSection(g_lock);
}

ConstructionLock::~ConstructionLock() {
    plat::LeaveCriticalSection(g_lock);
}

bool WipeOnRelease() {
    return g_wipeOnRelease.load(std::memory_order_relaxed);
}

void SetWipeOnRelease(bool on) {
    g_wipeOnRelease.store(on, std::memory_order_relaxed);
}

}  // namespace corvane
