#include "platform/posix/socket_internal.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <type_traits>

#include "platform/posix/builtin_modules.h"
#include "platform/winsock_errors.h"

namespace plat {

namespace {

namespace win = posix::win;

constexpr int32_t kWsaNotEnoughMemory = 8;
constexpr int32_t kWsaEafnosupport = 10047;
constexpr int32_t kWsaEsocktnosupport = 10044;
constexpr int32_t kWsaTypeNotFound = 10109;

// Windows keeps at most this many addresses in a hostent.
constexpr size_t kMaxHostAddresses = 35;

// Windows getaddrinfo flags.
constexpr int kWinAiPassive = 0x1;
constexpr int kWinAiCanonName = 0x2;
constexpr int kWinAiNumericHost = 0x4;
constexpr int kWinAiNumericServ = 0x8;
constexpr int kWinAiAll = 0x100;
constexpr int kWinAiAddrConfig = 0x400;
constexpr int kWinAiV4Mapped = 0x800;
// Hints to Windows name-space providers that have nothing to act on here.
constexpr int kWinAiProviderHints =
    0x10 | 0x20 | 0x40 | 0x80 | 0x4000 | 0x8000 | 0x10000 | 0x20000 | 0x40000 | 0x80000;

// Windows getnameinfo flags.
constexpr int kWinNiNoFqdn = 0x1;
constexpr int kWinNiNumericHost = win::kNiNumericHost;
constexpr int kWinNiNameReqd = 0x4;
constexpr int kWinNiNumericServ = 0x8;
constexpr int kWinNiDgram = 0x10;

int32_t WsaFromEai(int rc) {
    switch (rc) {
        case EAI_NONAME:
        case EAI_ADDRFAMILY:  // an IPv4 literal asked for as IPv6, like Windows
            return kWsaHostNotFound;
        case EAI_AGAIN:
            return kWsaTryAgain;
        case EAI_FAIL:
            return kWsaNoRecovery;
        case EAI_NODATA:
            return kWsaNoData;
        case EAI_FAMILY:
            return kWsaEafnosupport;
        case EAI_SOCKTYPE:
            return kWsaEsocktnosupport;
        case EAI_BADFLAGS:
            return kWsaEinval;
        case EAI_SERVICE:
            return kWsaTypeNotFound;
        case EAI_MEMORY:
            return kWsaNotEnoughMemory;
        case EAI_OVERFLOW:
            return kWsaEfault;
        case EAI_SYSTEM:
            posix::FailWithErrno(errno);
            return WSAGetLastError();
        default:
            return kWsaNoRecovery;
    }
}

int Failed(int32_t code) {
    WSASetLastError(code);
    return code;
}

// The hostent of gethostbyname and gethostbyaddr lives in the calling thread, as
// Windows keeps it: valid until that thread's next call of either.
struct HostStorage {
    hostent entry;
    char name[NI_MAXHOST];
    char* aliases[1];
    char* addresses[kMaxHostAddresses + 1];
    uint8_t bytes[kMaxHostAddresses][16];
};
thread_local HostStorage t_host;

hostent* StartHost(const char* name, int16_t windowsFamily, int16_t length) {
    HostStorage& h = t_host;
    snprintf(h.name, sizeof h.name, "%s", name);
    h.aliases[0] = nullptr;
    h.addresses[0] = nullptr;
    h.entry.h_name = h.name;
    h.entry.h_aliases = h.aliases;
    h.entry.h_addrtype = windowsFamily;
    h.entry.h_length = length;
    h.entry.h_addr_list = h.addresses;
    return &h.entry;
}

// Adds an address unless it is listed already; false when the list is full.
bool AddHostAddress(const void* bytes, size_t length) {
    HostStorage& h = t_host;
    size_t count = 0;
    while (h.addresses[count] != nullptr) {
        if (memcmp(h.addresses[count], bytes, length) == 0) return true;
        ++count;
    }
    if (count == kMaxHostAddresses) return false;
    memcpy(h.bytes[count], bytes, length);
    h.addresses[count] = reinterpret_cast<char*>(h.bytes[count]);
    h.addresses[count + 1] = nullptr;
    return true;
}

// The numeric form Windows gives: the scope id always as a number ("fe80::1%12").
bool NumericHost(const sockaddr_storage& address, char* out, size_t capacity) {
    if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const ::sockaddr_in&>(address);
        return inet_ntop(AF_INET, &in.sin_addr, out, static_cast<socklen_t>(capacity)) != nullptr;
    }
    const auto& in6 = reinterpret_cast<const ::sockaddr_in6&>(address);
    if (inet_ntop(AF_INET6, &in6.sin6_addr, out, static_cast<socklen_t>(capacity)) == nullptr) {
        return false;
    }
    if (in6.sin6_scope_id != 0) {
        const size_t used = strlen(out);
        const int n = snprintf(out + used, capacity - used, "%%%u", in6.sin6_scope_id);
        if (n < 0 || static_cast<size_t>(n) >= capacity - used) return false;
    }
    return true;
}

bool CopyOut(const char* text, char* out, uint32_t capacity) {
    const size_t n = strlen(text) + 1;
    if (n > capacity) return false;
    memcpy(out, text, n);
    return true;
}

bool LinuxAddressFlags(int windowsFlags, int* flags) {
    if ((windowsFlags & ~(kWinAiPassive | kWinAiCanonName | kWinAiNumericHost | kWinAiNumericServ |
                          kWinAiAll | kWinAiAddrConfig | kWinAiV4Mapped | kWinAiProviderHints)) !=
        0) {
        return false;
    }
    *flags = ((windowsFlags & kWinAiPassive) != 0 ? AI_PASSIVE : 0) |
             ((windowsFlags & kWinAiCanonName) != 0 ? AI_CANONNAME : 0) |
             ((windowsFlags & kWinAiNumericHost) != 0 ? AI_NUMERICHOST : 0) |
             ((windowsFlags & kWinAiNumericServ) != 0 ? AI_NUMERICSERV : 0) |
             ((windowsFlags & kWinAiAll) != 0 ? AI_ALL : 0) |
             ((windowsFlags & kWinAiAddrConfig) != 0 ? AI_ADDRCONFIG : 0) |
             ((windowsFlags & kWinAiV4Mapped) != 0 ? AI_V4MAPPED : 0);
    return true;
}

void WsFreeAddrInfo(addrinfo* info) {
    while (info != nullptr) {
        addrinfo* next = info->ai_next;
        free(info);
        info = next;
    }
}

// Each entry is one block: the Windows addrinfo, its socket address, its canonical name.
int WsGetAddrInfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
    if (result == nullptr) return Failed(kWsaEinval);
    *result = nullptr;
    if (!posix::RequireStarted()) return kWsaNotInitialised;
    ::addrinfo query{};
    query.ai_family = AF_UNSPEC;
    int windowsFlags = 0;
    if (hints != nullptr) {
        if (hints->ai_addrlen != 0 || hints->ai_canonname != nullptr || hints->ai_addr != nullptr ||
            hints->ai_next != nullptr) {
            return Failed(kWsaNoRecovery);
        }
        windowsFlags = hints->ai_flags;
        if (!LinuxAddressFlags(hints->ai_flags, &query.ai_flags)) return Failed(kWsaEinval);
        if (hints->ai_family == win::kAfInet) {
            query.ai_family = AF_INET;
        } else if (hints->ai_family == win::kAfInet6) {
            query.ai_family = AF_INET6;
        } else if (hints->ai_family != 0) {
            return Failed(kWsaEafnosupport);
        }
        query.ai_socktype = hints->ai_socktype;  // the numbers agree
        query.ai_protocol = hints->ai_protocol;
    }
    ::addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(node, service, &query, &found);
    if (rc != 0) return Failed(WsaFromEai(rc));

