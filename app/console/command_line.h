// The tool's command line: the window's host, or a console run with the options ping's
// users know.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace app {

enum class AddressFamily { kAny, kIpv4, kIpv6 };

struct CommandLine {
    std::string program = "pingtool";
    std::optional<std::string> host;  // the first argument that is no option
    bool console = false;             // --console, or any option of a console run
    bool help = false;
    std::string helpText;
    std::string error;  // what is wrong with a bad command line (exit status 2)

    // The console run; what is not given stays as the window has it.
    int32_t requests = 11;  // the window's count 10, plus one
    int32_t pauseMs = 100;
    std::optional<int32_t> packetSize;  // of the ICMP message: the data bytes + 8
    std::optional<int32_t> timeToLive;
    std::optional<int32_t> timeoutMs;  // per request
    std::optional<bool> dontFragment;
    AddressFamily family = AddressFamily::kAny;
};

CommandLine ParseCommandLine(int argc, char** argv);

}  // namespace app
