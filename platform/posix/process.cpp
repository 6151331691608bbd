#include <sys/auxv.h>
#include <unistd.h>

#include "platform/process.h"

namespace plat {

uint32_t GetCurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

// The kernel's secure-execution flag: set for set-user-id and set-group-id programs and
// for programs that gained capabilities from their file.
bool RaisedRights() {
    return getauxval(AT_SECURE) != 0;
}

}  // namespace plat
