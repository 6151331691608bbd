// Inside the Linux backend: the Windows numbers of platform/sockets.h under names of
// their own. The system socket headers define macros named like the Windows constants
// (AF_INET6, SOL_SOCKET, FIONBIO, ...) with Linux values, so this header comes before
// them, and past them a bare name such as AF_INET6 means the Linux number.
#pragma once

#if defined(SOL_SOCKET) || defined(AF_INET6) || defined(FIONBIO) || defined(NI_NUMERICHOST)
#error "include platform/posix/winsock_numbers.h before the system socket headers"
#endif

#include "platform/sockets.h"

namespace plat::posix::win {

inline constexpr int kAfInet = plat::AF_INET;
inline constexpr int kAfInet6 = plat::AF_INET6;
inline constexpr int kSolSocket = plat::SOL_SOCKET;
inline constexpr int kSoDontRoute = plat::SO_DONTROUTE;
inline constexpr int kSoBroadcast = plat::SO_BROADCAST;
inline constexpr int kSoSndBuf = plat::SO_SNDBUF;
inline constexpr int kSoRcvBuf = plat::SO_RCVBUF;
inline constexpr int kSoError = plat::SO_ERROR;
inline constexpr int kIpprotoIp = plat::IPPROTO_IP;
inline constexpr int kIpTos = plat::IP_TOS;
inline constexpr int kIpTtl = plat::IP_TTL;
inline constexpr int kIpMulticastTtl = plat::IP_MULTICAST_TTL;
inline constexpr int kIpDontFragment = plat::IP_DONTFRAGMENT;
inline constexpr int kIpprotoIpv6 = plat::IPPROTO_IPV6;
inline constexpr int kIpv6UnicastHops = plat::IPV6_UNICAST_HOPS;
inline constexpr int kIpv6MulticastHops = plat::IPV6_MULTICAST_HOPS;
inline constexpr uint32_t kFionbio = plat::FIONBIO;
inline constexpr uint32_t kFionread = plat::FIONREAD;
inline constexpr uint32_t kSioRcvall = plat::SIO_RCVALL;
inline constexpr int kNiNumericHost = plat::NI_NUMERICHOST;
inline constexpr uint32_t kInaddrNone = plat::INADDR_NONE;

}  // namespace plat::posix::win
