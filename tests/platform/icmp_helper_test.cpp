// The ICMP helper functions of "icmp.dll" and "Iphlpapi.dll", reached by name as the
// engine reaches them. Echoes go to loopback, or to a scripted responder in a network
// namespace of the test's own whose kernel does not answer echo requests.
#include <errno.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/icmp_helper_test_support.h"

namespace {

using namespace icmptest;

constexpr uint32_t kTimedOut = plat::IP_REQ_TIMED_OUT;

const char* const kModuleNames[] = {"icmp.dll", "IPHLPAPI.DLL"};

// Closes a plain descriptor on every path.
struct Fd {
    int fd = -1;
    explicit Fd(int value) : fd(value) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

uint16_t Get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

uint16_t Checksum(const uint8_t* data, size_t length) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += Get16(data + i);
    if ((length & 1) != 0) sum += static_cast<uint32_t>(data[length - 1]) << 8;
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<uint16_t>(~sum);
}

// The next echo request on a raw socket whose data begin with marker, with its IPv4
// header; empty when none came (at most 64 datagrams, about 2 s each).
std::vector<uint8_t> CaptureRequest(int fd, uint32_t marker) {
    for (int i = 0; i < 64; ++i) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) <= 0) break;
        uint8_t d[65536];
        const ssize_t n = recv(fd, d, sizeof d, 0);
        if (n < 20) continue;
        const size_t ihl = static_cast<size_t>(d[0] & 0x0F) * 4;
        if (static_cast<size_t>(n) >= ihl + 12 && d[ihl] == 8 && MarkerAt(d + ihl + 8) == marker) {
            return std::vector<uint8_t>(d, d + n);
        }
    }
    return {};
}

int DefaultTtl() {
    int ttl = 64;
    if (FILE* f = fopen("/proc/sys/net/ipv4/ip_default_ttl", "r")) {
        if (fscanf(f, "%d", &ttl) != 1) ttl = 64;
        fclose(f);
    }
    return ttl;
}

// ---------------------------------------------------------------------------------
// Binding

TEST(IcmpHelperModules, BothModulesExportTheThreeFunctions) {
    const char* const names[] = {"icmp.dll",     "ICMP.DLL",     "icmp",
                                 "Iphlpapi.dll", "IPHLPAPI.DLL", "iphlpapi"};
    for (const char* name : names) {
        SCOPED_TRACE(name);
        HelperFunctions fns;
        EXPECT_TRUE(Bind(name, &fns));
    }
}

TEST(IcmpHelperModules, OtherNamesAreNotExported) {
    void* module = plat::LoadLibraryA("icmp.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(plat::GetProcAddress(module, "icmpsendecho"), nullptr);  // names are exact
    EXPECT_EQ(plat::GetProcAddress(module, "IcmpSendEcho2"), nullptr);
    EXPECT_TRUE(plat::FreeLibrary(module));
}

TEST(IcmpHelperModules, InvalidHandlesAreRefused) {
    HelperFunctions fns;
    ASSERT_TRUE(Bind("icmp.dll", &fns));
    plat::SetLastError(0);
    EXPECT_EQ(fns.close(plat::INVALID_HANDLE_VALUE), 0);
    EXPECT_EQ(plat::GetLastError(), 6u);
    uint8_t reply[256];
    uint8_t data[4] = {};
    plat::SetLastError(0);
    EXPECT_EQ(fns.send(plat::INVALID_HANDLE_VALUE, Address("127.0.0.1"), data, 4, nullptr, reply,
                       sizeof reply, 100),
              0u);
    EXPECT_EQ(plat::GetLastError(), 6u);
}

// ---------------------------------------------------------------------------------
// Loopback, answered by the kernel

class IcmpHelperLoopback : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override { ASSERT_TRUE(Bind(GetParam(), &fns)); }
    HelperFunctions fns;
};

