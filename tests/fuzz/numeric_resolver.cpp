// Every name resolution of a fuzzer comes through here (the platform layer's resolver
// calls getaddrinfo): numeric hosts only, whatever the caller asked for, so that no
// query leaves the process.
#include <dlfcn.h>
#include <netdb.h>

extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** result) {
    using Real = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getaddrinfo"));
    struct addrinfo numeric {};
    if (hints != nullptr) numeric = *hints;
    numeric.ai_flags |= AI_NUMERICHOST;
    return real(node, service, &numeric, result);
}
