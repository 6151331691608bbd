// The namespace test hosts that tests/netns/icmp_hosts.sh builds: their name prefix, and
// whether this process runs inside the pinger namespace.
#pragma once

#include <string>

namespace test {

// The prefix ctest hands over in CORVANE_TEST_NETNS, empty when there is none.
std::string TestHostsPrefix();
// Why the test hosts cannot be used, or empty when this process is in the pinger.
std::string WhyNoTestHosts();

}  // namespace test
