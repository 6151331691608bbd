#include "app/console/console_run.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "app/console/console_view.h"
#include "app/console/statistics_block.h"
#include "app/define/define.h"
#include "app/unit1/is_valid_ipv4.h"
#include "app/unit1/unit1.h"
#include "component/crvcore/crvcore.h"
#include "component/crvping/entry_points.h"

namespace app {

namespace {

#if defined(_WIN32)
// For 10013: raw sockets are for administrators only (under Wine: for root).
constexpr char kAccessAdvice[] =
    "pingtool: raw ICMP sockets need an administrator: run %s from an elevated prompt\n";
#else
// For 10013: the user may open neither a raw ICMP socket nor an ICMP datagram socket.
constexpr char kAccessAdvice[] =
    "pingtool: this user may not open ICMP sockets. Any one of these helps:\n"
    "  - let the user's group ping without privileges (id -g gives the group):\n"
    "    sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
    "  - run it as root;\n"
    "  - give a copy you built raw sockets: sudo setcap cap_net_raw+ep %s\n"
    "    (or cmake --build BUILD --target setcap); never an installed one, pingtool(1) says why\n";
#endif

bool StartsLikeANumber(char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '$';
}

// Whether the host may be pinged with these options; says why not on standard error.
bool HostFits(const std::string& text, HostKind kind, AddressFamily family) {
    if (kind == HostKind::kDottedIpv4 && !IsValidIPv4(crv::FromAnsi(text))) {
        std::fprintf(stderr, "pingtool: \"%s\" is not a dotted IPv4 address\n", text.c_str());
        return false;
    }
    if (kind == HostKind::kDottedIpv4 && family == AddressFamily::kIpv6) {
        std::fprintf(stderr, "pingtool: %s is an IPv4 address, and -6 asks for IPv6\n",
                     text.c_str());
        return false;
    }
    if (kind == HostKind::kIpv6 && family == AddressFamily::kIpv4) {
        std::fprintf(stderr, "pingtool: %s is an IPv6 address, and -4 asks for IPv4\n",
                     text.c_str());
        return false;
    }
    return true;
}

// The options' settings on the form's ping component.
void Configure(crv::TcrvPing& ping, const CommandLine& line, bool ipv6) {
    if (ipv6) ping.Config(u"UseIPv6=true");
    if (line.packetSize) ping.SetPacketSize(*line.packetSize);
    if (line.timeToLive) ping.SetTimeToLive(*line.timeToLive);
    if (line.timeoutMs) {
        ping.Config(u"TimeoutInMilliseconds=true");
        ping.SetTimeout(*line.timeoutMs);
    }
    if (line.dontFragment) {
        ping.Config(*line.dontFragment ? u"DontFragment=true" : u"DontFragment=false");
    }
}

void ReportRunError(const TfrmMain& form, const std::string& program) {
    if (form.LastRunError().empty()) return;
    const std::string message = crv::ToUtf8(form.LastRunError());
    std::fprintf(stderr, "%s\n", message.c_str());
    if (message.rfind("10013:", 0) == 0) std::fprintf(stderr, kAccessAdvice, program.c_str());
}

}  // namespace

HostKind ClassifyHost(const std::string& text) {
    if (text.find(':') != std::string::npos) return HostKind::kIpv6;
    if (text.find('.') == std::string::npos) return HostKind::kName;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('.', at);
        if (end == std::string::npos) end = text.size();
        size_t first = at;
        while (first < end && (text[first] == ' ' || text[first] == '\r' || text[first] == '\n'))
            ++first;
        if (first < end && !StartsLikeANumber(text[first])) return HostKind::kName;
        at = end + 1;
    }
    return HostKind::kDottedIpv4;
}

int RunConsole(const CommandLine& line) {
    const std::string host = line.host.value_or("");
    if (host.empty()) {
        std::fprintf(stderr, "pingtool: no host given (pingtool --help tells more)\n");
        return 2;
    }
    const HostKind kind = ClassifyHost(host);
    if (!HostFits(host, kind, line.family)) return 2;

    StartHost = crv::FromAnsi(host);
    std::optional<crv::EngineSession> session(std::in_place);
    ConsoleView view(StartHost, line.requests, line.pauseMs);
    std::optional<TfrmMain> form;
    try {
        form.emplace(view);
    } catch (const crv::ECorvane& e) {
        std::fprintf(stderr, "pingtool: %s\n", e.what());
        return 1;
    }
    try {
        Configure(form->crvPing1, line,
                  kind == HostKind::kIpv6 || line.family == AddressFamily::kIpv6);
        // A name is resolved once; every request goes to its address.
        if (kind == HostKind::kName) {
            form->crvPing1.SetRemoteHost(StartHost);
            view.SetHostText(form->crvPing1.RemoteHost());
        }
    } catch (const crv::ECorvane& e) {
        std::fprintf(stderr, "pingtool: %s: %s\n", host.c_str(), e.what());
        return 2;
    }

    view.Attach(*form);
    const auto start = std::chrono::steady_clock::now();
    form->RunPings();
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    ReportRunError(*form, line.program);
    const std::string block = StatisticsBlock(host, form->Statistics(), elapsed);
    std::fputs(block.c_str(), stdout);
    std::fflush(stdout);
    const int status = form->Statistics().received > 0 ? 0 : 1;
    // The engine goes before the window, as at the end of the program.
    session.reset();
    return status;
}

}  // namespace app
