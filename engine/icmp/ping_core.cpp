#include "engine/icmp/ping_core.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "engine/core/error_codes.h"
#include "engine/core/memory.h"
#include "platform/process.h"

namespace corvane {

namespace {

constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kEchoRequestV6 = 128;
constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kEchoReplyV6 = 129;
constexpr uint8_t kDestinationUnreachable = 3;
constexpr uint8_t kDestinationUnreachableV6 = 1;
constexpr uint32_t kMaxPacketSlack = 16;
constexpr uint32_t kIcmpHeaderSize = 4;
constexpr uint8_t kFill = 0x2A;
constexpr char kBroadcast[] = "255.255.255.255";

// Behind the four unused bytes of an error message stands the invoking IP header and the
// invoking request's type, code and checksum; then its identifier.
constexpr uint32_t kInvokingIdOffset = 4 + 20 + 4;
constexpr uint32_t kInvokingIdOffsetV6 = 4 + 40 + 4;

constexpr const char* kUnreachableTexts[] = {
    "Network unreachable.",
    "Host unreachable.",
    "Protocol unreachable.",
    "Port unreachable.",
    "Fragmentation needed and DF is set.",
    "Source route failed.",
    "Destination network down.",
    "Destination host unknown.",
    "Source host isolated.",
    "Communication with destination network administratively prohibited.",
    "Communication with destination host administratively prohibited.",
    "Network unreachable for this type of service.",
    "Host unreachable for this type of service.",
};

// ICMPv6 destination-unreachable codes in the words of their IPv4 counterparts.
int32_t Ipv4Equivalent(int32_t codeV6) {
    switch (codeV6) {
        case 0:
            return 0;  // no route to destination
        case 1:
            return 10;  // administratively prohibited
        case 3:
            return 1;  // address unreachable
        case 4:
            return 3;  // port unreachable
        default:
            return -1;
    }
}

uint32_t ReadLittleEndian32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

void WriteLittleEndian32(uint8_t* bytes, uint32_t value, uint32_t room) {
    for (uint32_t i = 0; i < 4 && i < room; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Keeps only hexadecimal digits; exactly twelve make the six address bytes.
bool ParseMacAddress(const char* text, uint8_t (&mac)[6]) {
    int digits = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        int value;
        if (*p >= '0' && *p <= '9') {
            value = *p - '0';
        } else if (*p >= 'a' && *p <= 'f') {
            value = *p - 'a' + 10;
        } else if (*p >= 'A' && *p <= 'F') {
            value = *p - 'A' + 10;
        } else {
            continue;
        }
        if (digits < 12) {
            if (digits % 2 == 0) {
                mac[digits / 2] = static_cast<uint8_t>(value << 4);
            } else {
                mac[digits / 2] |= static_cast<uint8_t>(value);
            }
        }
        ++digits;
    }
    return digits == 12;
}

}  // namespace

uint32_t ProcessTerm() {
    static const uint32_t term = plat::GetCurrentProcessId() * 2654435761u;
    return term;
}

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
    SetTypeByte(kEchoRequest);
    responseTime_ = 0;
    sendStamp_ = 0;
    return buffered ? 0 : kResetFailed;
}

const char* PingCore::ReplyStatusText(int32_t code) {
    if (errorReplyIpv6_) {
        const int32_t equivalent = Ipv4Equivalent(code);
        if (equivalent >= 0) return kUnreachableTexts[equivalent];
    } else if (code >= 0 && code < static_cast<int32_t>(std::size(kUnreachableTexts))) {
        return kUnreachableTexts[code];
    }
    char text[48];
    std::snprintf(text, sizeof text, "Destination unreachable: %d.", code);
    Fail(LastErrorCode(), text);
    return LastErrorText();
}

int32_t PingCore::CloseKeepingError(int32_t code) {
    if (!IsActive()) return code;
    const int32_t lastCode = LastErrorCode();
    TextBuffer text;
    text.Assign(LastErrorText());
    SetActive(false);
    SetLastErrorAndCode(lastCode, text.c_str());
    return code;
}

int32_t PingCore::PingHost(const char* host) {
    responseSource_.Clear();
    if (host == nullptr || host[0] == '\0') return SetActive(false);
    if (Ipv6() && TypeByte() == kEchoRequest) SetTypeByte(kEchoRequestV6);
    const bool blocking = GetTimeout() != 0;
    if (blocking) {
        if (IsActive()) SetActive(false);
        // The closing dispatches what was queued; a handler may have destroyed the object.
        if (Destroyed()) return Fail(kWaitEnded, kTextInterrupted);
        SetUseConnection(true);
    }
    return Exchange(host, blocking);
}

int32_t PingCore::Exchange(const char* host, bool blocking) {
    const uint32_t payloadLength = packetSize_ - kIcmpHeaderSize;
    auto* payload = static_cast<uint8_t*>(EngineAlloc(payloadLength));
    if (payload == nullptr) return CloseKeepingError(Fail(kOutOfMemory, kTextOutOfMemory));
    std::memset(payload, kFill, payloadLength);

    int32_t rc = SetRemoteHost(host);
    bool broadcast = false;
    // The answer this exchange waits for; a nested exchange on the same object has its own.
    Answer answer;
    const AwaitedAnswer awaited(awaited_, &answer);
    uint32_t port = 0;
    if (rc == 0) {
        broadcast = std::strcmp(RemoteAddressText(), kBroadcast) == 0;
        if (!IsActive()) {
            if (!blocking || broadcast) SetUseConnection(false);
            rc = SetActive(true);
        }
        port = Openings();
    }
    if (rc == 0) {
        ArmDeadline();
        errorReplyCode_ = -1;
        sendStamp_ = MillisecondClock();
        // The object's address is its handle, which is where its event sink starts; this
        // layer sits further inside the object. The process term keeps two processes
        // whose objects share an address and a millisecond from taking each other's
        // replies: every raw ICMP socket sees every echo reply of the machine.
        const auto self = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(Sink()));
        requestId_ = static_cast<int32_t>((static_cast<uint32_t>(requestId_) + self +
                                           static_cast<uint32_t>(sendStamp_) + ProcessTerm()) &
                                          0x7FFFFFFFu);
        WriteLittleEndian32(payload, static_cast<uint32_t>(requestId_), payloadLength);
        if (payloadLength > 4) {
            WriteLittleEndian32(payload + 4, static_cast<uint32_t>(sendStamp_), payloadLength - 4);
        }
        rc = SendIcmp(payload, payloadLength);
    }
    EngineFree(payload);
    if (rc != 0) return CloseKeepingError(rc);
    if (!blocking || broadcast) return 0;

