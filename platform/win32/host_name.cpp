#include "platform/host_name.h"

#include "platform/win32/windows_headers.h"

namespace plat {

int GetHostName(char* buffer, int length) {
    return ::gethostname(buffer, length);
}

}  // namespace plat
