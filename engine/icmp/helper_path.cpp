// The port on the helper-library path: a helper handle instead of the raw socket, and a
// synchronous echo whose reply records are matched like received datagrams.
#include <cstring>

#include "engine/core/error_codes.h"
#include "engine/core/memory.h"
#include "engine/icmp/helper_library.h"
#include "engine/icmp/icmp_port.h"
#include "engine/net/host_resolution.h"
#include "platform/last_error.h"

namespace corvane {

namespace {

constexpr uint8_t kTypeEchoReply = 0;
constexpr uint8_t kTypeUnreachable = 3;
constexpr uint8_t kTypeTimeExceeded = 11;
constexpr uint8_t kDefaultTtl = 255;

// The ICMP type a reply record stands for; false ends the walk (no answer in time).
bool RecordType(uint32_t status, uint8_t* type) {
    if (status == plat::IP_REQ_TIMED_OUT) return false;
    if (status >= plat::IP_DEST_NET_UNREACHABLE && status <= plat::IP_DEST_PORT_UNREACHABLE) {
        *type = kTypeUnreachable;
    } else if (status == plat::IP_TTL_EXPIRED_TRANSIT || status == plat::IP_TTL_EXPIRED_REASSEM) {
        *type = kTypeTimeExceeded;
    } else {
        *type = kTypeEchoReply;
    }
    return true;
}

}  // namespace

int32_t IcmpPort::SetHelperActive(bool on) {
    if (!on) {
        CloseHelper();
        return 0;
    }
    if (Ipv6()) return Fail(kIpv6WithHelperLibrary, kTextIpv6WithHelperLibrary);
    if (helperHandle_ != kInvalidHandle) return 0;
    const HelperFunctions& helper = HelperLibrary(useIphlpDll_);
    void* handle =
        helper.IcmpCreateFile != nullptr ? helper.IcmpCreateFile() : plat::INVALID_HANDLE_VALUE;
    if (handle == plat::INVALID_HANDLE_VALUE) {
        return Fail(kCannotCreateIcmpHandle, kTextCannotCreateIcmpHandle);
    }
    helperHandle_ = reinterpret_cast<intptr_t>(handle);
    return 0;
}

void IcmpPort::CloseHelper() {
    if (helperHandle_ == kInvalidHandle) return;
    const HelperFunctions& helper = HelperLibrary(useIphlpDll_);
    if (helper.IcmpCloseHandle != nullptr) {
        helper.IcmpCloseHandle(reinterpret_cast<void*>(helperHandle_));
    }
    helperHandle_ = kInvalidHandle;
}

int32_t IcmpPort::SendViaHelper(const uint8_t* data, uint32_t length) {
    ClearError();
    if (RemoteAddressText()[0] == '\0') {
        return Fail(kInvalidRemoteAddress, kTextInvalidRemoteAddress);
    }
    if (helperHandle_ == kInvalidHandle) return Fail(kPortMustBeActive, kTextPortMustBeActive);
    if (length > GetMaxPacketSize()) return Fail(kMessageTooLong, kTextMessageTooLong);
    const HelperFunctions& helper = HelperLibrary(useIphlpDll_);
    if (helper.IcmpSendEcho == nullptr) return Fail(kPortMustBeActive, kTextPortMustBeActive);

    plat::IP_OPTION_INFORMATION options{};
    options.Ttl = timeToLive_ != 0 ? static_cast<uint8_t>(timeToLive_) : kDefaultTtl;
    options.Tos = typeByte_;
    if (!AbsoluteTimeout()) ArmDeadline();

    int32_t timeoutMs = TimeoutInMilliseconds() ? GetTimeout() : GetTimeout() * 1000;
    if (timeoutMs < 0) timeoutMs = 0;
    uint8_t* records = packets_.Data();
    const uint32_t capacity = packets_.Capacity();
    const uint32_t count =
        helper.IcmpSendEcho(reinterpret_cast<void*>(helperHandle_), remoteIpv4_,
                            const_cast<uint8_t*>(data), static_cast<uint16_t>(length), &options,
                            records, capacity, static_cast<uint32_t>(timeoutMs));
    if (count == 0) {
        const uint32_t reason = plat::GetLastError();
        return reason == plat::IP_REQ_TIMED_OUT ? 0 : static_cast<int32_t>(reason);
    }
    return WalkHelperRecords(records, capacity, count);
}

int32_t IcmpPort::WalkHelperRecords(const uint8_t* records, uint32_t capacity, uint32_t count) {
    // The handlers of the records may reset the port or resize its buffer: the walk reads a
    // copy of its own.
    auto* copy = static_cast<uint8_t*>(EngineAlloc(capacity));
    if (copy == nullptr) return Fail(kOutOfMemory, kTextOutOfMemory);
    std::memcpy(copy, records, capacity);

    // Records and their data must lie inside the buffer the library was given.
    const auto begin = reinterpret_cast<uintptr_t>(records);
    const uint32_t fits = capacity / sizeof(plat::ICMP_ECHO_REPLY);
    for (uint32_t i = 0; i < count && i < fits && !Destroyed(); ++i) {
        plat::ICMP_ECHO_REPLY record;
        std::memcpy(&record, copy + i * sizeof record, sizeof record);
        uint8_t type;
        if (!RecordType(record.Status, &type)) break;
        const auto at = reinterpret_cast<uintptr_t>(record.Data);
        if (record.Data == nullptr || at < begin || at - begin > capacity ||
            record.DataSize > capacity - (at - begin)) {
            continue;
        }
        char source[kSourceTextSize];
        FormatIpv4(record.Address, source, sizeof source);
        if (!AbsoluteTimeout()) ArmDeadline();
        OnIcmpPacket(type, 0, copy + (at - begin), record.DataSize, false, source);
    }
    EngineFree(copy);
    return 0;
}

}  // namespace corvane
