// What the tests ask of the system they run on: the machine's name and whether raw
// ICMP sockets may be opened.
#pragma once

#include <string>

namespace test {

// The host name, as gethostname gives it; empty when there is none.
std::string MachineName();

// Root on Linux; on Windows (and Wine) an account that may open raw sockets.
bool Privileged();

// Windows programs running under Wine rather than on Windows.
bool UnderWine();

}  // namespace test
