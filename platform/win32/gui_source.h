// The joined toolkit's input as a window message. The engine module carries its own copy
// of this layer, so its pump passes cannot call the program's hook directly; the system
// dispatches the message to the program's window instead, inside any pass.
#pragma once

namespace plat::win32 {

// Thread-safe: asks the joined toolkit to process its pending input.
void PostGuiInput();

}  // namespace plat::win32
