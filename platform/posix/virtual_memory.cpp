#include "platform/virtual_memory.h"

#include <stdlib.h>
#include <sys/mman.h>

#include <mutex>

#include "platform/last_error.h"

namespace plat {

namespace {

constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInvalidAddress = 487;

// munmap needs the length that MEM_RELEASE does not pass, so every reservation is kept
// here with its size. There are few of them; a plain array is enough.
struct Reservation {
    void* base;
    size_t size;
};

std::mutex g_lock;
Reservation* g_reservations = nullptr;
size_t g_count = 0;
size_t g_capacity = 0;

bool Remember(void* base, size_t size) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (g_count == g_capacity) {
        const size_t capacity = g_capacity == 0 ? 16 : g_capacity * 2;
        auto* grown =
            static_cast<Reservation*>(realloc(g_reservations, capacity * sizeof(Reservation)));
        if (grown == nullptr) return false;
        g_reservations = grown;
        g_capacity = capacity;
    }
    g_reservations[g_count++] = Reservation{base, size};
    return true;
}

// The size of the reservation starting at base, now forgotten; 0 when there is none.
size_t Forget(void* base) {
    std::lock_guard<std::mutex> hold(g_lock);
    for (size_t i = 0; i < g_count; ++i) {
        if (g_reservations[i].base != base) continue;
        const size_t size = g_reservations[i].size;
        g_reservations[i] = g_reservations[--g_count];
        return size;
    }
    return 0;
}

bool Protection(uint32_t protect, int* prot) {
    switch (protect) {
        case PAGE_NOACCESS:
            *prot = PROT_NONE;
            return true;
        case PAGE_READONLY:
            *prot = PROT_READ;
            return true;
        case PAGE_READWRITE:
            *prot = PROT_READ | PROT_WRITE;
            return true;
        case PAGE_EXECUTE:
            *prot = PROT_EXEC;
            return true;
        case PAGE_EXECUTE_READ:
            *prot = PROT_READ | PROT_EXEC;
            return true;
        case PAGE_EXECUTE_READWRITE:
            *prot = PROT_READ | PROT_WRITE | PROT_EXEC;
            return true;
        default:
            return false;
    }
}

}  // namespace

void* VirtualAlloc(void* address, size_t size, uint32_t type, uint32_t protect) {
    int prot = PROT_NONE;
    if (address != nullptr || size == 0 || type != (MEM_RESERVE | MEM_COMMIT) ||
        !Protection(protect, &prot)) {
        SetLastError(kErrorInvalidParameter);
        return nullptr;
    }
    // Anonymous pages come zeroed, as committed Windows pages do.
    void* base = mmap(nullptr, size, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        SetLastError(kErrorNotEnoughMemory);
        return nullptr;
    }
    if (!Remember(base, size)) {
        munmap(base, size);
        SetLastError(kErrorNotEnoughMemory);
        return nullptr;
    }
    return base;
}

bool VirtualFree(void* address, size_t size, uint32_t type) {
    if (address == nullptr || size != 0 || type != MEM_RELEASE) {
        SetLastError(kErrorInvalidParameter);
        return false;
    }
    const size_t reserved = Forget(address);
    if (reserved == 0) {
        SetLastError(kErrorInvalidAddress);
        return false;
    }
    munmap(address, reserved);
    return true;
}

}  // namespace plat
