#include "platform/winsock_errors.h"

namespace plat {

namespace {

thread_local int32_t t_wsaLastError = 0;

}  // namespace

int32_t WSAGetLastError() {
    return t_wsaLastError;
}

void WSASetLastError(int32_t code) {
    t_wsaLastError = code;
}

}  // namespace plat