    ClearError();
    // The accepted answer closes the port; a handler may instead keep it open (Timeout 0
    // through Config), or a nested exchange may close it and open its own.
    while (!answer.accepted && IsActive() && Openings() == port) {
        if (WaitStep(static_cast<uint32_t>(SelectWaitMillis()), WindowHandle()) == 0) {
            // Answers still queued are dispatched by the close and timed from the real send
            // stamp; the failed exchange leaves no time behind.
            CloseKeepingError(kWaitEnded);
            sendStamp_ = 0;
            responseTime_ = 0;
            return kWaitEnded;
        }
    }
    if (!answer.accepted) return CloseKeepingError(Fail(kWaitEnded, kTextInterrupted));
    if (answer.errorReplyCode != -1) {
        return CloseKeepingError(Fail(kErrorReply, ReplyStatusText(answer.errorReplyCode)));
    }
    return CloseKeepingError(0);
}

int32_t PingCore::Elapsed(int32_t stamp) const {
    return static_cast<int32_t>(static_cast<uint32_t>(MillisecondClock()) -
                                static_cast<uint32_t>(stamp));
}

int32_t PingCore::OnIcmpPacket(uint8_t type, uint8_t code, const uint8_t* data, uint32_t length,
                               bool /*checksumOk*/, const char* source) {
    const bool matching = GetTimeout() != 0;
    int32_t identifier;
    int32_t stamp;
    const char* status;
    if (type == kEchoReply || type == kEchoReplyV6) {
        if (length < 8) return 0;
        identifier = static_cast<int32_t>(ReadLittleEndian32(data));
        if (matching && identifier != requestId_) return 0;
        stamp = static_cast<int32_t>(ReadLittleEndian32(data + 4));
        status = "OK";
    } else if (type == (Ipv6() ? kDestinationUnreachableV6 : kDestinationUnreachable)) {
        const uint32_t offset = Ipv6() ? kInvokingIdOffsetV6 : kInvokingIdOffset;
        if (length < offset + 4) return 0;
        identifier = static_cast<int32_t>(ReadLittleEndian32(data + offset));
        if (matching && identifier != requestId_) return 0;
        errorReplyCode_ = code;
        errorReplyIpv6_ = Ipv6();
        status = ReplyStatusText(code);
        stamp = sendStamp_;
    } else {
        return 0;
    }

    responseTime_ = Elapsed(sendStamp_);
    // The waiting exchange has its answer, whatever the handler does next.
    if (matching && awaited_ != nullptr) {
        awaited_->accepted = true;
        awaited_->errorReplyCode = errorReplyCode_;
    }
    // The status may live in the error text, which the handler can change.
    TextBuffer statusText;
    statusText.Assign(status);
    Sink()->FireResponse(identifier, source, statusText.c_str(), Elapsed(stamp));
    if (Destroyed()) return 0;
    responseSource_.Assign(source, std::min(std::strlen(source), kMaxSourceLength));
    // The handler may have changed Timeout: it is read again here.
    if (GetTimeout() != 0) SetActive(false);
    return 0;
}

int32_t PingCore::WakeOnLan(const char* host, const char* macAddress) {
    const bool wasOpen = IsActive();
    int32_t rc = SetRemoteHost(host);
    if (rc != 0) return rc;
    if (!wasOpen) {
        rc = SetActive(true);
        if (rc != 0) return rc;
    }
    uint8_t mac[6] = {};
    if (!ParseMacAddress(macAddress != nullptr ? macAddress : "", mac)) {
        rc = Fail(kBadMacAddress, kTextBadMacAddress);
    } else {
        uint8_t magic[102];
        std::memset(magic, 0xFF, 6);
        for (int i = 0; i < 16; ++i)
            std::memcpy(magic + 6 + 6 * i, mac, sizeof mac);
        rc = SendIcmp(magic, sizeof magic);
    }
    return wasOpen ? rc : CloseKeepingError(rc);
}

}  // namespace corvane