    addrinfo* head = nullptr;
    addrinfo** tail = &head;
    constexpr size_t kAddressRoom = 32;  // a Windows ::sockaddr_in6, rounded up
    for (const ::addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
        const size_t nameLength = a->ai_canonname != nullptr ? strlen(a->ai_canonname) + 1 : 0;
        void* block = calloc(1, sizeof(addrinfo) + kAddressRoom + nameLength);
        if (block == nullptr) {
            ::freeaddrinfo(found);
            WsFreeAddrInfo(head);
            return Failed(kWsaNotEnoughMemory);
        }
        auto* entry = static_cast<addrinfo*>(block);
        auto* room = static_cast<char*>(block) + sizeof(addrinfo);
        sockaddr_storage address{};
        memcpy(&address, a->ai_addr,
               a->ai_addrlen < sizeof address ? a->ai_addrlen : sizeof address);
        const int size = posix::ToWindowsAddress(address, room, static_cast<int>(kAddressRoom));
        entry->ai_flags = windowsFlags;
        entry->ai_family = a->ai_family == AF_INET ? win::kAfInet : win::kAfInet6;
        entry->ai_socktype = a->ai_socktype;
        entry->ai_protocol = a->ai_protocol;
        entry->ai_addrlen = size > 0 ? static_cast<size_t>(size) : 0;
        entry->ai_addr = room;
        if (nameLength > 0) {
            entry->ai_canonname = room + kAddressRoom;
            memcpy(entry->ai_canonname, a->ai_canonname, nameLength);
        }
        *tail = entry;
        tail = &entry->ai_next;
    }
    ::freeaddrinfo(found);
    if (head == nullptr) return Failed(kWsaNoData);
    *result = head;
    return 0;
}

