// A test host that answers ICMP echo requests the way a test asks for: on time, late,
// twice, with another identifier, a bad checksum, IP options, cut short, or with an ICMP
// error that quotes the request. It runs inside a network namespace whose kernel answers
// no echo requests itself (net.ipv4.icmp_echo_ignore_all=1, net.ipv6.icmp.echo_ignore_all=1),
// so every answer the pinger sees comes from here.
//
//   icmp_responder [--ipv6] [--mode MODE] [--count N] [--seconds T] [--delay MS]
//                  [--copies K] [--interval MS] [--length BYTES] [--type T] [--code C]
//
// MODE: normal, late (--delay), twice, wrong-id, bad-checksum, ip-options, truncate
// (--length ICMP bytes), error (--type, --code), silent. --copies sends K answers per
// request, --interval MS apart. The program ends after N requests (default 1), or after
// T seconds (default 10) at the latest, whichever comes first.
//
// Output, one line each: "ready" once the sockets are open; for every echo request seen
// "request ID LENGTH TTL DATA" (ID: the four bytes behind the type, code and checksum;
// DATA: the four after them, both read little-endian, in hex; LENGTH: the ICMP message
// length; TTL: its time-to-live or hop limit on arrival); and "done N" at the end.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kEchoRequestV6 = 128;
constexpr uint8_t kEchoReplyV6 = 129;
constexpr size_t kIpv4Header = 20;
constexpr size_t kIpv6Header = 40;
constexpr size_t kMaxQuote = 548;  // what a Linux router quotes at most (IPv4)
constexpr int kMaxCopies = 100;

enum class Mode {
    kNormal,
    kLate,
    kTwice,
    kWrongId,
    kBadChecksum,
    kIpOptions,
    kTruncate,
    kError,
    kSilent
};

struct Options {
    bool ipv6 = false;
    Mode mode = Mode::kNormal;
    int count = 1;
    int seconds = 10;
    int delayMs = 0;
    int copies = 1;
    int intervalMs = 0;
    int length = -1;  // ICMP bytes of an answer; -1 keeps the full length
    int type = 3;
    int code = 1;
};

bool ParseMode(const char* text, Mode* mode) {
    struct Name {
        const char* name;
        Mode mode;
    };
    static const Name kNames[] = {
        {"normal", Mode::kNormal},
        {"late", Mode::kLate},
        {"twice", Mode::kTwice},
        {"wrong-id", Mode::kWrongId},
        {"bad-checksum", Mode::kBadChecksum},
        {"ip-options", Mode::kIpOptions},
        {"truncate", Mode::kTruncate},
        {"error", Mode::kError},
        {"silent", Mode::kSilent},
    };
    for (const Name& n : kNames) {
        if (std::strcmp(text, n.name) == 0) {
            *mode = n.mode;
            return true;
        }
    }
    return false;
}

bool ParseInt(const char* text, int low, int high, int* out) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
    *out = static_cast<int>(value);
    return true;
}

[[noreturn]] void Usage(const char* why) {
    std::fprintf(stderr, "icmp_responder: %s\n", why);
    std::exit(2);
}

