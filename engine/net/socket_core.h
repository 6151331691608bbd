// The socket layer of an engine object: timeout and deadline, the pump's switches, the
// local address and address family, and the settings kept for other components.
#pragma once

#include <cstdint>

#include "engine/core/component_core.h"
#include "engine/core/text_buffer.h"
#include "platform/sockets.h"
#include "platform/window.h"

namespace corvane {

class SocketCore : public ComponentCore {
  public:
    static constexpr int32_t kMaxTimeout = 2147483;
    static constexpr int32_t kDefaultSelectWaitMillis = 20;

    // Window message of socket notifications: WM_USER + 103.
    static constexpr uint32_t kSocketNotifyMessage = plat::WM_USER + 103;

    explicit SocketCore(EventSink* sink);
    ~SocketCore() override;

    // The timeout in the current unit (seconds, or milliseconds when that flag is on).
    int32_t GetTimeout() const;
    void SetTimeout(int32_t value, bool clearDeadline);
    bool TimeoutInMilliseconds() const { return timeoutInMilliseconds_; }
    void ClearDeadline() { deadlineArmed_ = false; }
    // Starts the deadline of the current operation: now + the timeout, none for 0.
    void ArmDeadline();
    bool DeadlinePassed() const;

    void RequestInterrupt() { interruptRequested_ = true; }
    // One pass of the event pump; 1 to go on waiting, 0 to stop (the reason is in the
    // error text).
    virtual int32_t WaitStep(uint32_t waitMillis, plat::HWND window);
    int32_t SelectWaitMillis() const { return selectWaitMillis_; }
    plat::HWND WindowHandle() const { return windowHandle_; }
    // The hidden window, made anew when it no longer exists (the default processing of a
    // WM_CLOSE destroys it).
    plat::HWND EnsureWindow();

    // A message for the hidden window.
    virtual plat::LRESULT OnWindowMessage(uint32_t message, plat::WPARAM wParam,
                                          plat::LPARAM lParam);

    bool Ipv6() const { return ipv6_; }
    bool AbsoluteTimeout() const { return absoluteTimeout_; }
    // The LocalHost property: the local address as text, or the computer's name when
    // none is set; and the write after the port's own checks.
    const char* LocalAddressText();
    int32_t SetLocalHostAddress(const char* host);

  protected:
    int32_t HandleConfig(const ConfigItem& item, const char** answer) override;
    void ResetSocketCore();

    // Registers a socket for notifications to the window: by window messages, or, with
    // UseWindowsMessages off, by the pump's own polling.
    virtual int32_t AsyncSelect(plat::SOCKET socket, plat::HWND window, uint32_t message,
                                int32_t events);
    bool InDispatch() const { return inDispatch_; }
    bool IgnoreExternalEvents() const { return ignoreExternalEvents_; }
    // Resolution of the local address, and the local addresses the port binds to.
    uint32_t LocalIpv4() const { return localIpv4_; }
    const uint8_t (&LocalIpv6() const)[28] { return localIpv6_; }
    bool UseGetAddrInfo() const { return useGetAddrInfo_; }

  private:
    void ResetSettings();
    // How long one pass may sleep: SelectWaitMillis, never past the armed deadline; a
    // negative setting counts as the default rather than as no limit.
    uint32_t PassMillis(uint32_t waitMillis) const;
    // An Interrupt, or the object destroyed by a handler, ends the wait; consumed here.
    bool TakeInterrupt();
    // Polls the registered socket when notifications do not come as messages.
    void SelectStep(uint32_t waitMillis);

    plat::HWND windowHandle_ = nullptr;
    int32_t timeoutMs_ = 60000;
    bool timeoutInMilliseconds_ = false;
    uint32_t deadline_ = 0;
    bool deadlineArmed_ = false;
    bool absoluteTimeout_ = false;
    int32_t selectWaitMillis_ = kDefaultSelectWaitMillis;
    bool useWindowsMessages_ = true;
    bool ignoreOtherWindowEvents_ = false;
    bool ignoreExternalEvents_ = false;
    bool interruptRequested_ = false;
    bool inDispatch_ = false;
    plat::SOCKET notifySocket_ = plat::INVALID_SOCKET;
    uint32_t notifyMessage_ = 0;
    int32_t notifyEvents_ = 0;

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
