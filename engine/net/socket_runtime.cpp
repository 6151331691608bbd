#include "engine/net/socket_runtime.h"

namespace corvane {

namespace {
RuntimeState g_runtime;
constexpr uint16_t kWinsockVersion22 = 0x0202;
}  // namespace

const RuntimeState& Runtime() {
    return g_runtime;
}

void RuntimeStartup(void* /*module*/) {
    g_runtime.winsockStatus = 0;
    g_runtime.winsockVersion = kWinsockVersion22;
}

void RuntimeShutdown() {
    g_runtime = RuntimeState{};
}

}  // namespace corvane
