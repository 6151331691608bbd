#include "engine/icmp/packet_buffer.h"

#include "engine/core/memory.h"

namespace corvane {

PacketBuffer::~PacketBuffer() {
    Free();
}

void PacketBuffer::Free() {
    EngineFree(data_);
    data_ = nullptr;
    capacity_ = 0;
    Empty();
}

bool PacketBuffer::Allocate(uint32_t capacity) {
    Free();
    data_ = static_cast<uint8_t*>(EngineAlloc(capacity));
    if (data_ == nullptr) return false;
    capacity_ = capacity;
    return true;
}

}  // namespace corvane
