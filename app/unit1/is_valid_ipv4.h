// The address test of the host field: four pieces, each a number from 0 to 255 (decimal,
// or hexadecimal after "$", "x", "X", "0x" or "0X"), the first not 0.
#pragma once

#include <string>

namespace app {

bool IsValidIPv4(const std::u16string& text);

}  // namespace app