int WsGetNameInfo(const void* address, int addressLength, char* host, uint32_t hostLength,
                  char* service, uint32_t serviceLength, int flags) {
    if (!posix::RequireStarted()) return kWsaNotInitialised;
    sockaddr_storage native{};
    socklen_t linuxLength = 0;
    if (!posix::ToLinuxAddress(address, addressLength, &native, &linuxLength)) {
        return WSAGetLastError();
    }
    if ((flags & ~(kWinNiNoFqdn | kWinNiNumericHost | kWinNiNameReqd | kWinNiNumericServ |
                   kWinNiDgram)) != 0) {
        return Failed(kWsaEinval);
    }
    const bool wantHost = host != nullptr && hostLength > 0;
    const bool wantService = service != nullptr && serviceLength > 0;
    if (!wantHost && !wantService) return Failed(kWsaHostNotFound);
    const auto* sa = reinterpret_cast<const sockaddr*>(&native);

    if (wantHost) {
        char text[NI_MAXHOST];
        bool numeric = (flags & kWinNiNumericHost) != 0;
        if (!numeric) {
            const int rc = ::getnameinfo(sa, linuxLength, text, sizeof text, nullptr, 0,
                                         NI_NAMEREQD | ((flags & kWinNiNoFqdn) ? NI_NOFQDN : 0));
            if (rc != 0) {
                // Without a name required, an address without one reads as its number.
                const bool fallBack = (flags & kWinNiNameReqd) == 0 &&
                                      (rc == EAI_NONAME || rc == EAI_AGAIN || rc == EAI_FAIL);
                if (!fallBack) return Failed(WsaFromEai(rc));
                numeric = true;
            }
        }
        if (numeric && !NumericHost(native, text, sizeof text)) return Failed(kWsaEfault);
        if (!CopyOut(text, host, hostLength)) return Failed(kWsaEfault);
    }
    if (wantService) {
        char text[NI_MAXSERV];
        const uint16_t port = ntohs(reinterpret_cast<const ::sockaddr_in*>(sa)->sin_port);
        if ((flags & kWinNiNumericServ) != 0) {
            snprintf(text, sizeof text, "%u", port);
        } else {
            const int rc = ::getnameinfo(sa, linuxLength, nullptr, 0, text, sizeof text,
                                         (flags & kWinNiDgram) != 0 ? NI_DGRAM : 0);
            if (rc != 0) return Failed(WsaFromEai(rc));
        }
        if (!CopyOut(text, service, serviceLength)) return Failed(kWsaEfault);
    }
    return 0;
}

hostent* WsGetHostByAddr(const char* address, int length, int type) {
    if (!posix::RequireStarted()) return nullptr;
    if (address == nullptr) {
        WSASetLastError(kWsaEfault);
        return nullptr;
    }
    sockaddr_storage native{};
    socklen_t linuxLength;
    if (type == win::kAfInet) {
        if (length < 4) {
            WSASetLastError(kWsaEfault);
            return nullptr;
        }
        auto& in = reinterpret_cast<::sockaddr_in&>(native);
        in.sin_family = AF_INET;
        memcpy(&in.sin_addr, address, 4);
        linuxLength = sizeof in;
    } else if (type == win::kAfInet6) {
        if (length < 16) {
            WSASetLastError(kWsaEfault);
            return nullptr;
        }
        auto& in6 = reinterpret_cast<::sockaddr_in6&>(native);
        in6.sin6_family = AF_INET6;
        memcpy(&in6.sin6_addr, address, 16);
        linuxLength = sizeof in6;
    } else {
        WSASetLastError(kWsaEafnosupport);
        return nullptr;
    }
    char name[NI_MAXHOST];
    const int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&native), linuxLength, name,
                                 sizeof name, nullptr, 0, NI_NAMEREQD);
    if (rc != 0) {
        WSASetLastError(WsaFromEai(rc));
        return nullptr;
    }
    const int16_t size = type == win::kAfInet ? 4 : 16;
    hostent* entry = StartHost(name, static_cast<int16_t>(type), size);
    AddHostAddress(address, static_cast<size_t>(size));
    return entry;
}

