// The ping tool: the window when a display is there and only a host is given, a console
// run otherwise.
#include <cstdio>

#include "app/console/command_line.h"
#include "app/console/console_run.h"
#include "app/window/window.h"
#include "platform/console.h"

int main(int argc, char** argv) {
    const app::CommandLine line = app::ParseCommandLine(argc, argv);
    if (line.help) {
        std::fputs(line.helpText.c_str(), stdout);
        return 0;
    }
    if (!line.error.empty()) {
        std::fprintf(stderr, "pingtool: %s\n(pingtool --help tells more)\n", line.error.c_str());
        return 2;
    }
    if (line.console || !plat::HasDisplay() || !app::WindowAvailable()) {
        return app::RunConsole(line);
    }
    return app::RunWindow(argc, argv, line.host.value_or(""));
}
