#include "platform/clock.h"

#include "platform/win32/windows_headers.h"

namespace plat {

uint32_t GetTickCount() {
    return ::GetTickCount();
}

bool QueryPerformanceCounter(int64_t* counter) {
    LARGE_INTEGER value;
    if (counter == nullptr || !::QueryPerformanceCounter(&value)) return false;
    *counter = value.QuadPart;
    return true;
}

bool QueryPerformanceFrequency(int64_t* frequency) {
    LARGE_INTEGER value;
    if (frequency == nullptr || !::QueryPerformanceFrequency(&value)) return false;
    *frequency = value.QuadPart;
    return true;
}

}  // namespace plat