Options Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--ipv6") {
            o.ipv6 = true;
            continue;
        }
        if (i + 1 >= argc) Usage(("missing value after " + arg).c_str());
        const char* value = argv[++i];
        bool ok = true;
        if (arg == "--mode") {
            ok = ParseMode(value, &o.mode);
        } else if (arg == "--count") {
            ok = ParseInt(value, 1, 10000, &o.count);
        } else if (arg == "--seconds") {
            ok = ParseInt(value, 1, 600, &o.seconds);
        } else if (arg == "--delay") {
            ok = ParseInt(value, 0, 60000, &o.delayMs);
        } else if (arg == "--copies") {
            ok = ParseInt(value, 1, kMaxCopies, &o.copies);
        } else if (arg == "--interval") {
            ok = ParseInt(value, 0, 10000, &o.intervalMs);
        } else if (arg == "--length") {
            ok = ParseInt(value, 0, 65535, &o.length);
        } else if (arg == "--type") {
            ok = ParseInt(value, 0, 255, &o.type);
        } else if (arg == "--code") {
            ok = ParseInt(value, 0, 255, &o.code);
        } else {
            Usage(("unknown option " + arg).c_str());
        }
        if (!ok) Usage(("bad value for " + arg).c_str());
    }
    if (o.mode == Mode::kTwice && o.copies < 2) o.copies = 2;
    if (o.ipv6 && (o.mode == Mode::kBadChecksum || o.mode == Mode::kIpOptions)) {
        // The kernel fills in every ICMPv6 checksum, and options are an IPv4 matter.
        Usage("bad-checksum and ip-options are IPv4 modes");
    }
    return o;
}

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SleepMs(int ms) {
    if (ms <= 0) return;
    timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

uint16_t Checksum(const uint8_t* data, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if ((length & 1) != 0) sum += static_cast<uint32_t>(data[length - 1]) << 8;
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<uint16_t>(~sum);
}

// Four bytes from offset at, little-endian; bytes past the end count as 0.
uint32_t Le32At(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
        value |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
    return value;
}

// One echo request as it arrived.
struct Request {
    std::vector<uint8_t> icmp;
    std::vector<uint8_t> ipHeader;  // IPv4: as received; IPv6: rebuilt for quoting
    sockaddr_storage from{};
    socklen_t fromLength = 0;
    int ttl = 0;  // time-to-live or hop limit as it arrived
};

// The answer to send for a request, ICMP bytes only.
std::vector<uint8_t> Answer(const Options& o, const Request& r, int copy) {
    std::vector<uint8_t> m;
    if (o.mode == Mode::kError) {
        m.assign(8, 0);
        m[0] = static_cast<uint8_t>(o.type);
        m[1] = static_cast<uint8_t>(o.code);
        m.insert(m.end(), r.ipHeader.begin(), r.ipHeader.end());
        const size_t quoted = std::min(r.icmp.size(), kMaxQuote - r.ipHeader.size());
        m.insert(m.end(), r.icmp.begin(), r.icmp.begin() + static_cast<long>(quoted));
    } else {
        m = r.icmp;
        m[0] = o.ipv6 ? kEchoReplyV6 : kEchoReply;
        m[1] = 0;
        // Each copy gets an identifier of its own, none of them the request's.
        if (o.mode == Mode::kWrongId && m.size() >= 8) m[4] ^= static_cast<uint8_t>(0x5A + copy);
    }
    if (o.length >= 0 && static_cast<size_t>(o.length) < m.size()) m.resize(o.length);
    if (m.size() >= 4) {
        m[2] = m[3] = 0;
        const uint16_t sum = Checksum(m.data(), m.size());
        Put16(&m[2], o.mode == Mode::kBadChecksum ? static_cast<uint16_t>(sum ^ 0x1234) : sum);
    }
    return m;
}

class Responder {
  public:
    explicit Responder(const Options& o) : o_(o) {}

    bool Open() {
        if (o_.ipv6) {
            in_ = socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6);
            const int on = 1;
            if (in_ < 0 || setsockopt(in_, IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on) != 0 ||
                setsockopt(in_, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on) != 0) {
                return Fail("ICMPv6 socket");
            }
            out_ = in_;  // the kernel computes the ICMPv6 checksum
        } else {
            in_ = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
            // IPPROTO_RAW implies IP_HDRINCL: the header, options included, is ours.
            out_ = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
            if (in_ < 0 || out_ < 0) return Fail("raw IPv4 socket");
        }
        return true;
    }

    int Run() {
        std::printf("ready\n");
        std::fflush(stdout);
        const int64_t end = NowMs() + int64_t{o_.seconds} * 1000;
        int seen = 0;
        // One request per pass; passes are bounded by the deadline.
        while (seen < o_.count) {
            const int64_t left = end - NowMs();
            if (left <= 0) break;
            pollfd p{in_, POLLIN, 0};
            const int ready = poll(&p, 1, static_cast<int>(left));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) break;
            Request r;
            if (!Receive(&r)) continue;
            ++seen;
            std::printf("request %08x %zu %d %08x\n", Le32At(r.icmp, 4), r.icmp.size(), r.ttl,
                        Le32At(r.icmp, 8));
            std::fflush(stdout);
            if (o_.mode == Mode::kSilent) continue;
            SleepMs(o_.delayMs);
            for (int copy = 0; copy < o_.copies; ++copy) {
                if (copy > 0) SleepMs(o_.intervalMs);
                Send(r, Answer(o_, r, copy));
            }
        }
        std::printf("done %d\n", seen);
        std::fflush(stdout);
        return 0;
    }

  private:
    bool Fail(const char* what) {
        std::fprintf(stderr, "icmp_responder: %s: %s\n", what, std::strerror(errno));
        return false;
    }

    // An echo request, or false for any other datagram.
    bool Receive(Request* r) {
        uint8_t buffer[65536];
        uint8_t control[256];
        iovec io{buffer, sizeof buffer};
        msghdr msg{};
        msg.msg_name = &r->from;
        msg.msg_namelen = sizeof r->from;
        msg.msg_iov = &io;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(in_, &msg, 0);
        if (n <= 0) return false;
        r->fromLength = msg.msg_namelen;
        if (!o_.ipv6) {
            const size_t header = static_cast<size_t>(buffer[0] & 0x0F) * 4;
            if (static_cast<size_t>(n) < header + 8 || buffer[header] != kEchoRequest) return false;
            r->ipHeader.assign(buffer, buffer + header);
            r->ttl = buffer[8];
            r->icmp.assign(buffer + header, buffer + n);
            return true;
        }
        if (n < 8 || buffer[0] != kEchoRequestV6) return false;
        r->icmp.assign(buffer, buffer + n);
        // The quote of an ICMPv6 error carries the request's IPv6 header; rebuild it.
        in6_addr destination{};
        int hops = 64;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != IPPROTO_IPV6) continue;
            if (c->cmsg_type == IPV6_PKTINFO) {
                in6_pktinfo info;
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                destination = info.ipi6_addr;
            } else if (c->cmsg_type == IPV6_HOPLIMIT) {
                std::memcpy(&hops, CMSG_DATA(c), sizeof hops);
            }
        }
        r->ipHeader.assign(kIpv6Header, 0);
        r->ipHeader[0] = 0x60;
        Put16(&r->ipHeader[4], static_cast<uint32_t>(n));
        r->ipHeader[6] = IPPROTO_ICMPV6;
        r->ipHeader[7] = static_cast<uint8_t>(hops);
        r->ttl = hops;
        const auto& source = reinterpret_cast<const sockaddr_in6&>(r->from);
        std::memcpy(&r->ipHeader[8], &source.sin6_addr, 16);
        std::memcpy(&r->ipHeader[24], &destination, 16);
        return true;
    }

    void Send(const Request& r, const std::vector<uint8_t>& icmp) {
        if (o_.ipv6) {
            if (sendto(out_, icmp.data(), icmp.size(), 0,
                       reinterpret_cast<const sockaddr*>(&r.from), r.fromLength) < 0) {
                Fail("sendto");
            }
            return;
        }
        // Our own IPv4 header, answering from the address the request went to.
        const bool options = o_.mode == Mode::kIpOptions;
        const size_t header = options ? kIpv4Header + 4 : kIpv4Header;
        std::vector<uint8_t> datagram(header, 0);
        datagram[0] = options ? 0x46 : 0x45;
        Put16(&datagram[2], static_cast<uint32_t>(header + icmp.size()));
        datagram[8] = 64;
        datagram[9] = IPPROTO_ICMP;
        std::memcpy(&datagram[12], &r.ipHeader[16], 4);  // the request's destination
        std::memcpy(&datagram[16], &r.ipHeader[12], 4);  // back to its source
        if (options) {
            datagram[20] = datagram[21] = datagram[22] = 1;  // no-operation options
            datagram[23] = 0;                                // end of the option list
        }
        Put16(&datagram[10], Checksum(datagram.data(), header));
        datagram.insert(datagram.end(), icmp.begin(), icmp.end());
        sockaddr_in to{};
        to.sin_family = AF_INET;
        std::memcpy(&to.sin_addr, &r.ipHeader[12], 4);
        if (sendto(out_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof to) < 0) {
            Fail("sendto");
        }
    }

    const Options o_;
    int in_ = -1;
    int out_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    Responder responder(options);
    if (!responder.Open()) return 1;
    return responder.Run();
}
