#include "app/console/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <vector>

namespace app {

namespace {

constexpr char kDescription[] =
    "Sends ICMP echo requests to HOST and prints one line per reply or error, as the\n"
    "window \"\xE5\xB7\xA5\xE5\x85\xB7 - PING\" lists them:\n"
    "  127.0.0.1 : OK \xEF\xBC\x8Ctime=0ms\n"
    "With a display and no option but HOST, the window opens with HOST in its host field;\n"
    "otherwise the requests go out from the terminal, one after another, and a run ends\n"
    "with its statistics.\n";

constexpr char kFooter[] =
    "\nHOST: a dotted IPv4 address (the window's rule: 1.2.3.4, 0x7F.0.0.1), an IPv6\n"
    "address, or a name. The window takes dotted IPv4 addresses only.\n"
    "\n"
    "Exit status: 0 when an echo reply came, 1 when none did, 2 for a bad command line, a\n"
    "bad address or a name that does not resolve.\n"
#if defined(_WIN32)
    "\nRaw ICMP sockets need an administrator.\n";
#else
    "\nWithout root the tool pings through ICMP datagram sockets where\n"
    "net.ipv4.ping_group_range admits the user's group; otherwise it needs root. See\n"
    "pingtool(1) for the remedies.\n";
#endif

int32_t Milliseconds(double seconds) {
    return static_cast<int32_t>(std::lround(seconds * 1000.0));
}

}  // namespace

CommandLine ParseCommandLine(int argc, char** argv) {
    CommandLine line;
    if (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') line.program = argv[0];

    CLI::App app{kDescription, "pingtool"};
    app.footer(kFooter);
    app.set_help_flag("-h,--help", "Shows this text");
    std::vector<std::string> hosts;
    app.add_option("HOST", hosts,
                   "The host to ping; a second one is ignored, as the window "
                   "ignores it");
    app.add_flag("--console", line.console, "Runs in the terminal, also with a display");
    int32_t count = 0;
    double interval = 0;
    int32_t size = 0;
    int32_t ttl = 0;
    double timeout = 0;
    std::string pmtu;
    bool v4 = false;
    bool v6 = false;
    CLI::Option* options[] = {
        app.add_option("-c,--count", count,
                       "Sends N requests (default 11: the window's count "
                       "10, plus one)")
            ->type_name("N")
            ->check(CLI::Range(1, 1000000)),
        app.add_option("-i,--interval", interval, "Pauses SECONDS after each request (0.1)")
            ->type_name("SECONDS")
            ->check(CLI::Range(0.0, 3600.0)),
        app.add_option("-s,--size", size,
                       "Sends BYTES of data behind the 8-byte echo header "
                       "(56)")
            ->type_name("BYTES")
            ->check(CLI::Range(0, 65507)),
        app.add_option("-t,--ttl", ttl, "Sends with the time to live N (the system's)")
            ->type_name("N")
            ->check(CLI::Range(1, 255)),
        app.add_option("-W,--timeout", timeout, "Waits SECONDS for each reply (3)")
            ->type_name("SECONDS")
            ->check(CLI::Range(0.001, 2147.483)),
        app.add_option("-M,--pmtudisc", pmtu, "do: sets the don't-fragment flag; dont: not")
            ->type_name("do|dont")
            ->check(CLI::IsMember({"do", "dont"})),
        app.add_flag("-4", v4, "Pings over IPv4 only"),
        app.add_flag("-6", v6, "Pings over IPv6; names resolve to IPv6 addresses"),
    };
    options[6]->excludes(options[7]);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        line.help = true;
        line.helpText = app.help();
        return line;
    } catch (const CLI::ParseError& e) {
        line.error = e.what();
        return line;
    }

    if (!hosts.empty()) line.host = hosts.front();
    for (const CLI::Option* option : options)
        line.console = line.console || option->count() > 0;
    if (options[0]->count() > 0) line.requests = count;
    if (options[1]->count() > 0) line.pauseMs = Milliseconds(interval);
    if (options[2]->count() > 0) line.packetSize = size + 8;
    if (options[3]->count() > 0) line.timeToLive = ttl;
    if (options[4]->count() > 0) line.timeoutMs = std::max(1, Milliseconds(timeout));
    if (options[5]->count() > 0) line.dontFragment = pmtu == "do";
    if (v4) line.family = AddressFamily::kIpv4;
    if (v6) line.family = AddressFamily::kIpv6;
    return line;
}

}  // namespace app
