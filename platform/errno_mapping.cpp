// The Windows Sockets numbers of the C library's errno values. The C library of Windows
// lacks a few of them.
#include <errno.h>

#include "platform/winsock_errors.h"

namespace plat {

namespace {

struct ErrnoMapping {
    int err;
    int32_t wsa;
};

// clang-format off
constexpr ErrnoMapping kErrnoToWsa[] = {
    {EACCES, 10013},
    {EPERM, 10013},
    {EINTR, 10004},
    {EBADF, 10009},
    {EFAULT, 10014},
    {EINVAL, 10022},
    {EMFILE, 10024},
    {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},
    {EALREADY, 10037},
    {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},
    {EPROTONOSUPPORT, 10043},
#ifdef ESOCKTNOSUPPORT
    {ESOCKTNOSUPPORT, 10044},
#endif
    {EOPNOTSUPP, 10045},
#ifdef EPFNOSUPPORT
    {EPFNOSUPPORT, 10046},
#endif
    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},
    {ENETUNREACH, 10051},
    {ENETRESET, 10052},
    {ECONNABORTED, 10053},
    {ECONNRESET, 10054},
    {ENOBUFS, 10055},
    {EISCONN, 10056},
    {ENOTCONN, 10057},
#ifdef ESHUTDOWN
    {ESHUTDOWN, 10058},
#endif
#ifdef ETOOMANYREFS
    {ETOOMANYREFS, 10059},
#endif
    {ETIMEDOUT, 10060},
    {ECONNREFUSED, 10061},
    {ELOOP, 10062},
    {ENAMETOOLONG, 10063},
#ifdef EHOSTDOWN
    {EHOSTDOWN, 10064},
#endif
    {EHOSTUNREACH, 10065},
};
// clang-format on

}  // namespace

int32_t WsaErrorFromErrno(int err) {
    for (const ErrnoMapping& m : kErrnoToWsa) {
        if (m.err == err) return m.wsa;
    }
    return err;
}

}  // namespace plat
