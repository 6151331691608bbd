// The tool's window, when the build has a GUI toolkit.
#pragma once

#include <string>

namespace app {

bool WindowAvailable();
// Runs the window until it is closed; host goes into the host field when it shows.
int RunWindow(int argc, char** argv, const std::string& host);

}  // namespace app
