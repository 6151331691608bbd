// EngineModule: the one shared image of the process, its holder count and the lock
// around mapping and releasing it.
#include "component/crvcore/engine_image.h"

#include "platform/critical_section.h"
#include "platform/module.h"
#include "platform/version.h"

namespace crvcore {

namespace {

struct EngineModule {
    void* base = nullptr;
    void* entry = nullptr;
    int32_t count = 0;
};

EngineModule g_module;
plat::CriticalSection* g_lock = nullptr;

class LoaderLockHold {
  public:
    LoaderLockHold() { plat::EnterCriticalSection(g_lock); }
    ~LoaderLockHold() { plat::LeaveCriticalSection(g_lock); }
    LoaderLockHold(const LoaderLockHold&) = delete;
    LoaderLockHold& operator=(const LoaderLockHold&) = delete;
};

const ImageFormat& PlatformFormat() {
    return IsNTPlatform() ? kPeImageFormat : kElfImageFormat;
}

}  // namespace

bool IsNTPlatform() {
    plat::OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    return plat::GetVersionExW(&info) && info.dwPlatformId == plat::VER_PLATFORM_WIN32_NT;
}

void CreateLoaderLock() {
    if (g_lock == nullptr) g_lock = plat::CreateCriticalSection();
}

void DestroyLoaderLock() {
    plat::DeleteCriticalSection(g_lock);
    g_lock = nullptr;
}

void* LoadEngineImageAs(const ImageFormat& format, const void* image, size_t size, void** entry) {
    if (entry == nullptr) return nullptr;
    LoaderLockHold hold;
    if (g_module.count > 0 && g_module.base != nullptr && g_module.entry != nullptr) {
        // Every caller shares the one image; this caller's bytes are not looked at.
        ++g_module.count;
        *entry = g_module.entry;
        return g_module.base;
    }
    if (image == nullptr) return nullptr;
    void* mappedEntry = nullptr;
    void* base = format.load(image, size, &mappedEntry);
    if (base == nullptr) return nullptr;
    g_module = EngineModule{base, mappedEntry, 1};
    *entry = mappedEntry;
    return base;
}

bool FreeEngineImageAs(const ImageFormat& format, void* base, void* entry) {
    if (base == nullptr || entry == nullptr) return false;
    LoaderLockHold hold;
    if (base == g_module.base && entry == g_module.entry) {
        if (--g_module.count != 0) return false;
        // Forgotten even when detach refuses; that pair can then only be freed on its own.
        const bool released = format.release(base, entry);
        g_module = EngineModule{};
        return released;
    }
    return format.release(base, entry);
}

void* LoadEngineImage(const void* image, size_t size, void** entry) {
    return LoadEngineImageAs(PlatformFormat(), image, size, entry);
}

bool FreeEngineImage(void* base, void* entry) {
    return FreeEngineImageAs(PlatformFormat(), base, entry);
}

void* FindEngineExport(void* base, const char* name) {
    if (IsNTPlatform()) return FindPeExport(base, name);
    return plat::GetProcAddress(base, name);
}

int32_t EngineImageHolders() {
    LoaderLockHold hold;
    return g_module.count;
}

}  // namespace crvcore
