// Copies of texts the engine hands over. Kept out of line: GCC 12 at -O2 miscompiles a
// string built from a pointer read back out of a slot array that went through a call.
#pragma once

#include <string>

namespace crv {

std::u16string CopyWide(const char16_t* text);  // null reads as empty
std::string CopyBytes(const char* text);

}  // namespace crv
