// A console host of the engine module: loads it the way any host would, creates a ping
// object and shows its settings, then asks it to ping the host given on the command line.
#include <cinttypes>
#include <cstdio>

#include "engine/core/corvane20.h"
#include "platform/module.h"

namespace {

struct Engine {
    decltype(&Corvane_Ping_Create) Create;
    decltype(&Corvane_Ping_Destroy) Destroy;
    decltype(&Corvane_Ping_Get) Get;
    decltype(&Corvane_Ping_Do) Do;
    decltype(&Corvane_Ping_GetLastError) GetLastError;
};

template <typename F>
bool Bind(void* module, const char* name, F& slot) {
    slot = reinterpret_cast<F>(plat::GetProcAddress(module, name));
    if (slot == nullptr) std::fprintf(stderr, "The engine has no entry point %s.\n", name);
    return slot != nullptr;
}

const char* Config(const Engine& e, void* ping, const char* setting, int32_t* rc) {
    intptr_t slots[2] = {reinterpret_cast<intptr_t>(setting), 0};
    int32_t lengths[2] = {};
    *rc = e.Do(ping, CORVANE_PING_CONFIG, 1, slots, lengths, 0);
    const char* answer = reinterpret_cast<const char*>(slots[1]);
    return answer != nullptr ? answer : "";
}

// Reply and error lines as the tool prints them.
int32_t OnEvent(void* /*context*/, int32_t event, int32_t /*count*/, intptr_t* params,
                int32_t* /*lengths*/) {
    if (event == CORVANE_PING_EVENT_RESPONSE) {
        std::printf("%s : %s \xEF\xBC\x8Ctime=%dms\n", reinterpret_cast<const char*>(params[1]),
                    reinterpret_cast<const char*>(params[2]), static_cast<int>(params[3]));
    } else if (event == CORVANE_PING_EVENT_ERROR) {
        std::printf("%d:%s\n", static_cast<int>(params[0]),
                    reinterpret_cast<const char*>(params[1]));
    }
    return 0;
}

const char* Text(const Engine& e, void* ping, int32_t property) {
    const char* text = reinterpret_cast<const char*>(e.Get(ping, property, 0, nullptr, 0));
    return text != nullptr ? text : "";
}

}  // namespace

int main(int argc, char** argv) {
    void* module = plat::LoadLibraryA(CORVANE_ENGINE_PATH);
    if (module == nullptr) {
        std::fprintf(stderr, "Cannot load the engine module %s.\n", CORVANE_ENGINE_PATH);
        return 1;
    }
    Engine e{};
    if (!Bind(module, "Corvane_Ping_Create", e.Create) ||
        !Bind(module, "Corvane_Ping_Destroy", e.Destroy) ||
        !Bind(module, "Corvane_Ping_Get", e.Get) || !Bind(module, "Corvane_Ping_Do", e.Do) ||
        !Bind(module, "Corvane_Ping_GetLastError", e.GetLastError)) {
        return 1;
    }

    void* ping = e.Create(OnEvent, nullptr, nullptr, 0);
    if (ping == nullptr) {
        std::fprintf(stderr, "The engine could not create a ping object.\n");
        return 1;
    }
    int32_t rc = 0;
    Config(e, ping, "CodePage=65001", &rc);
    std::printf("Engine %s, build %s\n", Text(e, ping, CORVANE_PING_VERSION_TAG),
                Config(e, ping, "BuildInfo", &rc));
    std::printf("LocalHost      %s\n", Text(e, ping, CORVANE_PING_LOCAL_HOST));
    std::printf("PacketSize     %" PRIdPTR "\n",
                e.Get(ping, CORVANE_PING_PACKET_SIZE, 0, nullptr, 0));
    std::printf("Timeout        %" PRIdPTR "\n", e.Get(ping, CORVANE_PING_TIMEOUT, 0, nullptr, 0));
    std::printf("MaxPacketSize  %s\n", Config(e, ping, "MaxPacketSize", &rc));
    std::printf("WinsockVersion %s\n", Config(e, ping, "WinsockVersion", &rc));

    int status = 0;
    if (argc > 1) {
        intptr_t slots[2] = {reinterpret_cast<intptr_t>(argv[1]), 0};
        int32_t lengths[2] = {};
        rc = e.Do(ping, CORVANE_PING_PING_HOST, 1, slots, lengths, 0);
        if (rc != 0) {
            std::printf("%d:%s\n", rc, e.GetLastError(ping));
            status = 2;
        }
    }
    e.Destroy(ping);
    plat::FreeLibrary(module);
    return status;
}
