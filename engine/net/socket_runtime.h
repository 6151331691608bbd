// Process-wide start-up of the socket runtime, shared by every object of the module.
#pragma once

#include <cstdint>

namespace corvane {

struct RuntimeState {
    int32_t winsockStatus = -1;   // result of the Windows Sockets start-up
    uint16_t winsockVersion = 0;  // granted version, low byte major, high byte minor
};

const RuntimeState& Runtime();

void RuntimeStartup(void* module);
void RuntimeShutdown();

}  // namespace corvane
