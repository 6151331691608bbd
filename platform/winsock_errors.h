// Windows Sockets error numbers as the layers above the platform see them, and the
// calling thread's last socket error.
#pragma once

#include <cstdint>

#include "platform/export.h"

namespace plat {

inline constexpr int32_t kWsaEintr = 10004;
inline constexpr int32_t kWsaEwouldblock = 10035;
inline constexpr int32_t kWsaEnotsock = 10038;
inline constexpr int32_t kWsaEinval = 10022;
inline constexpr int32_t kWsaEfault = 10014;
inline constexpr int32_t kWsaNotInitialised = 10093;
inline constexpr int32_t kWsaHostNotFound = 11001;
inline constexpr int32_t kWsaTryAgain = 11002;
inline constexpr int32_t kWsaNoRecovery = 11003;
inline constexpr int32_t kWsaNoData = 11004;

PLAT_API int32_t WSAGetLastError();
PLAT_API void WSASetLastError(int32_t code);

// The Windows Sockets number for a system errno value; errno values without a socket
// meaning are returned unchanged.
PLAT_API int32_t WsaErrorFromErrno(int err);

}  // namespace plat
