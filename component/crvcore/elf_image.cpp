// The engine as a shared object of the system's own format: loaded from the bytes in
// memory by the system loader, which also runs its attach (initialisers) and detach
// (finalisers). The module handle doubles as the entry token.
#include <algorithm>
#include <mutex>
#include <vector>

#include "component/crvcore/engine_image.h"
#include "platform/module.h"

namespace crvcore {

namespace {

// Handles this path loaded and has not released, so that a stale or foreign pair is
// refused instead of being handed to the system loader.
std::mutex g_handlesLock;
std::vector<void*> g_handles;

}  // namespace

void* LoadElfImage(const void* image, size_t size, void** entry) {
    if (image == nullptr || entry == nullptr) return nullptr;
    void* handle = plat::LoadLibraryFromMemory(image, size);
    if (handle == nullptr) return nullptr;
    {
        std::lock_guard<std::mutex> hold(g_handlesLock);
        g_handles.push_back(handle);
    }
    *entry = handle;
    return handle;
}

bool FreeElfImage(void* base, void* entry) {
    if (base == nullptr || entry != base) return false;
    {
        std::lock_guard<std::mutex> hold(g_handlesLock);
        auto it = std::find(g_handles.begin(), g_handles.end(), base);
        if (it == g_handles.end()) return false;
        g_handles.erase(it);
    }
    return plat::FreeLibrary(base);
}

}  // namespace crvcore
