// The ICMP port of a ping object: its endpoint (a raw socket, or a handle of the system
// ICMP helper library), the socket options, the remote address and the type byte of the
// messages it sends.
#pragma once

#include <cstdint>

#include "engine/icmp/packet_buffer.h"
#include "engine/net/socket_core.h"

namespace corvane {

class IcmpPort : public SocketCore {
  public:
    static constexpr intptr_t kInvalidSocket = -1;
    static constexpr intptr_t kInvalidHandle = -1;
    static constexpr uint32_t kMaxPacketLimit = 65536;

    explicit IcmpPort(EventSink* sink);
    ~IcmpPort() override;

    bool IsActive() const;
    int32_t SetActive(bool on);
    int32_t CloseSocket();
    void ReleaseSocket();

    int32_t SetTimeToLive(int32_t value, bool multicast);
    int32_t GetTimeToLive(bool multicast) const;
    int32_t SetTosFlags(int32_t value);
    int32_t GetTosFlags() const { return qosFlags_; }
    int32_t SetUseConnection(bool on);
    int32_t SetMaxPacketSize(uint32_t value);
    uint32_t GetMaxPacketSize() const;

    uint8_t TypeByte() const { return typeByte_; }
    void SetTypeByte(uint8_t type) { typeByte_ = type; }

    // The RemoteHost and LocalHost properties.
    int32_t SetRemoteHost(const char* host);
    const char* RemoteAddressText();
    int32_t SetLocalHost(const char* host);

  protected:
    int32_t HandleConfig(const ConfigItem& item, const char** answer) override;
    // Back to the initial settings; false when the packet buffer cannot be allocated.
    bool ResetPort();
    bool HelperMode() const { return useIcmpDll_ || useIphlpDll_; }
    bool UseConnection() const { return useConnection_; }

  private:
    int32_t ActivateRaw();
    int32_t SetHelperActive(bool on);

    intptr_t socket_ = kInvalidSocket;
    intptr_t helperHandle_ = kInvalidHandle;
    int32_t timeToLive_ = 0;
    int32_t multicastTtl_ = 0;
    int32_t qosFlags_ = 0;
    bool dontFragment_ = false;
    bool useConnection_ = false;
    int32_t receiveAllMode_ = -1;
    bool readInProgress_ = false;
    bool closePending_ = false;
    bool useIcmpDll_ = false;
    bool useIphlpDll_ = false;
    uint8_t typeByte_ = 8;
    PacketBuffer packets_;
    int64_t clockDivisor_ = 0;

    uint32_t remoteIpv4_ = 0;  // network byte order; 0 = none
    uint8_t remoteIpv6_[28] = {};
    char remoteText_[60] = {};
};

}  // namespace corvane