TEST_P(IcmpHelperLoopback, LocalHostAnswersWithItsEchoedData) {
    CREATE_HANDLE_OR_SKIP(handle, fns);
    const uint32_t marker = NextMarker();
    const std::vector<uint8_t> request = RequestData(marker, 60);
    plat::IP_OPTION_INFORMATION options{255, 8, 0, 0, nullptr};
    const Echo e = SendEcho(fns, handle.h, Address("127.0.0.1"), request, &options, 2000);
    ASSERT_EQ(e.count, 1u) << "last error " << e.error;
    EXPECT_EQ(e.record.Status, plat::IP_SUCCESS);
    EXPECT_EQ(e.record.Address, Address("127.0.0.1"));
    ASSERT_TRUE(e.dataInBuffer);
    EXPECT_EQ(e.record.DataSize, request.size());
    EXPECT_EQ(e.data, request);
    EXPECT_EQ(MarkerAt(e.data.data()), marker);
    EXPECT_NE(e.record.Options.Ttl, 0);
}

TEST_P(IcmpHelperLoopback, RepeatedEchoesOnOneHandleEachGetTheirOwnAnswer) {
    CREATE_HANDLE_OR_SKIP(handle, fns);
    for (int i = 0; i < 5; ++i) {
        const uint32_t marker = NextMarker();
        const Echo e =
            SendEcho(fns, handle.h, Address("127.0.0.1"), RequestData(marker, 32), nullptr, 2000);
        ASSERT_EQ(e.count, 1u) << "last error " << e.error;
        ASSERT_GE(e.data.size(), 4u);
        EXPECT_EQ(MarkerAt(e.data.data()), marker);
    }
}

TEST_P(IcmpHelperLoopback, EmptyRequestIsAnswered) {
    CREATE_HANDLE_OR_SKIP(handle, fns);
    const Echo e = SendEcho(fns, handle.h, Address("127.0.0.1"), {}, nullptr, 2000);
    ASSERT_EQ(e.count, 1u) << "last error " << e.error;
    EXPECT_EQ(e.record.Status, plat::IP_SUCCESS);
    EXPECT_EQ(e.record.DataSize, 0);
}

struct BufferCase {
    const char* name;
    size_t requestSize;
    uint32_t replySize;
    uint32_t error;
};

const BufferCase kBufferCases[] = {
    {"one byte short of the data", 60, kRecordSize + 59, plat::IP_BUF_TOO_SMALL},
    {"record only", 60, kRecordSize, plat::IP_BUF_TOO_SMALL},
    {"less than a record", 0, kRecordSize - 1, plat::IP_BUF_TOO_SMALL},
    {"no room at all", 8, 0, plat::IP_BUF_TOO_SMALL},
    {"request too long", 65501, 65600, 87},
};

TEST_P(IcmpHelperLoopback, RefusedCallsSendNothingAndSayWhy) {
    CREATE_HANDLE_OR_SKIP(handle, fns);
    for (const BufferCase& c : kBufferCases) {
        SCOPED_TRACE(c.name);
        plat::SetLastError(0);
        const Echo e = SendEcho(fns, handle.h, Address("127.0.0.1"), RequestData(1, c.requestSize),
                                nullptr, 1000, c.replySize);
        EXPECT_EQ(e.count, 0u);
        EXPECT_EQ(e.error, c.error);
    }
    uint8_t reply[256];
    uint8_t data[8] = {};
    plat::SetLastError(0);
    EXPECT_EQ(
        fns.send(handle.h, Address("127.0.0.1"), nullptr, 8, nullptr, reply, sizeof reply, 1000),
        0u);
    EXPECT_EQ(plat::GetLastError(), 87u) << "no request data";
    plat::SetLastError(0);
    EXPECT_EQ(fns.send(handle.h, Address("127.0.0.1"), data, 8, nullptr, nullptr, 256, 1000), 0u);
    EXPECT_EQ(plat::GetLastError(), 87u) << "no reply buffer";
}

