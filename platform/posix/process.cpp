#include <unistd.h>

#include "platform/process.h"

namespace plat {

uint32_t GetCurrentProcessId() {
    return static_cast<uint32_t>(getpid());
}

}  // namespace plat
