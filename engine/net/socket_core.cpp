#include "engine/net/socket_core.h"

#include <cstdio>
#include <cstring>

#include "engine/core/error_codes.h"
#include "engine/core/text_converter.h"
#include "engine/net/host_resolution.h"
#include "engine/net/socket_runtime.h"
#include "engine/net/socket_window.h"

namespace corvane {

namespace {

constexpr char kDefaultSslProvider[] = "Microsoft Unified Security Protocol Provider";
constexpr int32_t kInternalSecurityProtocols = 12288;

struct NamedNumber {
    const char* name;
    int32_t value;
};

constexpr NamedNumber kQosTrafficTypes[] = {
    {"BestEffort", 0}, {"Background", 1}, {"ExcellentEffort", 2},
    {"AudioVideo", 3}, {"Voice", 4},      {"Control", 5},
};

int32_t TrafficType(const ConfigItem& item) {
    for (const NamedNumber& type : kQosTrafficTypes) {
        if (EqualsNoCase(item.value.c_str(), type.name)) return type.value;
    }
    return item.Number();
}

int32_t ClampTimeout(int32_t value) {
    // Kept within the range that still fits in milliseconds, negative values included.
    if (value > SocketCore::kMaxTimeout) return SocketCore::kMaxTimeout;
    if (value < -SocketCore::kMaxTimeout) return -SocketCore::kMaxTimeout;
    return value;
}

}  // namespace

SocketCore::SocketCore(EventSink* sink) : ComponentCore(sink) {
    ClearIpv6Address(localIpv6_);
    sslProvider_.Assign(kDefaultSslProvider);
    windowHandle_ = CreateSocketWindow(this);
}

SocketCore::~SocketCore() {
    DestroySocketWindow(windowHandle_);
}

int32_t SocketCore::GetTimeout() const {
    return timeoutInMilliseconds_ ? timeoutMs_ : timeoutMs_ / 1000;
}

void SocketCore::SetTimeout(int32_t value, bool clearDeadline) {
    value = ClampTimeout(value);
    if (clearDeadline) ClearDeadline();
    timeoutMs_ = timeoutInMilliseconds_ ? value : value * 1000;
}

void SocketCore::ResetSettings() {
    timeoutMs_ = 0;
    timeoutInMilliseconds_ = false;
    deadline_ = 0;
    deadlineArmed_ = false;
    absoluteTimeout_ = false;
    selectWaitMillis_ = kDefaultSelectWaitMillis;
    useWindowsMessages_ = true;
    ignoreOtherWindowEvents_ = false;
    ignoreExternalEvents_ = false;
    interruptRequested_ = false;

    localIpv4_ = 0;
    ClearIpv6Address(localIpv6_);
    ipv6_ = false;
    ipv6Mode_ = 0;
    useGetAddrInfo_ = true;

    inBufferSize_ = 1048576;
    outBufferSize_ = 262144;
    qosTrafficType_ = 0;
    qosDscpValue_ = 0;
    sslProvider_.Assign(kDefaultSslProvider);
    sslCipherStrength_ = 40;
    useDefaultCredentials_ = false;
    reuseSslSession_ = false;
    extendedProtection_ = false;
    sslCipherSuites_.Clear();
    sslSecurityFlags_ = 0;
    sslIncludeCertChain_ = false;
    sslEnabledProtocols_ = 4032;
    sslEnableRenegotiation_ = true;
    kerberosSpn_.Clear();
    useSystemSspi_ = false;
    recordToFile_.Clear();
    recordToString_ = false;
    useInternalSecurityApi_ = false;
}

void SocketCore::ResetSocketCore() {
    ResetSettings();
    EnsureWindow();
    ResetCore();
}

plat::HWND SocketCore::EnsureWindow() {
    if (windowHandle_ == nullptr || !plat::IsWindow(windowHandle_)) {
        windowHandle_ = CreateSocketWindow(this);
    }
    return windowHandle_;
}

int32_t SocketCore::HandleConfig(const ConfigItem& item, const char** answer) {
    if (item.Is("SelectWaitMillis")) return ConfigNumber(item, answer, selectWaitMillis_);
    if (item.Is("AbsoluteTimeout")) return ConfigBoolean(item, answer, absoluteTimeout_);
    if (item.Is("TimeoutInMilliseconds")) {
        if (item.query) return AnswerNumber(answer, timeoutInMilliseconds_ ? 1 : 0);
        const int32_t timeout = GetTimeout();
        timeoutInMilliseconds_ = item.Boolean();
        SetTimeout(timeout, true);
        return 0;
    }
    if (item.Is("WinsockStatus")) {
        return item.query ? AnswerNumber(answer, Runtime().winsockStatus) : 0;
    }
    if (item.Is("IgnoreExternalEvents")) return ConfigBoolean(item, answer, ignoreExternalEvents_);
    if (item.Is("IgnoreOtherWindowEvents")) {
        return ConfigBoolean(item, answer, ignoreOtherWindowEvents_);
    }
    if (item.Is("WinsockVersion")) {
        if (!item.query) return 0;
        const uint16_t version = Runtime().winsockVersion;
        char text[16];
        std::snprintf(text, sizeof text, "%d.%d", version & 0xFF, version >> 8);
        return AnswerText(answer, text);
    }
    if (item.Is("QOSTrafficType")) {
        if (item.query) return AnswerNumber(answer, qosTrafficType_);
        qosTrafficType_ = TrafficType(item);
        return 0;
    }
    if (item.Is("QOSDSCPValue")) return ConfigNumber(item, answer, qosDscpValue_);
    if (item.Is("UseWindowsMessages")) {
        if (item.query) return AnswerNumber(answer, useWindowsMessages_ ? 1 : 0);
        useWindowsMessages_ = item.Boolean();
        return 0;
    }
    if (item.Is("UseIPv6")) {
        if (item.query) return AnswerBoolean(answer, ipv6_);
        if (std::strcmp(item.value.c_str(), "2") == 0) {
            ipv6Mode_ = 2;
            ipv6_ = true;
        } else {
            ipv6_ = item.Boolean();
            ipv6Mode_ = ipv6_ ? 1 : 0;
        }
        return 0;
    }
    if (item.Is("UseGetAddrInfo")) return ConfigBoolean(item, answer, useGetAddrInfo_);

    if (item.Is("SSLProvider")) return ConfigText(item, answer, sslProvider_);
    if (item.Is("SSLCipherStrength")) return ConfigNumber(item, answer, sslCipherStrength_);
    if (item.Is("UseDefaultCredentials")) {
        return ConfigBoolean(item, answer, useDefaultCredentials_);
    }
    if (item.Is("ReuseSSLSession")) return ConfigBoolean(item, answer, reuseSslSession_);
    if (item.Is("ExtendedProtection")) return ConfigBoolean(item, answer, extendedProtection_);
    if (item.Is("SSLEnabledCipherSuites") || item.Is("SSLAlgorithmList")) {
        return ConfigText(item, answer, sslCipherSuites_);
    }
    if (item.Is("SSLSecurityFlags")) return ConfigNumber(item, answer, sslSecurityFlags_);
    if (item.Is("SSLIncludeCertChain")) return ConfigBoolean(item, answer, sslIncludeCertChain_);
    if (item.Is("SSLEnabledProtocols")) return ConfigNumber(item, answer, sslEnabledProtocols_);
    if (item.Is("SSLEnableRenegotiation")) {
        return ConfigBoolean(item, answer, sslEnableRenegotiation_);
    }
    if (item.Is("KerberosSPN")) return ConfigText(item, answer, kerberosSpn_);
    if (item.Is("UseSystemSSPI")) return ConfigBoolean(item, answer, useSystemSspi_);
    if (item.Is("RecordToFile")) return ConfigText(item, answer, recordToFile_);
    if (item.Is("RecordToString")) {
        // Nothing of the ping object is ever recorded.
        if (item.query) return AnswerText(answer, "");
        recordToString_ = EqualsNoCase(item.value.c_str(), "on");
        return 0;
    }
    if (item.Is("UseInternalSecurityAPI")) {
        if (!item.query) {
            useInternalSecurityApi_ = item.Boolean();
            return 0;
        }
        const bool protocolsNeedIt =
            (sslEnabledProtocols_ & kInternalSecurityProtocols) == kInternalSecurityProtocols;
        return AnswerBoolean(answer, useInternalSecurityApi_ || protocolsNeedIt);
    }
    return ComponentCore::HandleConfig(item, answer);
}

}  // namespace corvane