TEST_P(IcmpHelperLoopback, ZeroWaitReturnsAtOnceAsTimedOut) {
    CREATE_HANDLE_OR_SKIP(handle, fns);
    const Echo e =
        SendEcho(fns, handle.h, Address("127.0.0.1"), RequestData(NextMarker(), 32), nullptr, 0);
    EXPECT_EQ(e.count, 0u);
    EXPECT_EQ(e.error, kTimedOut);
    EXPECT_LT(e.elapsedMs, 1000) << "a wait of 0 must not block";
    // The answer it left behind does not confuse the next exchange.
    const uint32_t marker = NextMarker();
    const Echo next =
        SendEcho(fns, handle.h, Address("127.0.0.1"), RequestData(marker, 32), nullptr, 2000);
    ASSERT_EQ(next.count, 1u) << "last error " << next.error;
    EXPECT_EQ(MarkerAt(next.data.data()), marker);
}

struct OptionsCase {
    const char* name;
    bool given;
    uint8_t ttl;
    uint8_t tos;
    int wireTtl;  // 0: the system default
};

const OptionsCase kOptionsCases[] = {
    {"ttl 7, tos 0x28", true, 7, 0x28, 7}, {"ttl 255, tos 0xB8", true, 255, 0xB8, 255},
    {"ttl 1, tos 0", true, 1, 0, 1},       {"ttl 0 gives the default", true, 0, 0x10, 0},
    {"no options", false, 0, 0, 0},
};

TEST_P(IcmpHelperLoopback, TtlAndTosReachTheSentDatagram) {
    CREATE_HANDLE_OR_SKIP(handle, fns);
    // A second raw socket sees the request pass through loopback.
    Fd capture{socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)};
    if (capture.fd < 0) GTEST_SKIP() << kNeedRawSockets;
    for (const OptionsCase& c : kOptionsCases) {
        SCOPED_TRACE(c.name);
        const uint32_t marker = NextMarker();
        plat::IP_OPTION_INFORMATION options{c.ttl, c.tos, 0, 0, nullptr};
        const Echo e = SendEcho(fns, handle.h, Address("127.0.0.1"), RequestData(marker, 40),
                                c.given ? &options : nullptr, 2000);
        EXPECT_EQ(e.count, 1u) << "last error " << e.error;
        const std::vector<uint8_t> seen = CaptureRequest(capture.fd, marker);
        ASSERT_FALSE(seen.empty()) << "the request never showed on loopback";
        EXPECT_EQ(seen[8], c.wireTtl != 0 ? c.wireTtl : DefaultTtl()) << "time-to-live";
        EXPECT_EQ(seen[1], c.tos) << "type of service";
        EXPECT_EQ(seen[6] & 0x40, 0) << "don't fragment stays off";
        // The request on the wire: an 8-byte echo header, then exactly the data.
        const size_t ihl = static_cast<size_t>(seen[0] & 0x0F) * 4;
        EXPECT_EQ(seen.size(), ihl + 8 + 40);
        EXPECT_EQ(seen[ihl + 1], 0) << "code";
        EXPECT_EQ(Checksum(seen.data() + ihl, seen.size() - ihl), 0) << "ICMP checksum";
    }
}

TEST_P(IcmpHelperLoopback, ThreadsSharingOrNotSharingAHandleGetTheirOwnAnswers) {
    CREATE_HANDLE_OR_SKIP(shared, fns);
    for (const bool share : {true, false}) {
        SCOPED_TRACE(share ? "one shared handle" : "a handle per thread");
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, share] {
                Handle own{fns};
                void* h = share ? shared.h : own.h;
                for (int i = 0; i < 5; ++i) {
                    const uint32_t marker = NextMarker();
                    const Echo e = SendEcho(fns, h, Address("127.0.0.1"), RequestData(marker, 24),
                                            nullptr, 2000);
                    EXPECT_EQ(e.count, 1u) << "last error " << e.error;
                    if (e.data.size() >= 4) {
                        EXPECT_EQ(MarkerAt(e.data.data()), marker);
                    }
                }
            });
        }
        for (std::thread& t : threads)
            t.join();
    }
}

INSTANTIATE_TEST_SUITE_P(Modules, IcmpHelperLoopback, ::testing::ValuesIn(kModuleNames),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.index == 0 ? "icmp" : "iphlpapi");
                         });

