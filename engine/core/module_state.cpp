#include "engine/core/module_state.h"

#include <atomic>

#include "engine/core/corvane20.h"
#include "platform/critical_section.h"

namespace corvane {

namespace {
void* g_module = nullptr;
plat::CriticalSection* g_lock = nullptr;
std::atomic<bool> g_wipeOnRelease{false};
LiveObject* g_liveObjects = nullptr;
}  // namespace

void* ModuleHandle() {
    return g_module;
}

void ModuleAttach(void* module) {
    g_module = module;
    g_lock = plat::CreateCriticalSection();
    Corvane_Ping_StaticInit(module);
}

LiveObject::LiveObject() {
    const ConstructionLock lock;
    next_ = g_liveObjects;
    if (next_ != nullptr) next_->previous_ = this;
    g_liveObjects = this;
}

LiveObject::~LiveObject() {
    Unlink();
}

void LiveObject::Unlink() {
    const ConstructionLock lock;
    if (previous_ != nullptr) previous_->next_ = next_;
    if (next_ != nullptr) next_->previous_ = previous_;
    if (g_liveObjects == this) g_liveObjects = next_;
    previous_ = next_ = nullptr;
}

void ModuleDetach() {
    // Bounded by the number of live objects: each Destroy unlinks its object, at once or
    // (inside one of its calls) before it is freed later.
    while (g_liveObjects != nullptr)
        g_liveObjects->Destroy();
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
