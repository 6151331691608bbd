// The system ICMP helper library, looked up by name in the modules "icmp.dll" and
// "Iphlpapi.dll": a handle, and a synchronous echo that waits for its answers.
#pragma once

#include <cstdint>

namespace plat {

inline void* const INVALID_HANDLE_VALUE = reinterpret_cast<void*>(~uintptr_t{0});

struct IP_OPTION_INFORMATION {
    uint8_t Ttl;
    uint8_t Tos;
    uint8_t Flags;
    uint8_t OptionsSize;
    uint8_t* OptionsData;
};

struct ICMP_ECHO_REPLY {
    uint32_t Address;  // network byte order
    uint32_t Status;
    uint32_t RoundTripTime;
    uint16_t DataSize;
    uint16_t Reserved;
    void* Data;
    IP_OPTION_INFORMATION Options;
};

static_assert(sizeof(ICMP_ECHO_REPLY) == 40, "the 64-bit record layout");

inline constexpr uint32_t IP_SUCCESS = 0;
inline constexpr uint32_t IP_BUF_TOO_SMALL = 11001;
inline constexpr uint32_t IP_DEST_NET_UNREACHABLE = 11002;
inline constexpr uint32_t IP_DEST_HOST_UNREACHABLE = 11003;
inline constexpr uint32_t IP_DEST_PROT_UNREACHABLE = 11004;
inline constexpr uint32_t IP_DEST_PORT_UNREACHABLE = 11005;
inline constexpr uint32_t IP_PACKET_TOO_BIG = 11009;
inline constexpr uint32_t IP_REQ_TIMED_OUT = 11010;
inline constexpr uint32_t IP_TTL_EXPIRED_TRANSIT = 11013;
inline constexpr uint32_t IP_TTL_EXPIRED_REASSEM = 11014;

using IcmpCreateFileFn = void* (*)();
using IcmpCloseHandleFn = int (*)(void* handle);
// Sends one echo request with the given data and waits up to timeout milliseconds. Returns
// the number of reply records written at the start of replyBuffer, or 0 with the reason
// in the thread's last error (IP_REQ_TIMED_OUT when nothing answered). The data of a
// record follow the records in replyBuffer: for IP_SUCCESS the echoed request data; for
// an error status the error message behind its 4-byte header without the echo's
// identifier and sequence, so that the request data start at offset 28.
using IcmpSendEchoFn = uint32_t (*)(void* handle, uint32_t destination, void* requestData,
                                    uint16_t requestSize, IP_OPTION_INFORMATION* options,
                                    void* replyBuffer, uint32_t replySize, uint32_t timeout);

}  // namespace plat