// ---------------------------------------------------------------------------------
// A namespace of the test's own: the kernel stays silent, a responder answers

bool WriteFile(const char* path, const char* text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t n = write(fd, text, strlen(text));
    close(fd);
    return n == static_cast<ssize_t>(strlen(text));
}

bool LoopbackUp() {
    Fd s{socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};
    if (s.fd < 0) return false;
    ifreq ifr{};
    strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (ioctl(s.fd, SIOCGIFFLAGS, &ifr) != 0) return false;
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    return ioctl(s.fd, SIOCSIFFLAGS, &ifr) == 0;
}

// Runs body on a thread of its own in a new network namespace with loopback up and the
// kernel's echo replies off; the namespace ends with the thread. Returns why it could
// not, or empty.
std::string InSilentNamespace(const std::function<void()>& body) {
    std::string why;
    std::thread t([&] {
        if (unshare(CLONE_NEWNET) != 0) {
            why = std::string("cannot create a network namespace: ") + strerror(errno);
            return;
        }
        if (!LoopbackUp()) {
            why = "cannot bring up loopback in the new namespace";
            return;
        }
        if (!WriteFile("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1")) {
            why = "cannot switch off the kernel's echo replies";
            return;
        }
        body();
    });
    t.join();
    return why;
}

enum class Kind {
    Reply,
    ReplyOtherId,
    ReplyOtherSequence,
    ReplyBadChecksum,
    Error,
    ErrorOtherId,
    ErrorOtherSequence,
    ErrorOtherDestination,
    ErrorBadChecksum,
    TimestampReply,
};

struct Scripted {
    Kind kind;
    uint8_t type = 0;
    uint8_t code = 0;
    size_t quotedData = SIZE_MAX;  // request data bytes an error quotes
};

constexpr uint32_t kResponderAddress = 0x7F000002;  // 127.0.0.2, host order

// One answer to the captured request (IPv4 header and echo request).
std::vector<uint8_t> Build(const std::vector<uint8_t>& captured, const Scripted& s) {
    const size_t ihl = static_cast<size_t>(captured[0] & 0x0F) * 4;
    const uint8_t* echo = captured.data() + ihl;
    const size_t echoSize = captured.size() - ihl;
    std::vector<uint8_t> m;
    switch (s.kind) {
        case Kind::Reply:
        case Kind::ReplyOtherId:
        case Kind::ReplyOtherSequence:
        case Kind::ReplyBadChecksum:
            m.assign(echo, echo + echoSize);
            m[0] = 0;
            if (s.kind == Kind::ReplyOtherId) Put16(&m[4], static_cast<uint16_t>(Get16(&m[4]) ^ 1));
            if (s.kind == Kind::ReplyOtherSequence) {
                Put16(&m[6], static_cast<uint16_t>(Get16(&m[6]) + 1));
            }
            break;
        case Kind::TimestampReply:
            m.assign(20, 0);
            m[0] = 14;
            memcpy(&m[4], echo + 4, 4);
            break;
        default: {
            const size_t data = echoSize - 8 < s.quotedData ? echoSize - 8 : s.quotedData;
            m.assign(8, 0);
            m[0] = s.type;
            m[1] = s.code;
            if (s.type == 3 && s.code == 4) Put16(&m[6], 1500);  // next-hop MTU
            m.insert(m.end(), captured.data(), captured.data() + ihl + 8 + data);
            uint8_t* inner = m.data() + 8;
            if (s.kind == Kind::ErrorOtherId) inner[ihl + 4] ^= 0x80;
            if (s.kind == Kind::ErrorOtherSequence) inner[ihl + 7] ^= 0x01;
            if (s.kind == Kind::ErrorOtherDestination) inner[19] ^= 0x02;
            break;
        }
    }
    Put16(&m[2], 0);
    Put16(&m[2], Checksum(m.data(), m.size()));
    if (s.kind == Kind::ReplyBadChecksum || s.kind == Kind::ErrorBadChecksum) m[2] ^= 0x5A;
    return m;
}

