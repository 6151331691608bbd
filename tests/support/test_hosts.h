// The namespace test hosts that tests/netns/icmp_hosts.sh builds: their name prefix, and
// whether this process runs inside the pinger namespace.
#pragma once

#include <string>

namespace test {

// The addresses of the hosts, as the fixture script gives them.
namespace hosts {
inline constexpr const char* kPinger = "198.51.100.1";
inline constexpr const char* kPinger6 = "2001:db8:1::1";
inline constexpr const char* kRouter = "198.51.100.2";
inline constexpr const char* kRouter6 = "2001:db8:1::2";
inline constexpr const char* kHost = "198.51.100.20";  // its kernel answers
inline constexpr const char* kHost6 = "2001:db8:16::20";
inline constexpr const char* kResponder = "198.51.100.40";  // icmp_responder answers
inline constexpr const char* kResponder6 = "2001:db8:32::40";
inline constexpr const char* kUnreachable = "203.0.113.5";  // the router: host unreachable
inline constexpr const char* kUnreachable6 = "2001:db8:203::5";
inline constexpr const char* kProhibited = "198.51.100.130";  // the router: prohibited
inline constexpr const char* kProhibited6 = "2001:db8:198::5";
inline constexpr const char* kSilent = "198.51.100.70";  // blackholed by the router
inline constexpr const char* kSilent6 = "2001:db8:64::70";
}  // namespace hosts

// The prefix ctest hands over in CORVANE_TEST_NETNS, empty when there is none.
std::string TestHostsPrefix();
// Why the test hosts cannot be used, or empty when this process is in the pinger.
std::string WhyNoTestHosts();

}  // namespace test
