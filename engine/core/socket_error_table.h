// Texts of the Windows Sockets error numbers that reach the user.
#pragma once

#include <cstdint>

namespace corvane {

// The stored text of a socket error number, or null when the table has no row for it.
const char* SocketErrorDescription(int32_t code);

inline constexpr const char kTextNoDescription[] = "(no description available)";

}  // namespace corvane
