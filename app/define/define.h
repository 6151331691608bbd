// Unit define: what the program was started with.
#pragma once

#include <string>

namespace app {

// The first command-line argument, empty when there is none; set once at start-up.
extern std::u16string StartHost;

}  // namespace app
