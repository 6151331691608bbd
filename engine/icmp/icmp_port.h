// The ICMP port of a ping object: its endpoint (a raw socket, or a handle of the system
// ICMP helper library), the socket options, the remote address, and the framing and
// reading of the ICMP messages that cross it.
#pragma once

#include <cstdint>

#include "engine/icmp/packet_buffer.h"
#include "engine/net/socket_core.h"
#include "platform/sockets.h"

namespace corvane {

class IcmpPort : public SocketCore {
  public:
    static constexpr intptr_t kInvalidHandle = -1;
    static constexpr uint32_t kMaxPacketLimit = 65536;
    static constexpr size_t kSourceTextSize = 60;

    explicit IcmpPort(EventSink* sink);
    ~IcmpPort() override;

    bool IsActive() const;
    int32_t SetActive(bool on);
    // Counts the openings of the port: an exchange tells its own open port from one that
    // a nested call opened meanwhile.
    uint32_t Openings() const { return openings_; }
    int32_t CloseSocket();
    void ReleaseSocket();

    int32_t SetTimeToLive(int32_t value, bool multicast);
    int32_t GetTimeToLive(bool multicast) const;
    int32_t SetTosFlags(int32_t value);
    int32_t GetTosFlags();
    int32_t SetUseConnection(bool on);
    int32_t SetMaxPacketSize(uint32_t value);
    uint32_t GetMaxPacketSize() const;

    uint8_t TypeByte() const { return typeByte_; }
    void SetTypeByte(uint8_t type) { typeByte_ = type; }

    // The RemoteHost and LocalHost properties.
    int32_t SetRemoteHost(const char* host);
    const char* RemoteAddressText();
    int32_t SetLocalHost(const char* host);

    // Frames data as one ICMP message with the type byte and sends it to the remote host.
    int32_t SendIcmp(const uint8_t* data, uint32_t length);

    plat::LRESULT OnWindowMessage(uint32_t message, plat::WPARAM wParam,
                                  plat::LPARAM lParam) override;

  protected:
    enum class ReadMode { kNotified, kDrain };

    int32_t HandleConfig(const ConfigItem& item, const char** answer) override;
    // Back to the initial settings; false when the packet buffer cannot be allocated.
    bool ResetPort();
    bool HelperMode() const { return useIcmpDll_ || useIphlpDll_; }
    bool UseConnection() const { return useConnection_; }
    // Milliseconds from the high-resolution counter when there is one, else the tick
    // count; only differences of two readings mean anything.
    int32_t MillisecondClock() const;

    // Reads and dispatches every datagram waiting on the socket.
    int32_t ReadDatagrams(ReadMode mode);
    // One received ICMP message: its type and code, the bytes after its first four, and
    // whether its checksum verified. Non-zero stops the reading.
    virtual int32_t OnIcmpPacket(uint8_t type, uint8_t code, const uint8_t* data, uint32_t length,
                                 bool checksumOk, const char* source);
    virtual void OnReadyToSend() {}

  private:
    int32_t ActivateRaw();
    int32_t SetHelperActive(bool on);
    void CloseHelper();
    // The helper library frames, sends and waits itself, then hands over its records.
    int32_t SendViaHelper(const uint8_t* data, uint32_t length);
    // Hands each reply record the library wrote into the buffer to OnIcmpPacket.
    int32_t WalkHelperRecords(const uint8_t* records, uint32_t capacity, uint32_t count);
    int32_t FailActivation();
    // Writes the remote address as text without touching the error state.
    void FormatRemote(char* out, size_t size) const;
    bool ChecksumOk(uint8_t* message, uint32_t length, const uint8_t* sender) const;

    plat::SOCKET socket_ = plat::INVALID_SOCKET;
    intptr_t helperHandle_ = kInvalidHandle;
    int32_t timeToLive_ = 0;
    int32_t multicastTtl_ = 0;
    int32_t qosFlags_ = 0;
    bool dontFragment_ = false;
    bool useConnection_ = false;
    int32_t receiveAllMode_ = -1;
    bool readInProgress_ = false;
    bool closePending_ = false;
    bool closing_ = false;
    bool useIcmpDll_ = false;
    bool useIphlpDll_ = false;
    uint8_t typeByte_ = 8;
    PacketBuffer packets_;
    int64_t clockDivisor_ = 0;
    uint32_t openings_ = 0;

    uint32_t remoteIpv4_ = 0;  // network byte order; 0 = none
    uint8_t remoteIpv6_[28] = {};
    char remoteText_[kSourceTextSize] = {};
    char sourceText_[kSourceTextSize] = {};
};

}  // namespace corvane
