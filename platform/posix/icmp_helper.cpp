// The ICMP helper library of Windows ("icmp.dll", "Iphlpapi.dll") on a raw ICMP socket.
// The socket stays unconnected: a connected raw socket on Linux never receives a
// router's ICMP error as data, while an unconnected one sees every ICMP message that
// arrives, so answers are told apart by the identifier and sequence of the request.
// Without the privilege for raw sockets an ICMP datagram socket serves instead; its
// identifier is the one the kernel writes into the requests.
#include <errno.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <poll.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <linux/icmp.h>

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include "platform/icmp_helper.h"
#include "platform/last_error.h"
#include "platform/posix/builtin_modules.h"
#include "platform/posix/icmp_datagram.h"
#include "platform/posix/internet_checksum.h"

namespace plat {

namespace {

using posix::Get16;
using posix::InternetChecksum;
using posix::Put16;

// Windows system error numbers the helper reports besides its IP_ status numbers.
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorTooManyOpenFiles = 4;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kIpGeneralFailure = 11050;

constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kDestUnreachable = 3;
constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kTimeExceeded = 11;
constexpr uint8_t kIpFlagDontFragment = 0x02;  // IP_OPTION_INFORMATION.Flags

// The largest request Windows accepts.
constexpr uint32_t kMaxRequestSize = 65500;
constexpr size_t kEchoHeaderSize = 8;
constexpr size_t kRecordSize = sizeof(ICMP_ECHO_REPLY);
// Datagrams read at most before a send to empty the queue of strays; more than a
// receive buffer holds, and the loop ends anyway once the queue is empty.
constexpr int kMaxStaleDrained = 4096;

struct IcmpHandle {
    int fd = -1;
    bool datagram = false;  // an ICMP datagram socket (see the top of this file)
    uint16_t identifier = 0;
    uint16_t sequence = 0;
    pthread_mutex_t lock;  // one exchange at a time: a second one would read its answers
    uint8_t packet[65536];
};

// Different handles of one process get different identifiers; the random base keeps
// processes apart.
uint16_t NextIdentifier() {
    static std::atomic<uint16_t> next{[] {
        uint16_t base = 0;
        if (getrandom(&base, sizeof base, GRND_NONBLOCK) != sizeof base) {
            base = static_cast<uint16_t>(getpid() * 2654435761u >> 16);
        }
        return base;
    }()};
    return next.fetch_add(1, std::memory_order_relaxed);
}

IcmpHandle* AsHandle(void* handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    return static_cast<IcmpHandle*>(handle);
}

int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

uint32_t StatusOf(uint8_t type, uint8_t code) {
    if (type == kTimeExceeded) return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    switch (code) {
        case 0:
            return IP_DEST_NET_UNREACHABLE;
        case 2:
            return IP_DEST_PROT_UNREACHABLE;
        case 3:
            return IP_DEST_PORT_UNREACHABLE;
        case 4:
            return IP_PACKET_TOO_BIG;
        default:
            return IP_DEST_HOST_UNREACHABLE;
    }
}

// What a failed send means to the caller: the local stack's verdicts read as the
// status numbers a router's answer would have given.
uint32_t SendFailure(int err) {
    switch (err) {
        case ENETUNREACH:
            return IP_DEST_NET_UNREACHABLE;
        case EHOSTUNREACH:
            return IP_DEST_HOST_UNREACHABLE;
        case EMSGSIZE:
            return IP_PACKET_TOO_BIG;
        case ENOBUFS:
        case ENOMEM:
            return kErrorNotEnoughMemory;
        default:
            return kIpGeneralFailure;
    }
}

struct Answer {
    uint32_t source;  // network order
    uint32_t status;
    uint8_t ttl;
    uint8_t tos;
    // Data in up to two pieces: an error's data skip the identifier and sequence of the
    // embedded request.
    const uint8_t* head;
    size_t headSize;
    const uint8_t* tail;
    size_t tailSize;
};

// Whether the datagram (IPv4 header and ICMP message) answers the request with this
// identifier and sequence sent to destination; fills answer when it does.
bool Matches(const uint8_t* p, size_t length, uint32_t destination, uint16_t identifier,
             uint16_t sequence, Answer* answer) {
    if (length < 20 || (p[0] >> 4) != 4) return false;
    const size_t ipHeader = static_cast<size_t>(p[0] & 0x0F) * 4;
    if (ipHeader < 20 || length < ipHeader + kEchoHeaderSize || p[9] != IPPROTO_ICMP) return false;
    size_t icmpLength = length - ipHeader;
    const size_t total = Get16(p + 2);
    if (total >= ipHeader + kEchoHeaderSize && total < length) icmpLength = total - ipHeader;
    const uint8_t* icmp = p + ipHeader;
    // The remote stack would have dropped a damaged message before the helper saw it.
    if (InternetChecksum(icmp, icmpLength) != 0) return false;

    answer->ttl = p[8];
    answer->tos = p[1];
    memcpy(&answer->source, p + 12, 4);
    const uint8_t type = icmp[0];
    if (type == kEchoReply) {
        if (Get16(icmp + 4) != identifier || Get16(icmp + 6) != sequence) return false;
        answer->status = IP_SUCCESS;
        answer->head = icmp + kEchoHeaderSize;
        answer->headSize = icmpLength - kEchoHeaderSize;
        answer->tail = nullptr;
        answer->tailSize = 0;
        return true;
    }
    if (type != kDestUnreachable && type != kTimeExceeded) return false;

    // The error quotes our datagram: its IPv4 header and at least the echo header.
    const uint8_t* inner = icmp + kEchoHeaderSize;
    const size_t innerLength = icmpLength - kEchoHeaderSize;
    if (innerLength < 20 || (inner[0] >> 4) != 4) return false;
    const size_t innerHeader = static_cast<size_t>(inner[0] & 0x0F) * 4;
    if (innerHeader < 20 || innerLength < innerHeader + kEchoHeaderSize) return false;
    if (inner[9] != IPPROTO_ICMP || memcmp(inner + 16, &destination, 4) != 0) return false;
    const uint8_t* request = inner + innerHeader;
    if (request[0] != kEchoRequest || Get16(request + 4) != identifier ||
        Get16(request + 6) != sequence) {
        return false;
    }
    answer->status = StatusOf(type, icmp[1]);
    // Unused/MTU field, quoted IPv4 header and type/code/checksum, then the request data.
    answer->head = icmp + 4;
    answer->headSize = 4 + innerHeader + 4;
    answer->tail = request + kEchoHeaderSize;
    answer->tailSize = innerLength - innerHeader - kEchoHeaderSize;
    return true;
}

uint32_t WriteRecord(const Answer& answer, uint32_t roundTrip, void* replyBuffer,
                     uint32_t replySize) {
    auto* out = static_cast<uint8_t*>(replyBuffer);
    size_t room = replySize - kRecordSize;
    uint8_t* data = out + kRecordSize;
    // Whatever does not fit is cut off; the request data always do (checked before sending).
    const size_t head = answer.headSize < room ? answer.headSize : room;
    memcpy(data, answer.head, head);
    room -= head;
    const size_t tail = answer.tailSize < room ? answer.tailSize : room;
    if (tail != 0) memcpy(data + head, answer.tail, tail);
    const size_t dataSize = head + tail;

    ICMP_ECHO_REPLY record{};
    record.Address = answer.source;
    record.Status = answer.status;
    record.RoundTripTime = roundTrip;
    record.DataSize = static_cast<uint16_t>(dataSize > 0xFFFF ? 0xFFFF : dataSize);
    record.Data = data;
    record.Options.Ttl = answer.ttl;
    record.Options.Tos = answer.tos;
    memcpy(out, &record, sizeof record);
    return 1;
}

// The next datagram in the raw form (IPv4 header first); -1 with errno when none.
ssize_t ReadDatagram(IcmpHandle* h) {
    if (!h->datagram) return recv(h->fd, h->packet, sizeof h->packet, MSG_DONTWAIT);
    sockaddr_storage source{};
    return posix::ReceiveAsRaw(h->fd, h->packet, sizeof h->packet, &source);
}

// Reads what has queued up since the last exchange, so that strays cannot fill the
// receive buffer before this exchange's answer arrives.
void DrainStale(IcmpHandle* h) {
    for (int i = 0; i < kMaxStaleDrained; ++i) {
        if (ReadDatagram(h) < 0 && errno != EINTR) return;
    }
}

bool ApplyOptions(int fd, const IP_OPTION_INFORMATION* options) {
    // -1 restores the route's default time-to-live.
    const int ttl = options != nullptr && options->Ttl != 0 ? options->Ttl : -1;
    const int tos = options != nullptr ? options->Tos : 0;
    const int pmtu = options != nullptr && (options->Flags & kIpFlagDontFragment) != 0
                         ? IP_PMTUDISC_DO
                         : IP_PMTUDISC_DONT;
    return setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) == 0 &&
           setsockopt(fd, IPPROTO_IP, IP_TOS, &tos, sizeof tos) == 0 &&
           setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &pmtu, sizeof pmtu) == 0;
}

