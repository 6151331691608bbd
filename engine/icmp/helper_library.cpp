#include "engine/icmp/helper_library.h"

#include "platform/module.h"

namespace corvane {

namespace {

HelperFunctions g_icmp;
HelperFunctions g_iphlp;
const HelperFunctions* g_replacement = nullptr;

template <typename F>
void Lookup(void* module, const char* name, F& slot) {
    slot = reinterpret_cast<F>(plat::GetProcAddress(module, name));
}

void Bind(const char* fileName, HelperFunctions& functions) {
    functions = HelperFunctions{};
    functions.module = plat::LoadLibraryA(fileName);
    if (functions.module == nullptr) return;
    Lookup(functions.module, "IcmpCreateFile", functions.IcmpCreateFile);
    Lookup(functions.module, "IcmpCloseHandle", functions.IcmpCloseHandle);
    Lookup(functions.module, "IcmpSendEcho", functions.IcmpSendEcho);
}

void Release(HelperFunctions& functions) {
    if (functions.module != nullptr) plat::FreeLibrary(functions.module);
    functions = HelperFunctions{};
}

}  // namespace

void BindHelperLibraries() {
    Bind("icmp.dll", g_icmp);
    Bind("Iphlpapi.dll", g_iphlp);
}

void ReleaseHelperLibraries() {
    Release(g_icmp);
    Release(g_iphlp);
}

const HelperFunctions& HelperLibrary(bool useIphlp) {
    if (g_replacement != nullptr) return *g_replacement;
    return useIphlp ? g_iphlp : g_icmp;
}

void SetHelperFunctions(const HelperFunctions* functions) {
    g_replacement = functions;
}

}  // namespace corvane