static_assert(std::is_same_v<decltype(&WsGetAddrInfo), GetAddrInfoFn>);
static_assert(std::is_same_v<decltype(&WsFreeAddrInfo), FreeAddrInfoFn>);
static_assert(std::is_same_v<decltype(&WsGetNameInfo), GetNameInfoFn>);
static_assert(std::is_same_v<decltype(&WsGetHostByAddr), GetHostByAddrFn>);

// One part of a dotted address: decimal, octal after a leading 0, hex after 0x.
bool ParsePart(const char*& p, uint32_t* value) {
    if (*p < '0' || *p > '9') return false;
    uint32_t base = 10;
    if (*p == '0') {
        base = 8;
        ++p;
        if (*p == 'x' || *p == 'X') {
            base = 16;
            ++p;
            const char c = *p;
            const bool hex =
                (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (!hex) return false;
        }
    }
    uint64_t v = 0;
    for (;; ++p) {
        const char c = *p;
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            break;
        }
        if (digit >= base) return false;
        v = v * base + digit;
        if (v > 0xFFFFFFFFu) return false;
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

}  // namespace

const posix::BuiltinModule& posix::Ws2_32Module() {
    static const BuiltinExport exports[] = {
        {"getaddrinfo", reinterpret_cast<void*>(&WsGetAddrInfo)},
        {"freeaddrinfo", reinterpret_cast<void*>(&WsFreeAddrInfo)},
        {"getnameinfo", reinterpret_cast<void*>(&WsGetNameInfo)},
        {"gethostbyaddr", reinterpret_cast<void*>(&WsGetHostByAddr), 51},
    };
    static const BuiltinModule module{"ws2_32.dll", exports, sizeof exports / sizeof exports[0]};
    return module;
}

// a, a.b, a.b.c or a.b.c.d, the last part filling the remaining bytes; the text ends at
// its end or at white space, as the BSD parser has it.
uint32_t inet_addr(const char* text) {
    if (text == nullptr) return win::kInaddrNone;
    const char* p = text;
    uint32_t parts[4];
    int count = 0;
    for (;;) {
        if (count == 4 || !ParsePart(p, &parts[count])) return win::kInaddrNone;
        ++count;
        if (*p != '.') break;
        ++p;
    }
    if (*p != '\0' && !IsSpace(*p)) return win::kInaddrNone;
    uint32_t value;
    switch (count) {
        case 1:
            value = parts[0];
            break;
        case 2:
            if (parts[0] > 0xFF || parts[1] > 0xFFFFFF) return win::kInaddrNone;
            value = parts[0] << 24 | parts[1];
            break;
        case 3:
            if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF) return win::kInaddrNone;
            value = parts[0] << 24 | parts[1] << 16 | parts[2];
            break;
        default:
            for (uint32_t part : parts) {
                if (part > 0xFF) return win::kInaddrNone;
            }
            value = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
    }
    return htonl(value);
}

// glibc's own gethostbyname shares one result among threads; this one asks getaddrinfo
// and keeps the result per thread.
hostent* gethostbyname(const char* name) {
    if (!posix::RequireStarted()) return nullptr;
    char local[256];
    if (name == nullptr) {  // Windows answers for the local computer
        if (gethostname(local, sizeof local) != 0) {
            posix::FailWithErrno(errno);
            return nullptr;
        }
        local[sizeof local - 1] = '\0';
        name = local;
    }
    ::addrinfo query{};
    query.ai_family = AF_INET;
    query.ai_socktype = SOCK_STREAM;  // one entry per address
    query.ai_flags = AI_CANONNAME;
    ::addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(name, nullptr, &query, &found);
    if (rc != 0) {
        WSASetLastError(WsaFromEai(rc));
        return nullptr;
    }
    const char* canonical =
        found != nullptr && found->ai_canonname != nullptr ? found->ai_canonname : name;
    hostent* entry = StartHost(canonical, win::kAfInet, 4);
    for (const ::addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family != AF_INET) continue;
        if (!AddHostAddress(&reinterpret_cast<const ::sockaddr_in*>(a->ai_addr)->sin_addr, 4))
            break;
    }
    ::freeaddrinfo(found);
    if (t_host.addresses[0] == nullptr) {
        WSASetLastError(kWsaNoData);
        return nullptr;
    }
    return entry;
}

}  // namespace plat