uint32_t Exchange(IcmpHandle* h, uint32_t destination, const uint8_t* requestData,
                  uint16_t requestSize, const IP_OPTION_INFORMATION* options, void* replyBuffer,
                  uint32_t replySize, uint32_t timeout) {
    if (!ApplyOptions(h->fd, options)) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    DrainStale(h);

    const uint16_t sequence = ++h->sequence;
    uint8_t* request = h->packet;
    const size_t requestLength = kEchoHeaderSize + requestSize;
    memset(request, 0, kEchoHeaderSize);
    request[0] = kEchoRequest;
    Put16(request + 4, h->identifier);
    Put16(request + 6, sequence);
    if (requestSize != 0) memcpy(request + kEchoHeaderSize, requestData, requestSize);
    Put16(request + 2, InternetChecksum(request, requestLength));

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    const int64_t sentAt = NowNs();
    ssize_t sent;
    do {
        sent =
            sendto(h->fd, request, requestLength, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        SetLastError(SendFailure(errno));
        return 0;
    }

    const int64_t deadline = sentAt + static_cast<int64_t>(timeout) * 1000000;
    for (;;) {
        const int64_t left = deadline - NowNs();
        if (left <= 0) break;
        // Rounded up, so that the last fraction of a millisecond is slept, not spun.
        const int64_t leftMs = (left + 999999) / 1000000;
        pollfd pfd{h->fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, leftMs > INT_MAX ? INT_MAX : static_cast<int>(leftMs));
        if (ready < 0 && errno != EINTR) {
            SetLastError(kIpGeneralFailure);
            return 0;
        }
        if (ready <= 0) continue;
        const ssize_t got = ReadDatagram(h);
        if (got <= 0) continue;  // nothing after all, or a pending error: wait on
        Answer answer{};
        if (!Matches(h->packet, static_cast<size_t>(got), destination, h->identifier, sequence,
                     &answer)) {
            continue;
        }
        const int64_t elapsedMs = (NowNs() - sentAt) / 1000000;
        return WriteRecord(answer, static_cast<uint32_t>(elapsedMs), replyBuffer, replySize);
    }
    SetLastError(IP_REQ_TIMED_OUT);
    return 0;
}

// An ICMP datagram socket bound to an identifier of its own; -1 when refused.
int OpenDatagram(uint16_t* identifier) {
    const int fd = posix::OpenIcmpDatagram(AF_INET, IPPROTO_ICMP);
    if (fd < 0) return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t n = sizeof local;
    const int on = 1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&local), &n) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        const int err = errno;
        posix::CloseIcmpDatagram(fd);
        errno = err;
        return -1;
    }
    *identifier = ntohs(local.sin_port);
    return fd;
}

