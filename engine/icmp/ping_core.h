// The ping layer: the echo exchange, its request identity, the matching of answers and
// the result properties; and the wake-on-LAN packet.
#pragma once

#include <cstdint>

#include "engine/core/text_buffer.h"
#include "engine/icmp/icmp_port.h"

namespace corvane {

// Added to every request identifier: distinct for each process of the machine.
uint32_t ProcessTerm();

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

  protected:
    int32_t OnIcmpPacket(uint8_t type, uint8_t code, const uint8_t* data, uint32_t length,
                         bool checksumOk, const char* source) override;

  private:
    // What a blocking exchange learns from its answer.
    struct Answer {
        bool accepted = false;
        int32_t errorReplyCode = -1;
    };
    // Makes an exchange's answer the awaited one for its lifetime; the one it replaced
    // (of an exchange further out) comes back after it.
    class AwaitedAnswer {
      public:
        AwaitedAnswer(Answer*& slot, Answer* answer) : slot_(slot), outer_(slot) { slot_ = answer; }
        ~AwaitedAnswer() { slot_ = outer_; }
        AwaitedAnswer(const AwaitedAnswer&) = delete;
        AwaitedAnswer& operator=(const AwaitedAnswer&) = delete;

      private:
        Answer*& slot_;
        Answer* outer_;
    };

    int32_t Exchange(const char* host, bool blocking);
    // The text of a destination-unreachable code; the last error text holds it when it is
    // composed.
    const char* ReplyStatusText(int32_t code);
    // Milliseconds since a clock reading, in 32-bit wrapping arithmetic.
    int32_t Elapsed(int32_t stamp) const;
    // Closes the port and keeps the code and text of what went before.
    int32_t CloseKeepingError(int32_t code);

    uint16_t packetSize_ = 64;
    int32_t requestId_ = 0;
    int32_t sendStamp_ = 0;
    int32_t responseTime_ = 0;
    TextBuffer responseSource_;
    int32_t errorReplyCode_ = -1;
    bool errorReplyIpv6_ = false;
    Answer* awaited_ = nullptr;
};

}  // namespace corvane
