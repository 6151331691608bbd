#include "engine/icmp/icmp_port.h"

#include <cstring>

#include "engine/core/error_codes.h"
#include "engine/core/text_converter.h"
#include "engine/net/host_resolution.h"
#include "platform/clock.h"

namespace corvane {

namespace {

constexpr uint32_t kDefaultMaxPacketSize = 2048;
constexpr uint32_t kPacketSlack = 4;
constexpr int32_t kSocketTypeStream = 1;
// Until the socket runtime can create raw sockets, activation fails where the socket
// would be created.
constexpr int32_t kWsaProtocolNotSupported = 10043;

int64_t ClockDivisor() {
    int64_t frequency = 0;
    if (!plat::QueryPerformanceFrequency(&frequency) || frequency < 1000) return 0;
    return frequency / 1000;
}

}  // namespace

IcmpPort::IcmpPort(EventSink* sink) : SocketCore(sink) {
    ClearIpv6Address(remoteIpv6_);
}

IcmpPort::~IcmpPort() {
    ReleaseSocket();
}

bool IcmpPort::IsActive() const {
    return HelperMode() ? helperHandle_ != kInvalidHandle : socket_ != kInvalidSocket;
}

bool IcmpPort::ResetPort() {
    socket_ = kInvalidSocket;
    helperHandle_ = kInvalidHandle;
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
    if (HelperMode()) return SetHelperActive(on);
    return on ? ActivateRaw() : CloseSocket();
}

int32_t IcmpPort::ActivateRaw() {
    if (socket_ != kInvalidSocket) return Fail(kPortAlreadyActive, kTextPortAlreadyActive);
    closePending_ = false;
    packets_.Empty();
    return kWsaProtocolNotSupported;
}

int32_t IcmpPort::SetHelperActive(bool on) {
    if (!on) {
        helperHandle_ = kInvalidHandle;
        return 0;
    }
    if (Ipv6()) return Fail(kIpv6WithHelperLibrary, kTextIpv6WithHelperLibrary);
    if (helperHandle_ != kInvalidHandle) return 0;
    // No helper library is bound, so no handle can be had.
    return Fail(kCannotCreateIcmpHandle, kTextCannotCreateIcmpHandle);
}

int32_t IcmpPort::CloseSocket() {
    ReleaseSocket();
    return 0;
}

void IcmpPort::ReleaseSocket() {
    socket_ = kInvalidSocket;
    readInProgress_ = false;
}

int32_t IcmpPort::SetTimeToLive(int32_t value, bool multicast) {
    (multicast ? multicastTtl_ : timeToLive_) = value;
    return 0;
}

int32_t IcmpPort::GetTimeToLive(bool multicast) const {
    return multicast ? multicastTtl_ : timeToLive_;
}

int32_t IcmpPort::SetTosFlags(int32_t value) {
    if (value == 0 && qosFlags_ == 0) return 0;
    qosFlags_ = value;
    return 0;
}

int32_t IcmpPort::SetUseConnection(bool on) {
    if (IsActive()) return Fail(kUseConnectionWhileActive, kTextUseConnectionWhileActive);
    useConnection_ = on;
    return 0;
}

int32_t IcmpPort::SetMaxPacketSize(uint32_t value) {
    if (value > kMaxPacketLimit) value = kMaxPacketLimit;
    if (socket_ != kInvalidSocket) {
        return Fail(kMaxPacketSizeWhileActive, kTextMaxPacketSizeWhileActive);
    }
    if (!packets_.Allocate(value + kPacketSlack)) return Fail(kOutOfMemory, kTextOutOfMemory);
    return 0;
}

uint32_t IcmpPort::GetMaxPacketSize() const {
    const uint32_t capacity = packets_.Capacity();
    return capacity > kPacketSlack ? capacity - kPacketSlack : 0;
}

int32_t IcmpPort::SetRemoteHost(const char* host) {
    ClearError();
    if (useConnection_ && IsActive()) {
        return Fail(kRemoteHostWhileConnected, kTextRemoteHostWhileConnected);
    }
    ClearIpv6Address(remoteIpv6_);
    remoteIpv4_ = 0;
    if (host == nullptr || host[0] == '\0') return 0;
    if (Ipv6()) return ResolveIpv6(host, remoteIpv6_, 0, 0);
    if (std::strcmp(host, "255.255.255.255") == 0) {
        remoteIpv4_ = kBroadcastIpv4;
        return 0;
    }
    return ResolveIpv4(host, &remoteIpv4_, 0, kSocketTypeStream);
}

const char* IcmpPort::RemoteAddressText() {
    ClearError();
    remoteText_[0] = '\0';
    if (Ipv6()) return remoteText_;  // no IPv6 address can be resolved yet
    if (remoteIpv4_ != 0) FormatIpv4(remoteIpv4_, remoteText_, sizeof remoteText_);
    return remoteText_;
}

int32_t IcmpPort::SetLocalHost(const char* host) {
    if (socket_ != kInvalidSocket) {
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
    if (item.Is("SocketHandle") && item.query) {
        return AnswerNumber(answer, static_cast<int32_t>(socket_));
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
    if (item.Is("SocketHandle")) {
        // Query only: a setting is an unknown name.
        *answer = kEmptyBytes;
        return Fail(kRefused, kTextUnknownConfig);
    }
    return SocketCore::HandleConfig(item, answer);
}

}  // namespace corvane