void* IcmpCreateFile() {
    int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    bool datagram = false;
    uint16_t identifier = 0;
    if (fd < 0 && (errno == EPERM || errno == EACCES)) {
        const int refused = errno;
        fd = OpenDatagram(&identifier);
        datagram = fd >= 0;
        if (fd < 0) errno = refused;
    }
    if (fd < 0) {
        switch (errno) {
            case EPERM:
            case EACCES:
                SetLastError(kErrorAccessDenied);
                break;
            case EMFILE:
            case ENFILE:
                SetLastError(kErrorTooManyOpenFiles);
                break;
            case ENOBUFS:
            case ENOMEM:
                SetLastError(kErrorNotEnoughMemory);
                break;
            default:
                SetLastError(kIpGeneralFailure);
                break;
        }
        return INVALID_HANDLE_VALUE;
    }
    // Only answers get through to the queue: no echo requests (our own on loopback
    // among them), no redirects. A datagram socket gets no other messages anyway.
    icmp_filter filter{};
    filter.data = ~((1u << kEchoReply) | (1u << kDestUnreachable) | (1u << kTimeExceeded));
    const int on = 1;
    if (!datagram && (setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0 ||
                      setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)) {
        close(fd);
        SetLastError(kIpGeneralFailure);
        return INVALID_HANDLE_VALUE;
    }
    auto* h = new (std::nothrow) IcmpHandle;
    if (h == nullptr || pthread_mutex_init(&h->lock, nullptr) != 0) {
        delete h;
        if (datagram) {
            posix::CloseIcmpDatagram(fd);
        } else {
            close(fd);
        }
        SetLastError(kErrorNotEnoughMemory);
        return INVALID_HANDLE_VALUE;
    }
    h->fd = fd;
    h->datagram = datagram;
    h->identifier = datagram ? identifier : NextIdentifier();
    return h;
}

