// The block a console run ends with, as ping prints it.
#pragma once

#include <cstdint>
#include <string>

#include "app/unit1/unit1.h"

namespace app {

// A blank line, "--- HOST ping statistics ---", the requests sent and replies received
// with the loss and the run's time, and, when a reply came, the minimum, average, maximum
// and mean deviation of the times.
std::string StatisticsBlock(const std::string& host, const RunStatistics& run, int64_t elapsedMs);

}  // namespace app
