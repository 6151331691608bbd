#include "app/console/statistics_block.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace app {

namespace {

template <typename... Args>
void Append(std::string& out, const char* format, Args... args) {
    char line[256];
    const int n = std::snprintf(line, sizeof line, format, args...);
    if (n > 0) out.append(line, std::min(static_cast<size_t>(n), sizeof line - 1));
}

}  // namespace

std::string StatisticsBlock(const std::string& host, const RunStatistics& run, int64_t elapsedMs) {
    std::string out = "\n--- " + host + " ping statistics ---\n";
    Append(out, "%d packets transmitted, %d received", run.sent, run.received);
    if (run.sent > 0) {
        const double loss = 100.0 * (run.sent - run.received) / run.sent;
        Append(out, ", %g%% packet loss", loss < 0 ? 0.0 : loss);
    }
    Append(out, ", time %" PRId64 "ms\n", elapsedMs);
    if (run.received > 0) {
        const double n = run.received;
        const double average = static_cast<double>(run.sumMs) / n;
        const double variance = static_cast<double>(run.sumSquaresMs) / n - average * average;
        const double deviation = std::sqrt(variance > 0 ? variance : 0.0);
        Append(out, "rtt min/avg/max/mdev = %.3f/%.3f/%.3f/%.3f ms\n",
               static_cast<double>(run.minMs), average, static_cast<double>(run.maxMs), deviation);
    }
    return out;
}

}  // namespace app
