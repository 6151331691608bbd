#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "platform/host_name.h"
#include "platform/winsock_errors.h"

namespace plat {

int GetHostName(char* buffer, int length) {
    if (buffer == nullptr || length <= 0) {
        WSASetLastError(kWsaEfault);
        return -1;
    }
    char name[256];
    if (gethostname(name, sizeof name) != 0) {
        WSASetLastError(WsaErrorFromErrno(errno));
        return -1;
    }
    name[sizeof name - 1] = '\0';
    const size_t needed = strlen(name) + 1;
    if (needed > static_cast<size_t>(length)) {
        WSASetLastError(kWsaEfault);
        return -1;
    }
    memcpy(buffer, name, needed);
    return 0;
}

}  // namespace plat
