#include "tests/support/test_hosts.h"

#include <sys/stat.h>

#include <cstdlib>

namespace test {

std::string TestHostsPrefix() {
    const char* prefix = std::getenv("CORVANE_TEST_NETNS");
    return prefix != nullptr ? prefix : "";
}

std::string WhyNoTestHosts() {
    const std::string prefix = TestHostsPrefix();
    if (prefix.empty()) return "CORVANE_TEST_NETNS is not set: run through ctest";
    struct stat mine {};
    struct stat pinger {};
    if (stat(("/run/netns/" + prefix + "-p").c_str(), &pinger) != 0) {
        return "the test host namespaces are missing (creating them needs root)";
    }
    if (stat("/proc/self/ns/net", &mine) != 0 || mine.st_ino != pinger.st_ino ||
        mine.st_dev != pinger.st_dev) {
        return "not running inside the pinger namespace";
    }
    return "";
}

}  // namespace test
