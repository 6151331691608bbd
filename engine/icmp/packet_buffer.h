// The port's one receive and send buffer, allocated once and reused.
#pragma once

#include <cstdint>

namespace corvane {

class PacketBuffer {
  public:
    PacketBuffer() = default;
    ~PacketBuffer();
    PacketBuffer(const PacketBuffer&) = delete;
    PacketBuffer& operator=(const PacketBuffer&) = delete;

    // Replaces the storage; false (and no storage) when it cannot be allocated.
    bool Allocate(uint32_t capacity);
    void Free();
    void Empty() { readPos_ = writePos_ = 0; }

    uint8_t* Data() { return data_; }
    uint32_t Capacity() const { return capacity_; }

  private:
    uint8_t* data_ = nullptr;
    uint32_t capacity_ = 0;
    uint32_t readPos_ = 0;
    uint32_t writePos_ = 0;
};

}  // namespace corvane
