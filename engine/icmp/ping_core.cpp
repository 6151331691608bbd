#include "engine/icmp/ping_core.h"

#include <cstring>

#include "engine/core/error_codes.h"

namespace corvane {

namespace {
constexpr uint8_t kEchoRequestType = 8;
constexpr uint32_t kMaxPacketSlack = 16;
}  // namespace

PingCore::PingCore(EventSink* sink) : IcmpPort(sink) {}

int32_t PingCore::SetPacketSize(int32_t value) {
    if (value < kMinPacketSize) value = kMinPacketSize;
    if (value > kMaxPacketSize) value = kMaxPacketSize;
    packetSize_ = static_cast<uint16_t>(value);
    const uint32_t needed = static_cast<uint32_t>(packetSize_) + kMaxPacketSlack;
    if (GetMaxPacketSize() < needed) return SetMaxPacketSize(needed);
    return 0;
}

int32_t PingCore::Reset() {
    requestId_ = 0;
    errorReplyCode_ = -1;
    packetSize_ = 64;
    responseSource_.Clear();
    const bool buffered = ResetPort();
    SetUseConnection(true);
    SetTypeByte(kEchoRequestType);
    responseTime_ = 0;
    sendStamp_ = 0;
    return buffered ? 0 : kResetFailed;
}

int32_t PingCore::PingHost(const char* host) {
    if (host == nullptr || host[0] == '\0') return SetActive(false);
    const bool blocking = GetTimeout() != 0;
    if (blocking) {
        SetActive(false);
        SetUseConnection(true);
    }
    int32_t rc = SetRemoteHost(host);
    if (rc == 0 && !IsActive()) {
        if (!blocking || std::strcmp(RemoteAddressText(), "255.255.255.255") == 0) {
            SetUseConnection(false);
        }
        rc = SetActive(true);
    }
    if (rc == 0) rc = Fail(kPortMustBeActive, kTextPortMustBeActive);
    if (IsActive()) {
        // Closing keeps the error text of the exchange.
        TextBuffer kept;
        kept.Assign(LastErrorText());
        SetActive(false);
        SetLastErrorAndCode(LastErrorCode(), kept.c_str());
    }
    return rc;
}

int32_t PingCore::WakeOnLan(const char* host, const char* /*macAddress*/) {
    int32_t rc = SetRemoteHost(host);
    if (rc == 0 && !IsActive()) rc = SetActive(true);
    if (rc == 0) rc = Fail(kPortMustBeActive, kTextPortMustBeActive);
    return rc;
}

}  // namespace corvane
