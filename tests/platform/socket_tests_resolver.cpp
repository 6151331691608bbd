// Address parsing and the resolver functions of the built-in "ws2_32.dll", with Windows
// numbers and layouts. Only literals, "localhost" and names of /etc/hosts are resolved,
// so no query leaves the machine.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/platform/socket_tests_support.h"

namespace {

using namespace sockettest;

constexpr int kAiNumericHost = 0x4;
constexpr int kAiCanonName = 0x2;
constexpr int kNiNumericServ = 0x8;

// Whether /etc/hosts maps name to 127.0.0.1, so that resolving it stays on the machine.
bool HostsFileMaps(const char* name) {
    std::ifstream hosts("/etc/hosts");
    std::string line;
    while (std::getline(hosts, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string address;
        if (!(words >> address) || address != "127.0.0.1") continue;
        std::string alias;
        while (words >> alias) {
            if (alias == name) return true;
        }
    }
    return false;
}

TEST(socketInetAddr, ParsesLikeWindows) {
    struct Case {
        const char* text;
        uint32_t hostOrder;  // the expected value, most significant byte first
        bool valid;
    };
    const Case cases[] = {
        {"127.0.0.1", 0x7F000001, true},
        {"192.168.1.254", 0xC0A801FE, true},
        {"0.0.0.0", 0, true},
        {"255.255.255.254", 0xFFFFFFFE, true},
        {"10.1", 0x0A000001, true},    // a.b: b fills 24 bits
        {"10.1.2", 0x0A010002, true},  // a.b.c: c fills 16 bits
        {"10.1.65535", 0x0A01FFFF, true},
        {"167772161", 0x0A000001, true},  // one 32-bit number
        {"0x7f.1", 0x7F000001, true},     // hex
        {"0X7F.0X0.0X0.0X1", 0x7F000001, true},
        {"0177.0.0.01", 0x7F000001, true},  // octal
        {"010.010.010.010", 0x08080808, true},
        {"1.2.3.4 trailing", 0x01020304, true},  // white space ends the text
        {"4294967295", 0xFFFFFFFF, true},        // INADDR_NONE's own value
        {"255.255.255.255", 0xFFFFFFFF, true},
        {"", 0xFFFFFFFF, false},
        {" 1.2.3.4", 0xFFFFFFFF, false},
        {"1.2.3.256", 0xFFFFFFFF, false},
        {"1.2.3.4.5", 0xFFFFFFFF, false},
        {"1.2.3.", 0xFFFFFFFF, false},
        {"1..3.4", 0xFFFFFFFF, false},
        {"1.2.3.4x", 0xFFFFFFFF, false},
        {"08.1.1.1", 0xFFFFFFFF, false},  // 8 is no octal digit
        {"0x", 0xFFFFFFFF, false},
        {"1.16777216", 0xFFFFFFFF, false},
        {"1.2.65536", 0xFFFFFFFF, false},
        {"4294967296", 0xFFFFFFFF, false},
        {"example", 0xFFFFFFFF, false},
    };
    for (const Case& c : cases) {
        const uint32_t got = plat::inet_addr(c.text);
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&got);
        const uint32_t hostOrder = Get32(b);  // the result is in network order
        EXPECT_EQ(hostOrder, c.hostOrder) << '"' << c.text << '"';
        if (!c.valid) {
            EXPECT_EQ(got, plat::INADDR_NONE) << '"' << c.text << '"';
        }
    }
    EXPECT_EQ(plat::inet_addr(nullptr), plat::INADDR_NONE);
}

TEST(socketModule, Ws2_32GivesTheResolverFunctions) {
    for (const char* name : {"ws2_32.dll", "WS2_32.DLL", "Ws2_32.dll", "ws2_32",
                             "C:\\Windows\\System32\\ws2_32.dll"}) {
        void* module = plat::LoadLibraryA(name);
        ASSERT_NE(module, nullptr) << name;
        for (const char* function :
             {"getaddrinfo", "freeaddrinfo", "getnameinfo", "gethostbyaddr"}) {
            EXPECT_NE(plat::GetProcAddress(module, function), nullptr) << name << " " << function;
        }
        EXPECT_EQ(plat::GetProcAddress(module, "GetAddrInfo"), nullptr) << "case matters";
        EXPECT_EQ(plat::GetProcAddress(module, "no_such_function"), nullptr);
        EXPECT_TRUE(plat::FreeLibrary(module));
    }
    EXPECT_EQ(plat::LoadLibraryA("ws2_32.dll.so"), nullptr);
}

class socketResolver : public WinsockTest {
  protected:
    void SetUp() override {
        WinsockTest::SetUp();
        ASSERT_NE(r.getaddrinfo, nullptr);
        ASSERT_NE(r.freeaddrinfo, nullptr);
        ASSERT_NE(r.getnameinfo, nullptr);
        ASSERT_NE(r.gethostbyaddr, nullptr);
    }
    Resolver r;
};

TEST_F(socketResolver, Ipv4LiteralInWindowsLayout) {
    plat::addrinfo hints{};
    hints.ai_family = plat::AF_INET;
    hints.ai_socktype = plat::SOCK_STREAM;
    plat::addrinfo* found = nullptr;
    ASSERT_EQ(r.getaddrinfo("192.0.2.7", nullptr, &hints, &found), 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->ai_family, plat::AF_INET);
    EXPECT_EQ(found->ai_socktype, plat::SOCK_STREAM);
    ASSERT_EQ(found->ai_addrlen, 16u);
    const auto* a = static_cast<const plat::sockaddr_in*>(found->ai_addr);
    EXPECT_EQ(a->sin_family, plat::AF_INET);
    EXPECT_EQ(a->sin_addr, plat::inet_addr("192.0.2.7"));
    EXPECT_EQ(found->ai_next, nullptr);
    r.freeaddrinfo(found);
    r.freeaddrinfo(nullptr);
}

TEST_F(socketResolver, Ipv6LiteralIsFamily23WithItsScope) {
    plat::addrinfo hints{};
    hints.ai_socktype = plat::SOCK_DGRAM;
    plat::addrinfo* found = nullptr;
    ASSERT_EQ(r.getaddrinfo("fe80::1%12", nullptr, &hints, &found), 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->ai_family, plat::AF_INET6);
    ASSERT_EQ(found->ai_addrlen, 28u);
    const auto* a = static_cast<const plat::sockaddr_in6*>(found->ai_addr);
    EXPECT_EQ(a->sin6_family, plat::AF_INET6);
    EXPECT_EQ(a->sin6_addr[0], 0xFE);
    EXPECT_EQ(a->sin6_addr[1], 0x80);
    EXPECT_EQ(a->sin6_addr[15], 1);
    EXPECT_EQ(a->sin6_scope_id, 12u);
    r.freeaddrinfo(found);
}

TEST_F(socketResolver, ServiceGivesThePortAndCanonicalNameIsKept) {
    plat::addrinfo hints{};
    hints.ai_family = plat::AF_INET;
    hints.ai_socktype = plat::SOCK_DGRAM;
    hints.ai_flags = kAiCanonName | kAiNumericHost;
    plat::addrinfo* found = nullptr;
    ASSERT_EQ(r.getaddrinfo("127.0.0.1", "4242", &hints, &found), 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(PortOf(found->ai_addr), 4242);
    ASSERT_NE(found->ai_canonname, nullptr);
    EXPECT_STREQ(found->ai_canonname, "127.0.0.1");
    r.freeaddrinfo(found);
}

TEST_F(socketResolver, LocalhostFromTheHostsFile) {
    if (!HostsFileMaps("localhost")) GTEST_SKIP() << "/etc/hosts does not map localhost";
    plat::addrinfo hints{};
    hints.ai_family = plat::AF_INET;  // /etc/hosts answers; no IPv6 query goes out
    plat::addrinfo* found = nullptr;
    ASSERT_EQ(r.getaddrinfo("localhost", nullptr, &hints, &found), 0);
    ASSERT_NE(found, nullptr);
    bool loopback = false;
    for (const plat::addrinfo* a = found; a != nullptr; a = a->ai_next) {
        EXPECT_EQ(a->ai_family, plat::AF_INET);
        loopback |= static_cast<const plat::sockaddr_in*>(a->ai_addr)->sin_addr ==
                    plat::inet_addr("127.0.0.1");
    }
    EXPECT_TRUE(loopback);
    r.freeaddrinfo(found);
}

TEST_F(socketResolver, FailuresHaveWindowsNumbers) {
    struct Case {
        const char* what;
        const char* node;
        const char* service;
        int family, socktype, flags;
        int expected;
    };
    const Case cases[] = {
        // No IPv4-mapped addresses are asked for: not found, as on Windows.
        {"IPv4 literal as IPv6", "127.0.0.1", nullptr, plat::AF_INET6, 0, 0, 11001},
        {"numeric host that is a name", "no-such-host", nullptr, plat::AF_INET, 0, kAiNumericHost,
         11001},
        {"neither node nor service", nullptr, nullptr, 0, 0, 0, 11001},
        {"unknown family", "127.0.0.1", nullptr, 99, 0, 0, kWsaEafnosupport},
        {"unknown socket type", "127.0.0.1", nullptr, plat::AF_INET, 99, 0, kWsaEsocktnosupport},
        {"unknown flag", "127.0.0.1", nullptr, plat::AF_INET, 0, 0x40000000, plat::kWsaEinval},
        {"unknown service", "127.0.0.1", "no-such-service-name", plat::AF_INET, plat::SOCK_STREAM,
         0, kWsaTypeNotFound},
    };
    for (const Case& c : cases) {
        plat::addrinfo hints{};
        hints.ai_family = c.family;
        hints.ai_socktype = c.socktype;
        hints.ai_flags = c.flags;
        plat::addrinfo* found = reinterpret_cast<plat::addrinfo*>(1);
        EXPECT_EQ(r.getaddrinfo(c.node, c.service, &hints, &found), c.expected) << c.what;
        EXPECT_EQ(found, nullptr) << c.what;
        EXPECT_EQ(plat::WSAGetLastError(), c.expected) << c.what;
    }
}

TEST_F(socketResolver, NumericNamesLikeWindows) {
    struct Case {
        const char* text;  // resolved as a numeric literal first
        uint32_t scope;
        const char* expected;
    };
    const Case cases[] = {
        {"::1", 0, "::1"},
        {"fe80::1", 12, "fe80::1%12"},
        {"fe80::1", 1, "fe80::1%1"},  // interface 1 (lo) still reads as a number
        {"2001:db8::5", 7, "2001:db8::5%7"},
        {"2001:db8::5", 0, "2001:db8::5"},
    };
    for (const Case& c : cases) {
        plat::sockaddr_in6 a = V6(c.text);
        ASSERT_EQ(a.sin6_family, plat::AF_INET6) << c.text;
        a.sin6_scope_id = c.scope;
        char host[60];
        ASSERT_EQ(r.getnameinfo(&a, sizeof a, host, sizeof host, nullptr, 0, plat::NI_NUMERICHOST),
                  0)
            << c.text;
        EXPECT_STREQ(host, c.expected);
    }
    const plat::sockaddr_in v4 = V4("192.0.2.9", 8080);
    char host[60];
    char service[16];
    ASSERT_EQ(r.getnameinfo(&v4, sizeof v4, host, sizeof host, service, sizeof service,
                            plat::NI_NUMERICHOST | kNiNumericServ),
              0);
    EXPECT_STREQ(host, "192.0.2.9");
    EXPECT_STREQ(service, "8080");
}

TEST_F(socketResolver, NameInfoFailures) {
    const plat::sockaddr_in v4 = V4("192.0.2.9");
    plat::sockaddr_in weird = v4;
    weird.sin_family = 99;
    char host[60];
    char tiny[4];
    struct Case {
        const char* what;
        int result;
        int expected;
    };
    const Case cases[] = {
        {"short address", r.getnameinfo(&v4, 8, host, sizeof host, nullptr, 0, 2),
         plat::kWsaEfault},
        {"unknown family", r.getnameinfo(&weird, sizeof weird, host, sizeof host, nullptr, 0, 2),
         kWsaEafnosupport},
        {"host buffer too small", r.getnameinfo(&v4, sizeof v4, tiny, sizeof tiny, nullptr, 0, 2),
         plat::kWsaEfault},
        {"nothing asked for", r.getnameinfo(&v4, sizeof v4, nullptr, 0, nullptr, 0, 2), 11001},
        {"unknown flag", r.getnameinfo(&v4, sizeof v4, host, sizeof host, nullptr, 0, 0x100),
         plat::kWsaEinval},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, c.expected) << c.what;
}

TEST_F(socketResolver, HostByAddressFromTheHostsFile) {
    if (!HostsFileMaps("localhost")) GTEST_SKIP() << "/etc/hosts does not map 127.0.0.1";
    const uint32_t loopback = plat::inet_addr("127.0.0.1");
    const plat::hostent* h =
        r.gethostbyaddr(reinterpret_cast<const char*>(&loopback), 4, plat::AF_INET);
    ASSERT_NE(h, nullptr) << plat::WSAGetLastError();
    ASSERT_NE(h->h_name, nullptr);
    EXPECT_GT(strlen(h->h_name), 0u);
    EXPECT_EQ(h->h_addrtype, plat::AF_INET);
    EXPECT_EQ(h->h_length, 4);
    ASSERT_NE(h->h_addr_list[0], nullptr);
    EXPECT_EQ(memcmp(h->h_addr_list[0], &loopback, 4), 0);
    EXPECT_EQ(h->h_addr_list[1], nullptr);
    EXPECT_EQ(r.gethostbyaddr(reinterpret_cast<const char*>(&loopback), 3, plat::AF_INET), nullptr);
    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEfault);
    EXPECT_EQ(r.gethostbyaddr(reinterpret_cast<const char*>(&loopback), 4, 99), nullptr);
    EXPECT_EQ(plat::WSAGetLastError(), kWsaEafnosupport);
}

class socketHostByName : public WinsockTest {};

TEST_F(socketHostByName, LiteralInWindowsLayout) {
    const plat::hostent* h = plat::gethostbyname("192.0.2.77");
    ASSERT_NE(h, nullptr) << plat::WSAGetLastError();
    EXPECT_STREQ(h->h_name, "192.0.2.77");
    EXPECT_EQ(h->h_addrtype, 2);
    EXPECT_EQ(h->h_length, 4);
    ASSERT_NE(h->h_aliases, nullptr);
    EXPECT_EQ(h->h_aliases[0], nullptr);
    ASSERT_NE(h->h_addr_list[0], nullptr);
    const uint32_t expected = plat::inet_addr("192.0.2.77");
    EXPECT_EQ(memcmp(h->h_addr_list[0], &expected, 4), 0);
    EXPECT_EQ(h->h_addr_list[1], nullptr);
}

TEST_F(socketHostByName, Localhost) {
    if (!HostsFileMaps("localhost")) GTEST_SKIP() << "/etc/hosts does not map localhost";
    const plat::hostent* h = plat::gethostbyname("localhost");
    ASSERT_NE(h, nullptr) << plat::WSAGetLastError();
    EXPECT_EQ(h->h_addrtype, 2);
    EXPECT_EQ(h->h_length, 4);
    ASSERT_NE(h->h_addr_list[0], nullptr);
    const uint32_t loopback = plat::inet_addr("127.0.0.1");
    EXPECT_EQ(memcmp(h->h_addr_list[0], &loopback, 4), 0);
}

// Each thread has a result of its own, as with Windows.
TEST_F(socketHostByName, ResultBelongsToTheCallingThread) {
    const plat::hostent* mine = plat::gethostbyname("192.0.2.1");
    ASSERT_NE(mine, nullptr);
    std::thread other([] {
        for (int i = 0; i < 50; ++i) {
            const plat::hostent* h = plat::gethostbyname("198.51.100.200");
            ASSERT_NE(h, nullptr);
        }
    });
    other.join();
    EXPECT_STREQ(mine->h_name, "192.0.2.1");
    const uint32_t expected = plat::inet_addr("192.0.2.1");
    EXPECT_EQ(memcmp(mine->h_addr_list[0], &expected, 4), 0);
}

}  // namespace
