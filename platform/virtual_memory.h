// Reserving and releasing pages of the address space, like VirtualAlloc and VirtualFree.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/export.h"

namespace plat {

inline constexpr uint32_t MEM_COMMIT = 0x00001000;
inline constexpr uint32_t MEM_RESERVE = 0x00002000;
inline constexpr uint32_t MEM_RELEASE = 0x00008000;

inline constexpr uint32_t PAGE_NOACCESS = 0x01;
inline constexpr uint32_t PAGE_READONLY = 0x02;
inline constexpr uint32_t PAGE_READWRITE = 0x04;
inline constexpr uint32_t PAGE_EXECUTE = 0x10;
inline constexpr uint32_t PAGE_EXECUTE_READ = 0x20;
inline constexpr uint32_t PAGE_EXECUTE_READWRITE = 0x40;

// Reserves and commits size bytes of zeroed pages at an address of the system's choosing
// (address must be null, type MEM_RESERVE | MEM_COMMIT). Null on failure, with
// LastError() 87 for an argument this layer does not support and 8 when there is no memory.
PLAT_API void* VirtualAlloc(void* address, size_t size, uint32_t type, uint32_t protect);

// Releases a whole reservation: address as VirtualAlloc returned it, size 0, type
// MEM_RELEASE. False with LastError() 87 for other arguments, 487 for an address that
// starts no reservation.
PLAT_API bool VirtualFree(void* address, size_t size, uint32_t type);

}  // namespace plat
