#include <time.h>

#include "platform/clock.h"

namespace plat {

uint32_t GetTickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

bool QueryPerformanceCounter(int64_t* counter) {
    if (counter == nullptr) return false;
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return false;
    *counter = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
    return true;
}

bool QueryPerformanceFrequency(int64_t* frequency) {
    if (frequency == nullptr) return false;
    *frequency = 1000000000;  // the counter counts nanoseconds
    return true;
}

}  // namespace plat
