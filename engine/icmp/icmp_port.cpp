#include "engine/icmp/icmp_port.h"

#include <cstring>

#include "engine/core/error_codes.h"
#include "engine/core/text_converter.h"
#include "engine/net/host_resolution.h"
#include "engine/net/socket_api.h"
#include "platform/clock.h"

namespace corvane {

namespace {

constexpr uint32_t kDefaultMaxPacketSize = 2048;
constexpr uint32_t kPacketSlack = 4;
constexpr int32_t kConnectionBufferSize = 2048;

int64_t ClockDivisor() {
    int64_t frequency = 0;
    if (!Clocks().QueryPerformanceFrequency(&frequency) || frequency < 1000) return 0;
    return frequency / 1000;
}

int SetIntOption(plat::SOCKET socket, int level, int name, int32_t value) {
    return Sockets().setsockopt(socket, level, name, &value, sizeof value);
}

}  // namespace

IcmpPort::IcmpPort(EventSink* sink) : SocketCore(sink) {
    ClearIpv6Address(remoteIpv6_);
}

IcmpPort::~IcmpPort() {
    if (plat::WSAIsBlocking()) plat::WSACancelBlockingCall();
    ReleaseSocket();
    CloseHelper();
}

int32_t IcmpPort::MillisecondClock() const {
    int64_t counter = 0;
    if (clockDivisor_ != 0 && Clocks().QueryPerformanceCounter(&counter)) {
        return static_cast<int32_t>(static_cast<uint32_t>(counter / clockDivisor_));
    }
    return static_cast<int32_t>(Clocks().GetTickCount());
}

bool IcmpPort::IsActive() const {
    return HelperMode() ? helperHandle_ != kInvalidHandle : socket_ != plat::INVALID_SOCKET;
}

bool IcmpPort::ResetPort() {
    // An endpoint left open would leak: it is released, not drained.
    ReleaseSocket();
    CloseHelper();
    timeToLive_ = 0;
    multicastTtl_ = 0;
    qosFlags_ = 0;
    dontFragment_ = false;
    useConnection_ = false;
    receiveAllMode_ = -1;
    readInProgress_ = false;
    closePending_ = false;
    useIcmpDll_ = false;
    useIphlpDll_ = false;
    remoteIpv4_ = 0;
    ClearIpv6Address(remoteIpv6_);
    clockDivisor_ = ClockDivisor();
    ResetSocketCore();
    return packets_.Allocate(kDefaultMaxPacketSize + kPacketSlack);
}

int32_t IcmpPort::SetActive(bool on) {
    ClearError();
    if (!on) return HelperMode() ? SetHelperActive(false) : CloseSocket();
    // Notifications and waits need the hidden window, whatever happened to the old one.
    EnsureWindow();
    const int32_t rc = HelperMode() ? SetHelperActive(true) : ActivateRaw();
    if (rc == 0) ++openings_;
    return rc;
}

int32_t IcmpPort::FailActivation() {
    const int32_t error = Sockets().WSAGetLastError();
    ReleaseSocket();
    return error;
}

int32_t IcmpPort::ActivateRaw() {
    if (socket_ != plat::INVALID_SOCKET) return Fail(kPortAlreadyActive, kTextPortAlreadyActive);
    closePending_ = false;
    packets_.Empty();
    inBufferSize_ = kConnectionBufferSize;
    outBufferSize_ = kConnectionBufferSize;

    const bool v6 = Ipv6();
    socket_ = v6 ? Sockets().socket(plat::AF_INET6, plat::SOCK_RAW, plat::IPPROTO_ICMPV6)
                 : Sockets().socket(plat::AF_INET, plat::SOCK_RAW, plat::IPPROTO_ICMP);
    if (socket_ == plat::INVALID_SOCKET) return Sockets().WSAGetLastError();

    if (v6) {
        Sockets().bind(socket_, LocalIpv6(), sizeof LocalIpv6());  // unbound on failure
    } else {
        plat::sockaddr_in local{};
        local.sin_family = plat::AF_INET;
        local.sin_addr = LocalIpv4();
        Sockets().bind(socket_, &local, sizeof local);
    }

    // Options never stop the activation.
    if (!v6) SetIntOption(socket_, plat::SOL_SOCKET, plat::SO_DONTROUTE, 0);
    SetTimeToLive(timeToLive_, false);
    SetTimeToLive(multicastTtl_, true);
    SetTosFlags(qosFlags_);
    if (!v6) SetIntOption(socket_, plat::SOL_SOCKET, plat::SO_BROADCAST, 1);
    if (dontFragment_) {
        const uint8_t on = 1;
        Sockets().setsockopt(socket_, plat::IPPROTO_IP, plat::IP_DONTFRAGMENT, &on, 1);
    }

    if (useConnection_) {
        int rc;
        if (v6) {
            plat::sockaddr_in6 remote;
            std::memcpy(&remote, remoteIpv6_, sizeof remote);
            remote.sin6_family = plat::AF_INET6;
            rc = Sockets().connect(socket_, &remote, sizeof remote);
        } else {
            plat::sockaddr_in remote{};
            remote.sin_family = plat::AF_INET;
            remote.sin_addr = remoteIpv4_;
            rc = Sockets().connect(socket_, &remote, sizeof remote);
        }
        if (rc != 0 && Sockets().WSAGetLastError() != plat::kWsaEwouldblock)
            return FailActivation();
    }

    if (const int32_t rc = AsyncSelect(socket_, WindowHandle(), kSocketNotifyMessage,
                                       plat::FD_READ | plat::FD_WRITE);
        rc != 0) {
        ReleaseSocket();
        return rc;
    }
    if (receiveAllMode_ >= 0) {
        uint32_t mode = static_cast<uint32_t>(receiveAllMode_);
        if (Sockets().ioctlsocket(socket_, plat::SIO_RCVALL, &mode) != 0) return FailActivation();
    }
    return 0;
}

int32_t IcmpPort::CloseSocket() {
    if (socket_ == plat::INVALID_SOCKET) {
        ReleaseSocket();
        return 0;
    }
    if (readInProgress_) {
        closePending_ = true;
        return 0;
    }
    if (closing_) return 0;  // a handler asked again during the drain
    closing_ = true;
    ReadDatagrams(ReadMode::kDrain);
    closing_ = false;
    closePending_ = false;
    int32_t rc = 0;
    if (socket_ != plat::INVALID_SOCKET && Sockets().closesocket(socket_) != 0) {
        rc = Sockets().WSAGetLastError();
    }
    socket_ = plat::INVALID_SOCKET;
    ReleaseSocket();
    return rc;
}

void IcmpPort::ReleaseSocket() {
    if (socket_ != plat::INVALID_SOCKET) Sockets().closesocket(socket_);
    socket_ = plat::INVALID_SOCKET;
    readInProgress_ = false;
}

int32_t IcmpPort::SetTimeToLive(int32_t value, bool multicast) {
    int32_t& field = multicast ? multicastTtl_ : timeToLive_;
    field = value;
    if (value == 0 || socket_ == plat::INVALID_SOCKET) return 0;
    const int level = Ipv6() ? plat::IPPROTO_IPV6 : plat::IPPROTO_IP;
    const int name = Ipv6() ? (multicast ? plat::IPV6_MULTICAST_HOPS : plat::IPV6_UNICAST_HOPS)
                            : (multicast ? plat::IP_MULTICAST_TTL : plat::IP_TTL);
    if (SetIntOption(socket_, level, name, value) == 0) return 0;
    const int32_t error = Sockets().WSAGetLastError();
    // Keep what the socket really uses.
    int32_t actual = 0;
    int length = sizeof actual;
    if (Sockets().getsockopt(socket_, level, name, &actual, &length) == 0) field = actual;
    return error;
}

int32_t IcmpPort::GetTimeToLive(bool multicast) const {
    if (socket_ == plat::INVALID_SOCKET) return multicast ? multicastTtl_ : timeToLive_;
    const int level = Ipv6() ? plat::IPPROTO_IPV6 : plat::IPPROTO_IP;
    const int name = Ipv6() ? (multicast ? plat::IPV6_MULTICAST_HOPS : plat::IPV6_UNICAST_HOPS)
                            : (multicast ? plat::IP_MULTICAST_TTL : plat::IP_TTL);
    int32_t value = 0;
    int length = sizeof value;
    return Sockets().getsockopt(socket_, level, name, &value, &length) == 0 ? value : 0;
}

int32_t IcmpPort::SetTosFlags(int32_t value) {
    if (value == 0 && qosFlags_ == 0) return 0;
    if (socket_ == plat::INVALID_SOCKET) {
        qosFlags_ = value;
        return 0;
    }
    if (SetIntOption(socket_, plat::IPPROTO_IP, plat::IP_TOS, value) != 0) {
        return Sockets().WSAGetLastError();
    }
    qosFlags_ = value;
    return 0;
}

int32_t IcmpPort::GetTosFlags() {
    if (socket_ != plat::INVALID_SOCKET) {
        int32_t value = 0;
        int length = sizeof value;
        if (Sockets().getsockopt(socket_, plat::IPPROTO_IP, plat::IP_TOS, &value, &length) == 0) {
            qosFlags_ = value;
        }
    }
    return qosFlags_;
}

int32_t IcmpPort::SetUseConnection(bool on) {
    if (IsActive()) return Fail(kUseConnectionWhileActive, kTextUseConnectionWhileActive);
    useConnection_ = on;
    return 0;
}

int32_t IcmpPort::SetMaxPacketSize(uint32_t value) {
    if (value > kMaxPacketLimit) value = kMaxPacketLimit;
    if (socket_ != plat::INVALID_SOCKET) {
        return Fail(kMaxPacketSizeWhileActive, kTextMaxPacketSizeWhileActive);
    }
    if (!packets_.Allocate(value + kPacketSlack)) return Fail(kOutOfMemory, kTextOutOfMemory);
    return 0;
}

uint32_t IcmpPort::GetMaxPacketSize() const {
    const uint32_t capacity = packets_.Capacity();
    return capacity > kPacketSlack ? capacity - kPacketSlack : 0;
}

int32_t IcmpPort::SetLocalHost(const char* host) {
    if (socket_ != plat::INVALID_SOCKET) {
        return Fail(kLocalHostWhileActive, kTextLocalHostWhileActive);
    }
    return SetLocalHostAddress(host);
}

int32_t IcmpPort::HandleConfig(const ConfigItem& item, const char** answer) {
    if (item.Is("UseICMPDLL") || item.Is("UseIPHLPDLL")) {
        bool& field = item.Is("UseICMPDLL") ? useIcmpDll_ : useIphlpDll_;
        if (item.query) return AnswerBoolean(answer, field);
        field = item.Boolean();
        if (field) SetTimeout(60, true);
        return 0;
    }
    if (item.Is("IcmpDllTimeout") || item.Is("IphlpDllTimeout") || item.Is("Timeout")) {
        if (item.query) return AnswerNumber(answer, GetTimeout());
        SetTimeout(item.Number(), true);
        return 0;
    }
    if (item.Is("UseConnection")) {
        if (item.query) return AnswerBoolean(answer, useConnection_);
        return SetUseConnection(item.Boolean());
    }
    if (item.Is("MaxPacketSize") || item.Is("MaxMessageSize")) {
        if (item.query) return AnswerNumber(answer, static_cast<int32_t>(GetMaxPacketSize()));
        ClearError();
        return SetMaxPacketSize(static_cast<uint32_t>(item.Number()));
    }
    if (item.Is("QOSFlags")) {
        if (!item.query) return SetTosFlags(item.Number());
        ClearError();
        return AnswerNumber(answer, GetTosFlags());
    }
    if (item.Is("SocketHandle")) {
        // Query only: a setting is an unknown name.
        if (item.query) return AnswerNumber(answer, static_cast<int32_t>(socket_));
        *answer = kEmptyBytes;
        return Fail(kRefused, kTextUnknownConfig);
    }
    if (item.Is("InBufferSize") || item.Is("OutBufferSize")) {
        int32_t& field = item.Is("InBufferSize") ? inBufferSize_ : outBufferSize_;
        if (item.query) return AnswerNumber(answer, field);
        ClearError();
        field = item.Number();
        return 0;
    }
    if (item.Is("DontFragment")) return ConfigBoolean(item, answer, dontFragment_);
    if (item.Is("MulticastTTL")) {
        if (item.query) return AnswerNumber(answer, GetTimeToLive(true));
        return SetTimeToLive(item.Number(), true);
    }
    if (item.Is("ReceiveAllMode")) return ConfigNumber(item, answer, receiveAllMode_);
    if (item.Is("ReceiveAll")) {
        if (item.query) {
            *answer = receiveAllMode_ == 1 ? "true" : "false";
            return 0;
        }
        receiveAllMode_ = item.Boolean() ? 1 : 0;
        return 0;
    }
    return SocketCore::HandleConfig(item, answer);
}

}  // namespace corvane
