// The ping tool: the window when a display is there, a console run otherwise.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "app/console/console_view.h"
#include "app/define/define.h"
#include "app/unit1/is_valid_ipv4.h"
#include "app/unit1/unit1.h"
#include "app/window/window.h"
#include "component/crvcore/crvcore.h"
#include "component/crvping/entry_points.h"
#include "platform/console.h"

namespace {

constexpr char kUsage[] =
    "Usage: pingtool [HOST]\n"
    "       pingtool --console HOST [--count N]\n"
    "\n"
    "Sends COUNT + 1 ICMP echo requests to HOST, a dotted IPv4 address, one after\n"
    "another with a pause of 100 ms, and prints one line per reply or error:\n"
    "  127.0.0.1 : OK \xEF\xBC\x8Ctime=0ms\n"
    "\n"
    "  HOST         opens the window with HOST in its host field (needs a display;\n"
    "               without one the tool runs in the console)\n"
    "  --console    runs in the terminal instead of the window\n"
    "  --count N    10 to 1000 (default 10); values outside are moved to the nearer bound\n"
    "  --help       shows this text\n"
    "\n"
    "Exit status: 0 when an echo reply came, 1 when none did, 2 for a bad command line\n"
#if defined(_WIN32)
    "or address. Raw ICMP sockets need an administrator.\n";
#else
    "or address. Without root the tool pings through ICMP datagram sockets where\n"
    "net.ipv4.ping_group_range admits the user's group; otherwise it needs root or\n"
    "setcap cap_net_raw+ep pingtool.\n";
#endif

#if defined(_WIN32)
// For 10013: raw sockets are for administrators only (under Wine: for root).
constexpr char kAccessAdvice[] =
    "pingtool: raw ICMP sockets need an administrator: run %s from an elevated prompt\n";
#else
// For 10013: the user may open neither a raw ICMP socket nor an ICMP datagram socket.
constexpr char kAccessAdvice[] =
    "pingtool: this user may not open ICMP sockets. Any one of these helps:\n"
    "  - run it as root;\n"
    "  - give the program raw sockets: sudo setcap cap_net_raw+ep %s\n"
    "    (or from the build: cmake --build BUILD --target setcap);\n"
    "  - let the user's group ping without them (id -g gives the group):\n"
    "    sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n";
#endif

struct Options {
    std::string program = "pingtool";
    bool console = false;
    bool help = false;
    std::optional<std::string> host;
    std::string count = "10";
    std::string error;
};

Options Parse(int argc, char** argv) {
    Options options;
    if (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') options.program = argv[0];
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            options.help = true;
        } else if (std::strcmp(arg, "--console") == 0) {
            options.console = true;
        } else if (std::strcmp(arg, "--count") == 0) {
            if (i + 1 >= argc) {
                options.error = "--count needs a number";
            } else {
                options.count = argv[++i];
            }
        } else if (!options.host) {
            options.host = arg;
        }  // a second host is ignored, as the window ignores it
    }
    return options;
}

std::u16string Wide(const std::string& text) {
    return crv::FromAnsi(text);
}

int RunConsole(const Options& options) {
    const std::u16string host = Wide(options.host.value_or(""));
    if (host.empty() || !app::IsValidIPv4(host)) {
        std::fprintf(stderr, "pingtool: \"%s\" is not a dotted IPv4 address\n",
                     options.host.value_or("").c_str());
        return 2;
    }
    app::StartHost = host;
    std::optional<crv::EngineSession> session(std::in_place);
    app::ConsoleView view(host, Wide(options.count));
    int status = 1;
    {
        std::optional<app::TfrmMain> form;
        try {
            form.emplace(view);
        } catch (const crv::ECorvane& e) {
            std::fprintf(stderr, "pingtool: %s\n", e.what());
            return 1;
        }
        view.Attach(*form);
        form->FormShow();
        form->btnPingClick();
        if (!form->LastRunError().empty()) {
            const std::string message = crv::ToUtf8(form->LastRunError());
            std::fprintf(stderr, "%s\n", message.c_str());
            if (message.rfind("10013:", 0) == 0) {
                std::fprintf(stderr, kAccessAdvice, options.program.c_str());
            }
        }
        status = form->EchoReplies() > 0 ? 0 : 1;
        // The engine goes before the window, as at the end of the program.
        session.reset();
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "pingtool: %s\n%s", options.error.c_str(), kUsage);
        return 2;
    }
    if (options.console || !plat::HasDisplay() || !app::WindowAvailable()) {
        return RunConsole(options);
    }
    return app::RunWindow(argc, argv, options.host.value_or(""));
}
