// The socket layer of an engine object: timeout and deadline, the pump's switches, the
// local address and address family, and the settings kept for other components.
#pragma once

#include <cstdint>

#include "engine/core/component_core.h"
#include "engine/core/text_buffer.h"

namespace corvane {

class SocketCore : public ComponentCore {
  public:
    static constexpr int32_t kMaxTimeout = 2147483;

    explicit SocketCore(EventSink* sink);

    // The timeout in the current unit (seconds, or milliseconds when that flag is on).
    int32_t GetTimeout() const;
    void SetTimeout(int32_t value, bool clearDeadline);
    bool TimeoutInMilliseconds() const { return timeoutInMilliseconds_; }
    void ClearDeadline() { deadline_ = 0; }

    void RequestInterrupt() { interruptRequested_ = true; }
    // One pass of the event pump; 1 to go on waiting, 0 to stop.
    virtual int32_t WaitStep(uint32_t waitMillis, void* window);
    int32_t SelectWaitMillis() const { return selectWaitMillis_; }
    void* WindowHandle() const { return windowHandle_; }

    bool Ipv6() const { return ipv6_; }
    bool AbsoluteTimeout() const { return absoluteTimeout_; }
    // The LocalHost property: the local address as text, or the computer's name when
    // none is set; and the write after the port's own checks.
    const char* LocalAddressText();
    int32_t SetLocalHostAddress(const char* host);

  protected:
    int32_t HandleConfig(const ConfigItem& item, const char** answer) override;
    void ResetSocketCore();

  private:
    void ResetSettings();

    void* windowHandle_ = nullptr;
    int32_t timeoutMs_ = 60000;
    bool timeoutInMilliseconds_ = false;
    uint32_t deadline_ = 0;
    bool absoluteTimeout_ = false;
    int32_t selectWaitMillis_ = 20;
    bool useWindowsMessages_ = true;
    bool ignoreOtherWindowEvents_ = false;
    bool ignoreExternalEvents_ = false;
    bool interruptRequested_ = false;

    // Local side of the address
    uint32_t localIpv4_ = 0;  // network byte order, 0 = any interface
    uint8_t localIpv6_[28] = {};
    bool ipv6_ = false;
    int32_t ipv6Mode_ = 0;
    bool useGetAddrInfo_ = true;
    char localText_[101] = {};

  protected:
    // Buffer sizes of the socket layer's own connection socket.
    int32_t inBufferSize_ = 1048576;
    int32_t outBufferSize_ = 262144;

  private:
    // Settings kept for other components.
    int32_t qosTrafficType_ = 0;
    int32_t qosDscpValue_ = 0;
    TextBuffer sslProvider_;
    int32_t sslCipherStrength_ = 40;
    bool useDefaultCredentials_ = false;
    bool reuseSslSession_ = false;
    bool extendedProtection_ = false;
    TextBuffer sslCipherSuites_;
    int32_t sslSecurityFlags_ = 0;
    bool sslIncludeCertChain_ = false;
    int32_t sslEnabledProtocols_ = 4032;
    bool sslEnableRenegotiation_ = true;
    TextBuffer kerberosSpn_;
    bool useSystemSspi_ = false;
    TextBuffer recordToFile_;
    bool recordToString_ = false;
    bool useInternalSecurityApi_ = false;  // as set; the protocol bits may add to it
};

}  // namespace corvane
