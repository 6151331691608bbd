// The ping layer: request identity, result properties and the echo exchange.
#pragma once

#include <cstdint>

#include "engine/core/text_buffer.h"
#include "engine/icmp/icmp_port.h"

namespace corvane {

class PingCore : public IcmpPort {
  public:
    static constexpr uint16_t kMinPacketSize = 8;
    static constexpr uint16_t kMaxPacketSize = 65515;
    static constexpr size_t kMaxSourceLength = 59;

    explicit PingCore(EventSink* sink);

    int32_t SetPacketSize(int32_t value);
    uint16_t PacketSize() const { return packetSize_; }
    int32_t RequestId() const { return requestId_; }
    int32_t ResponseTime() const { return responseTime_; }
    const char* ResponseSource() const { return responseSource_.c_str(); }

    // 0, or 1 when the receive buffer cannot be allocated.
    int32_t Reset();
    int32_t PingHost(const char* host);
    int32_t WakeOnLan(const char* host, const char* macAddress);

  private:
    uint16_t packetSize_ = 64;
    int32_t requestId_ = 0;
    int32_t sendStamp_ = 0;
    int32_t responseTime_ = 0;
    TextBuffer responseSource_;
    int32_t errorReplyCode_ = -1;
};

}  // namespace corvane
