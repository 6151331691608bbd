#include "platform/critical_section.h"

#include <new>

#include "platform/win32/windows_headers.h"

namespace plat {

struct CriticalSection {
    CRITICAL_SECTION section;
};

CriticalSection* CreateCriticalSection() {
    auto* lock = new (std::nothrow) CriticalSection;
    if (lock != nullptr) ::InitializeCriticalSection(&lock->section);
    return lock;
}

void DeleteCriticalSection(CriticalSection* lock) {
    if (lock == nullptr) return;
    ::DeleteCriticalSection(&lock->section);
    delete lock;
}

void EnterCriticalSection(CriticalSection* lock) {
    if (lock != nullptr) ::EnterCriticalSection(&lock->section);
}

void LeaveCriticalSection(CriticalSection* lock) {
    if (lock != nullptr) ::LeaveCriticalSection(&lock->section);
}

}  // namespace plat
