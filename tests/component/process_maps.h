// What /proc/self/maps says about the process's mappings.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace test {

struct MapLine {
    uintptr_t start = 0;
    uintptr_t end = 0;
    std::string perms;
    std::string path;
};

inline std::vector<MapLine> ReadMaps() {
    std::vector<MapLine> lines;
    std::ifstream in("/proc/self/maps");
    std::string text;
    while (std::getline(in, text)) {
        MapLine line;
        size_t used = 0;
        line.start = std::stoull(text, &used, 16);
        line.end = std::stoull(text.substr(used + 1), nullptr, 16);
        const size_t perms = text.find(' ');
        line.perms = text.substr(perms + 1, 4);
        // Five fields before the path: range, perms, offset, device, inode.
        size_t at = 0;
        for (int field = 0; field < 5 && at != std::string::npos; ++field) {
            at = text.find_first_not_of(' ', at);
            at = at == std::string::npos ? at : text.find(' ', at);
        }
        if (at != std::string::npos) {
            at = text.find_first_not_of(' ', at);
            if (at != std::string::npos) line.path = text.substr(at);
        }
        lines.push_back(line);
    }
    return lines;
}

// The mapping that holds address; an empty line when none does.
inline MapLine MappingOf(const void* address) {
    const auto a = reinterpret_cast<uintptr_t>(address);
    for (const MapLine& line : ReadMaps()) {
        if (a >= line.start && a < line.end) return line;
    }
    return MapLine{};
}

// Bytes in mappings with these permissions and path; neighbours of the same kind may be
// merged into one line, so this sums sizes instead of counting lines.
inline size_t MappedBytes(const std::string& perms, const std::string& path) {
    size_t bytes = 0;
    for (const MapLine& line : ReadMaps()) {
        if (line.perms == perms && line.path == path) bytes += line.end - line.start;
    }
    return bytes;
}

}  // namespace test
