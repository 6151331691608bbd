// The engine's heap. Allocation failure is an ordinary result (null), never an exception;
// tests can make the next allocations fail to reach the engine's "Out of memory." paths.
#pragma once

#include <cstddef>
#include <new>

namespace corvane {

void* EngineAlloc(size_t size);
void EngineFree(void* block);

// Objects on the engine heap: null when memory is exhausted.
template <typename T, typename... Args>
T* EngineNew(Args&&... args) {
    void* block = EngineAlloc(sizeof(T));
    return block != nullptr ? new (block) T(static_cast<Args&&>(args)...) : nullptr;
}

template <typename T>
void EngineDelete(T* object) {
    if (object == nullptr) return;
    object->~T();
    EngineFree(object);
}

// Test hook: the allocation after `successes` further ones fails, and every one after it
// until the hook is cleared with a negative value.
void SetAllocationFailureAfter(long successes);

}  // namespace corvane
