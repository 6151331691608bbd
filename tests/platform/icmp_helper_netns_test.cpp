// The ICMP helper functions against the test hosts of tests/netns/icmp_hosts.sh: this
// program runs inside the pinger namespace, whose only routes lead to the router
// namespace, so nothing it sends leaves the machine. A router's error must come back as
// one record, with the caller's data where the engine looks for them.
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "tests/platform/icmp_helper_test_support.h"
#include "tests/support/test_hosts.h"

namespace {

using test::hosts::kRouter;

using namespace icmptest;

struct RouterCase {
    const char* name;
    const char* module;
    const char* destination;
    uint32_t status;  // IP_REQ_TIMED_OUT: nothing answers
};

const RouterCase kRouterCases[] = {
    {"the router itself answers", "icmp.dll", kRouter, plat::IP_SUCCESS},
    {"unreachable route", "icmp.dll", "203.0.113.5", plat::IP_DEST_HOST_UNREACHABLE},
    {"unreachable route", "IPHLPAPI.DLL", "203.0.113.6", plat::IP_DEST_HOST_UNREACHABLE},
    {"prohibit route", "icmp.dll", "198.51.100.130", plat::IP_DEST_HOST_UNREACHABLE},
    // The router has no route at all for the rest of 198.51.100.0/24.
    {"no route at the router", "IPHLPAPI.DLL", "198.51.100.10", plat::IP_DEST_NET_UNREACHABLE},
    {"blackhole route is silent", "IPHLPAPI.DLL", "198.51.100.70", plat::IP_REQ_TIMED_OUT},
};

// The router's kernel sends these errors in a burst of five, then one a second per
// pinger (a host-wide setting, net.ipv4.route.error_cost), shared with the other tests
// of these hosts: an error that did not come is asked for again, a few times.
constexpr int kErrorAttempts = 4;

class IcmpHelperRouter : public ::testing::TestWithParam<RouterCase> {
  protected:
    void SetUp() override {
        const std::string why = test::WhyNoTestHosts();
        if (!why.empty()) GTEST_SKIP() << why;
    }
};

TEST_P(IcmpHelperRouter, AnswerBecomesOneRecordOrNone) {
    const RouterCase& c = GetParam();
    HelperFunctions fns;
    ASSERT_TRUE(Bind(c.module, &fns));
    CREATE_HANDLE_OR_SKIP(handle, fns);
    const bool silent = c.status == plat::IP_REQ_TIMED_OUT;
    const bool error = !silent && c.status != plat::IP_SUCCESS;
    const uint32_t timeout = silent ? 500 : 1500;
    const uint32_t marker = NextMarker();
    const std::vector<uint8_t> request = RequestData(marker, 60);
    plat::IP_OPTION_INFORMATION options{255, 8, 0, 0, nullptr};
    Echo e;
    for (int attempt = 0; attempt < (error ? kErrorAttempts : 1); ++attempt) {
        e = SendEcho(fns, handle.h, Address(c.destination), request, &options, timeout);
        if (e.count != 0 || e.error != plat::IP_REQ_TIMED_OUT) break;
    }
    if (silent) {
        EXPECT_EQ(e.count, 0u);
        EXPECT_EQ(e.error, plat::IP_REQ_TIMED_OUT);
        EXPECT_GE(e.elapsedMs, timeout);
        return;
    }
    ASSERT_EQ(e.count, 1u) << "last error " << e.error;
    EXPECT_EQ(e.record.Status, c.status);
    EXPECT_EQ(e.record.Address, Address(kRouter));
    ASSERT_TRUE(e.dataInBuffer);
    if (!error) {
        EXPECT_EQ(e.data, request);
        return;
    }
    // The engine finds its RequestId at bytes 28 to 31 of an error's data.
    ASSERT_GE(e.data.size(), 32u);
    EXPECT_EQ(MarkerAt(e.data.data() + 28), marker);
    EXPECT_EQ(e.data[4], 0x45) << "the original IPv4 header";
    const uint32_t destination = Address(c.destination);
    EXPECT_EQ(memcmp(e.data.data() + 4 + 16, &destination, 4), 0) << "its destination";
    EXPECT_EQ(e.data[24], 8) << "the original echo request type";
}

void PrintTo(const RouterCase& c, std::ostream* os) {
    *os << c.name << " through " << c.module;
}

INSTANTIATE_TEST_SUITE_P(Hosts, IcmpHelperRouter, ::testing::ValuesIn(kRouterCases),
                         [](const ::testing::TestParamInfo<RouterCase>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p != '\0'; ++p) {
                                 if (isalnum(static_cast<unsigned char>(*p))) name += *p;
                             }
                             return name + "_" + std::to_string(info.index);
                         });

}  // namespace
