// The ping component's exported entry points: handle checks and the hand-over to the
// ping object. No exception and no C++ type crosses this boundary.
#include "engine/core/corvane20.h"
#include "engine/core/error_codes.h"
#include "engine/core/memory.h"
#include "engine/core/module_state.h"
#include "engine/core/ping_component.h"
#include "engine/core/text_converter.h"
#include "engine/icmp/helper_library.h"
#include "engine/net/socket_runtime.h"

using corvane::kOutOfMemory;
using corvane::PingComponent;

namespace {

PingComponent* Object(void* ping) {
    return static_cast<PingComponent*>(ping);
}

}  // namespace

extern "C" {

int32_t Corvane_Ping_StaticInit(void* module) {
    corvane::BindHelperLibraries();
    corvane::RuntimeStartup(module);
    return 0;
}

int32_t Corvane_Ping_StaticDestroy(void) {
    corvane::ReleaseHelperLibraries();
    corvane::RuntimeShutdown();
    return 0;
}

void* Corvane_Ping_Create(CorvaneEventCallback callback, void* context, const char* /*reserved*/,
                          int32_t options) {
    const corvane::ConstructionLock lock;
    return corvane::EngineNew<PingComponent>(callback, context, options);
}

int32_t Corvane_Ping_Destroy(void* ping) {
    if (ping != nullptr) Object(ping)->Destroy();
    return 0;
}

int32_t Corvane_Ping_CheckIndex(void* ping, int32_t /*property*/, int32_t /*index*/) {
    return ping == nullptr ? kOutOfMemory : 0;
}

intptr_t Corvane_Ping_Get(void* ping, int32_t property, int32_t /*index*/, int32_t* /*length*/,
                          int64_t /*reserved*/) {
    return ping == nullptr ? 0 : Object(ping)->Get(property);
}

// Set and Do may run the host's handlers, which may destroy the object: the call keeps it
// until it returns.
int32_t Corvane_Ping_Set(void* ping, int32_t property, int32_t /*index*/, intptr_t value,
                         int32_t /*length*/) {
    if (ping == nullptr) return kOutOfMemory;
    const PingComponent::Call call(Object(ping));
    return Object(ping)->Set(property, value);
}

int32_t Corvane_Ping_Do(void* ping, int32_t method, int32_t count, intptr_t* params,
                        int32_t* lengths, int64_t /*reserved*/) {
    if (ping == nullptr) return kOutOfMemory;
    const PingComponent::Call call(Object(ping));
    return Object(ping)->Do(method, count, params, lengths);
}

const char* Corvane_Ping_GetLastError(void* ping) {
    return ping == nullptr ? nullptr : Object(ping)->LastErrorText();
}

int32_t Corvane_Ping_GetLastErrorCode(void* ping) {
    return ping == nullptr ? kOutOfMemory : Object(ping)->LastErrorCode();
}

int32_t Corvane_Ping_SetLastErrorAndCode(void* ping, int32_t code, const char* text) {
    return ping == nullptr ? kOutOfMemory : Object(ping)->SetLastErrorAndCode(code, text);
}

const char* Corvane_Ping_GetEventError(void* ping) {
    return ping == nullptr ? nullptr : Object(ping)->EventErrorText();
}

int32_t Corvane_Ping_GetEventErrorCode(void* ping) {
    return ping == nullptr ? kOutOfMemory : Object(ping)->EventErrorCode();
}

int32_t Corvane_Ping_SetEventErrorAndCode(void* ping, int32_t code, const char* text) {
    return ping == nullptr ? kOutOfMemory : Object(ping)->SetEventErrorAndCode(code, text);
}

}  // extern "C"
