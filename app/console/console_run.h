// A run of the tool in the terminal: the host checked by the console's rules, the engine
// set as the options ask, the window's run, and the statistics at the end.
#pragma once

#include <string>

#include "app/console/command_line.h"

namespace app {

enum class HostKind { kDottedIpv4, kIpv6, kName };

// A text with a dot whose every piece starts like a number (a digit, a sign or "$") is a
// dotted IPv4 address to the window's rule; one with a colon an IPv6 address; anything
// else a name.
HostKind ClassifyHost(const std::string& text);

// The exit status: 0 when an echo reply came, 1 when none did, 2 when the host was refused.
int RunConsole(const CommandLine& line);

}  // namespace app
