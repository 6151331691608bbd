#include "engine/core/memory.h"

#include <atomic>
#include <cstdlib>

namespace corvane {

namespace {
std::atomic<long> g_allocationsBeforeFailure{-1};
}

void* EngineAlloc(size_t size) {
    long left = g_allocationsBeforeFailure.load(std::memory_order_relaxed);
    if (left == 0) return nullptr;
    if (left > 0) g_allocationsBeforeFailure.store(left - 1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}

void EngineFree(void* block) {
    std::free(block);
}

void SetAllocationFailureAfter(long successes) {
    g_allocationsBeforeFailure.store(successes < 0 ? -1 : successes, std::memory_order_relaxed);
}

}  // namespace corvane