// Waits on listener for the request with marker and sends the scripted answers back
// through sender. The request as captured, empty when it never came.
std::vector<uint8_t> Respond(int listener, int sender, uint32_t marker,
                             const std::vector<Scripted>& script) {
    std::vector<uint8_t> captured = CaptureRequest(listener, marker);
    if (captured.empty()) return captured;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    memcpy(&to.sin_addr.s_addr, &captured[12], 4);  // the request's source
    for (const Scripted& s : script) {
        const std::vector<uint8_t> m = Build(captured, s);
        EXPECT_EQ(
            sendto(sender, m.data(), m.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(m.size()))
            << strerror(errno);
    }
    return captured;
}

struct ScriptCase {
    const char* name;
    std::vector<Scripted> answers;  // the one that must match comes last
    uint32_t status;                // kTimedOut: none matches
};

const ScriptCase kScriptCases[] = {
    {"echo reply", {{Kind::Reply}}, plat::IP_SUCCESS},
    // Strays whose status would differ from the answer's, so taking one shows.
    {"strays before the reply",
     {{Kind::ErrorOtherId, 3, 1},
      {Kind::ErrorOtherSequence, 3, 0},
      {Kind::ErrorOtherDestination, 3, 3},
      {Kind::ErrorBadChecksum, 3, 2},
      {Kind::TimestampReply},
      {Kind::Reply}},
     plat::IP_SUCCESS},
    {"strays before the error",
     {{Kind::ReplyOtherId},
      {Kind::ReplyOtherSequence},
      {Kind::ReplyBadChecksum},
      {Kind::TimestampReply},
      {Kind::Error, 11, 0}},
     plat::IP_TTL_EXPIRED_TRANSIT},
    {"only strays", {{Kind::ReplyOtherId}, {Kind::ErrorOtherId, 3, 1}}, kTimedOut},
    {"net unreachable", {{Kind::Error, 3, 0}}, plat::IP_DEST_NET_UNREACHABLE},
    {"host unreachable", {{Kind::Error, 3, 1}}, plat::IP_DEST_HOST_UNREACHABLE},
    {"protocol unreachable", {{Kind::Error, 3, 2}}, plat::IP_DEST_PROT_UNREACHABLE},
    {"port unreachable", {{Kind::Error, 3, 3}}, plat::IP_DEST_PORT_UNREACHABLE},
    {"fragmentation needed", {{Kind::Error, 3, 4}}, plat::IP_PACKET_TOO_BIG},
    {"source route failed", {{Kind::Error, 3, 5}}, plat::IP_DEST_HOST_UNREACHABLE},
    {"administratively prohibited", {{Kind::Error, 3, 13}}, plat::IP_DEST_HOST_UNREACHABLE},
    {"ttl expired in transit", {{Kind::Error, 11, 0}}, plat::IP_TTL_EXPIRED_TRANSIT},
    {"ttl expired in reassembly", {{Kind::Error, 11, 1}}, plat::IP_TTL_EXPIRED_REASSEM},
    {"error quoting 8 data bytes", {{Kind::Error, 3, 1, 8}}, plat::IP_DEST_HOST_UNREACHABLE},
    {"error quoting no data", {{Kind::Error, 3, 1, 0}}, plat::IP_DEST_HOST_UNREACHABLE},
};

void PrintTo(const ScriptCase& c, std::ostream* os) {
    *os << c.name;
}

class IcmpHelperScripted : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(IcmpHelperScripted, AnswerIsRecordedAsTheCallerExpects) {
    const ScriptCase& c = GetParam();
    HelperFunctions fns;
    ASSERT_TRUE(Bind("Iphlpapi.dll", &fns));
    constexpr size_t kRequestSize = 60;
    const uint32_t marker = NextMarker();
    const std::vector<uint8_t> request = RequestData(marker, kRequestSize);
    const uint32_t timeout = c.status == kTimedOut ? 300 : 3000;
    bool noRawSockets = false;
    Echo e;
    std::vector<uint8_t> captured;
    const std::string why = InSilentNamespace([&] {
        Handle handle{fns};
        // A raw socket bound to an address sees only datagrams to that address, so the
        // responder listens on one socket and answers from 127.0.0.2 through another.
        Fd listener{socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)};
        Fd sender{socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)};
        if (!handle.valid() || listener.fd < 0 || sender.fd < 0) {
            noRawSockets = true;
            return;
        }
        sockaddr_in self{};
        self.sin_family = AF_INET;
        self.sin_addr.s_addr = htonl(kResponderAddress);
        ASSERT_EQ(bind(sender.fd, reinterpret_cast<sockaddr*>(&self), sizeof self), 0);
        std::thread answering(
            [&] { captured = Respond(listener.fd, sender.fd, marker, c.answers); });
        e = SendEcho(fns, handle.h, Address("127.0.0.1"), request, nullptr, timeout);
        answering.join();
    });
    if (!why.empty()) GTEST_SKIP() << why;
    if (noRawSockets) GTEST_SKIP() << kNeedRawSockets;
    ASSERT_FALSE(captured.empty()) << "the responder never saw the request";

    if (c.status == kTimedOut) {
        EXPECT_EQ(e.count, 0u);
        EXPECT_EQ(e.error, kTimedOut);
        EXPECT_GE(e.elapsedMs, timeout);
        return;
    }
    ASSERT_EQ(e.count, 1u) << "last error " << e.error;
    EXPECT_EQ(e.record.Status, c.status);
    EXPECT_EQ(e.record.Address, htonl(kResponderAddress));
    EXPECT_NE(e.record.Options.Ttl, 0);
    ASSERT_TRUE(e.dataInBuffer);
    if (c.status == plat::IP_SUCCESS) {
        EXPECT_EQ(e.data, request);
        return;
    }
    // The error behind its 4-byte header, without the echo identifier and sequence.
    const Scripted& last = c.answers.back();
    const size_t quoted = last.quotedData < kRequestSize ? last.quotedData : kRequestSize;
    ASSERT_EQ(e.data.size(), 4 + 20 + 4 + quoted);
    const uint8_t unused[4] = {0, 0, static_cast<uint8_t>(last.code == 4 ? 0x05 : 0),
                               static_cast<uint8_t>(last.code == 4 ? 0xDC : 0)};
    EXPECT_EQ(memcmp(e.data.data(), unused, 4), 0) << "the unused or MTU field";
    EXPECT_EQ(memcmp(e.data.data() + 4, captured.data(), 20), 0) << "the original IPv4 header";
    EXPECT_EQ(memcmp(e.data.data() + 24, captured.data() + 20, 4), 0) << "type, code, checksum";
    EXPECT_EQ(memcmp(e.data.data() + 28, request.data(), quoted), 0) << "the request data";
    if (quoted >= 4) {
        EXPECT_EQ(MarkerAt(e.data.data() + 28), marker);
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, IcmpHelperScripted, ::testing::ValuesIn(kScriptCases),
                         [](const ::testing::TestParamInfo<ScriptCase>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p != '\0'; ++p) {
                                 if (isalnum(static_cast<unsigned char>(*p))) name += *p;
                             }
                             return name;
                         });

TEST(IcmpHelperSilentHost, NothingAnswersWithinTheWait) {
    HelperFunctions fns;
    ASSERT_TRUE(Bind("icmp.dll", &fns));
    constexpr uint32_t kTimeout = 400;
    bool noRawSockets = false;
    Echo e;
    const std::string why = InSilentNamespace([&] {
        Handle handle{fns};
        if (!handle.valid()) {
            noRawSockets = true;
            return;
        }
        e = SendEcho(fns, handle.h, Address("127.0.0.1"), RequestData(NextMarker(), 32), nullptr,
                     kTimeout);
    });
    if (!why.empty()) GTEST_SKIP() << why;
    if (noRawSockets) GTEST_SKIP() << kNeedRawSockets;
    EXPECT_EQ(e.count, 0u);
    EXPECT_EQ(e.error, kTimedOut);
    EXPECT_GE(e.elapsedMs, kTimeout);
}

}  // namespace
