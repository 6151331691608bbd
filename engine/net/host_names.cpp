// The RemoteHost and LocalHost properties: host texts resolved into the addresses the
// port uses, and those addresses given back as text.
#include <cstring>

#include "engine/core/error_codes.h"
#include "engine/icmp/icmp_port.h"
#include "engine/net/host_resolution.h"
#include "engine/net/socket_core.h"
#include "platform/host_name.h"
#include "platform/sockets.h"
#include "platform/winsock_errors.h"

namespace corvane {

namespace {

constexpr int32_t kSocketTypeStream = 1;

void CancelBlockingCall() {
    if (plat::WSAIsBlocking()) plat::WSACancelBlockingCall();
}

// The first IPv4 address gethostbyname gives; a Windows Sockets runtime that was never
// started counts as success with no address.
int32_t HostByName(const char* host, uint32_t* out) {
    *out = 0;
    const plat::hostent* entry = plat::gethostbyname(host);
    if (entry == nullptr) {
        const int32_t error = plat::WSAGetLastError();
        return error == plat::kWsaNotInitialised ? 0 : error;
    }
    if (entry->h_addr_list != nullptr && entry->h_addr_list[0] != nullptr) {
        std::memcpy(out, entry->h_addr_list[0], sizeof *out);
    }
    return 0;
}

}  // namespace

int32_t SocketCore::SetLocalHostAddress(const char* host) {
    ClearError();
    if (host == nullptr || host[0] == '\0') {
        localIpv4_ = 0;
        ClearIpv6Address(localIpv6_);
        return 0;
    }
    CancelBlockingCall();
    if (ipv6Mode_ == 2) ipv6_ = ResolveIpv6(host, localIpv6_, 0, 0) == 0;
    if (ipv6_) return ResolveIpv6(host, localIpv6_, 0, 0);
    if (const uint32_t address = plat::inet_addr(host); address != plat::INADDR_NONE) {
        localIpv4_ = address;
        return 0;
    }
    return HostByName(host, &localIpv4_);
}

const char* SocketCore::LocalAddressText() {
    ClearError();
    localText_[0] = '\0';
    if (ipv6_ && !Ipv6AddressIsAny(localIpv6_)) {
        Ipv6AddressText(localIpv6_, localText_, sizeof localText_);
    } else if (localIpv4_ != 0) {
        FormatIpv4(localIpv4_, localText_, sizeof localText_);
    } else if (plat::GetHostName(localText_, sizeof localText_ - 1) != 0) {
        localText_[0] = '\0';
        SocketErrorText(plat::WSAGetLastError());
    }
    return localText_;
}

int32_t IcmpPort::SetRemoteHost(const char* host) {
    ClearError();
    if (useConnection_ && IsActive()) {
        return Fail(kRemoteHostWhileConnected, kTextRemoteHostWhileConnected);
    }
    ClearIpv6Address(remoteIpv6_);
    remoteIpv4_ = 0;
    if (host == nullptr || host[0] == '\0') return 0;
    CancelBlockingCall();
    if (Ipv6()) return ResolveIpv6(host, remoteIpv6_, 0, 0);
    if (std::strcmp(host, "255.255.255.255") == 0) {
        remoteIpv4_ = kBroadcastIpv4;
        return 0;
    }
    if (const uint32_t address = plat::inet_addr(host); address != plat::INADDR_NONE) {
        remoteIpv4_ = address;
        return 0;
    }
    if (UseGetAddrInfo()) return ResolveIpv4(host, &remoteIpv4_, 0, kSocketTypeStream);
    return HostByName(host, &remoteIpv4_);
}

// Empty when there is no remote address, in either family.
const char* IcmpPort::RemoteAddressText() {
    ClearError();
    remoteText_[0] = '\0';
    if (Ipv6()) {
        if (!Ipv6AddressIsAny(remoteIpv6_)) {
            Ipv6AddressText(remoteIpv6_, remoteText_, sizeof remoteText_);
        }
    } else if (remoteIpv4_ != 0) {
        FormatIpv4(remoteIpv4_, remoteText_, sizeof remoteText_);
    }
    return remoteText_;
}

}  // namespace corvane
