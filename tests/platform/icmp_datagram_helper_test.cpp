// The ICMP helper functions for a user without the privilege for raw sockets, in the
// same setting as icmp_datagram_netns_test.cpp: the handle must be created (an ICMP
// datagram socket stands in), where as root the raw socket serves.
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/platform/icmp_helper_test_support.h"
#include "tests/support/test_hosts.h"

namespace {

using test::hosts::kRouter;

using namespace icmptest;

// The router's ration of IPv4 errors, shared with the other tests of these hosts.
constexpr int kErrorAttempts = 4;

// The helper functions ("icmp.dll") work for this user as well, on a socket of the same
// kind: a reply, a router's error with the caller's data where the engine looks, a
// silent host's time-out.
TEST(UnprivilegedHelper, EchoesErrorsAndTimeOuts) {
    const std::string why = test::WhyNoTestHosts();
    if (!why.empty()) GTEST_SKIP() << why;
    if (geteuid() == 0) GTEST_SKIP() << "runs as an unprivileged user";
    HelperFunctions fns;
    ASSERT_TRUE(Bind("icmp.dll", &fns));
    Handle handle(fns);
    ASSERT_TRUE(handle.valid()) << "IcmpCreateFile failed with " << handle.createError;
    struct Row {
        const char* host;
        uint32_t status;
        const char* from;
    };
    const Row rows[] = {
        {"127.0.0.1", plat::IP_SUCCESS, "127.0.0.1"},
        {"198.51.100.20", plat::IP_SUCCESS, "198.51.100.20"},
        {"203.0.113.7", plat::IP_DEST_HOST_UNREACHABLE, kRouter},
        {"198.51.100.70", plat::IP_REQ_TIMED_OUT, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.host);
        const uint32_t marker = NextMarker();
        const std::vector<uint8_t> request = RequestData(marker, 56);
        plat::IP_OPTION_INFORMATION options{255, 8, 0, 0, nullptr};
        const bool error = row.status != plat::IP_SUCCESS && row.status != plat::IP_REQ_TIMED_OUT;
        Echo e;
        for (int attempt = 0; attempt < (error ? kErrorAttempts : 1); ++attempt) {
            e = SendEcho(fns, handle.h, Address(row.host), request, &options,
                         row.status == plat::IP_REQ_TIMED_OUT ? 400 : 1500);
            if (e.count != 0) break;
        }
        if (row.status == plat::IP_REQ_TIMED_OUT) {
            EXPECT_EQ(e.count, 0u);
            EXPECT_EQ(e.error, plat::IP_REQ_TIMED_OUT);
            EXPECT_GE(e.elapsedMs, 400);
            continue;
        }
        ASSERT_EQ(e.count, 1u) << "last error " << e.error;
        EXPECT_EQ(e.record.Status, row.status);
        EXPECT_EQ(e.record.Address, Address(row.from));
        if (!error) {
            EXPECT_EQ(e.data, request);
            EXPECT_GT(e.record.Options.Ttl, 0);
        } else {
            ASSERT_GE(e.data.size(), 32u);
            EXPECT_EQ(MarkerAt(e.data.data() + 28), marker);
        }
    }
}

}  // namespace