int IcmpCloseHandle(void* handle) {
    IcmpHandle* h = AsHandle(handle);
    if (h == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return 0;
    }
    if (h->datagram) {
        posix::CloseIcmpDatagram(h->fd);
    } else {
        close(h->fd);
    }
    pthread_mutex_destroy(&h->lock);
    delete h;
    return 1;
}

uint32_t IcmpSendEcho(void* handle, uint32_t destination, void* requestData, uint16_t requestSize,
                      IP_OPTION_INFORMATION* options, void* replyBuffer, uint32_t replySize,
                      uint32_t timeout) {
    IcmpHandle* h = AsHandle(handle);
    if (h == nullptr) {
        SetLastError(kErrorInvalidHandle);
        return 0;
    }
    if (replyBuffer == nullptr || (requestData == nullptr && requestSize != 0) ||
        requestSize > kMaxRequestSize) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    if (replySize < kRecordSize + requestSize) {
        SetLastError(IP_BUF_TOO_SMALL);
        return 0;
    }
    pthread_mutex_lock(&h->lock);
    const uint32_t records = Exchange(h, destination, static_cast<const uint8_t*>(requestData),
                                      requestSize, options, replyBuffer, replySize, timeout);
    pthread_mutex_unlock(&h->lock);
    return records;
}

const posix::BuiltinExport kIcmpExports[] = {
    {"IcmpCreateFile", reinterpret_cast<void*>(&IcmpCreateFile)},
    {"IcmpCloseHandle", reinterpret_cast<void*>(&IcmpCloseHandle)},
    {"IcmpSendEcho", reinterpret_cast<void*>(&IcmpSendEcho)},
};

}  // namespace

// Both libraries export the same functions; a handle of one works with the other.
const posix::BuiltinModule& posix::IcmpModule() {
    static const BuiltinModule module{"icmp.dll", kIcmpExports,
                                      sizeof kIcmpExports / sizeof kIcmpExports[0]};
    return module;
}

const posix::BuiltinModule& posix::IphlpapiModule() {
    static const BuiltinModule module{"Iphlpapi.dll", kIcmpExports,
                                      sizeof kIcmpExports / sizeof kIcmpExports[0]};
    return module;
}

// The types the engine calls them through.
static_assert(std::is_same_v<decltype(&IcmpCreateFile), IcmpCreateFileFn>);
static_assert(std::is_same_v<decltype(&IcmpCloseHandle), IcmpCloseHandleFn>);
static_assert(std::is_same_v<decltype(&IcmpSendEcho), IcmpSendEchoFn>);

}  // namespace plat
