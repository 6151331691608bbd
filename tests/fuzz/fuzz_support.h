// Shared by the fuzzers: a check that aborts (so that libFuzzer records the input), the
// entry-point calls of a ping object, and the splitting of one input into several texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/core/corvane20.h"

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace fuzz {

// The input cut at each newline; NUL bytes stay inside the pieces (a C caller's string
// then ends there).
inline std::vector<std::string> Lines(const uint8_t* data, size_t size, size_t most) {
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            if (lines.size() == most) break;
            lines.emplace_back();
        } else {
            lines.back().push_back(static_cast<char>(data[i]));
        }
    }
    return lines;
}

// A byte or UTF-16 text the engine hands back must end inside storage it owns; reading
// it through is what ASan checks.
template <typename Char>
size_t Length(const Char* text) {
    FUZZ_CHECK(text != nullptr);
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

inline int32_t Do(void* ping, int32_t method, std::vector<intptr_t>& slots, int32_t count) {
    std::vector<int32_t> lengths(slots.size(), 0);
    return Corvane_Ping_Do(ping, method, count, slots.data(), lengths.data(), 0);
}

// Codes a Set or Do may give back: the engine's own, Windows Sockets numbers, and the
// system numbers of a failed conversion.
inline bool KnownCode(int32_t code) {
    return code == 0 || code == -1 || (code >= 1 && code <= 399) ||
           (code >= 10004 && code <= 11004) || code == 87 || code == 122 || code == 1113;
}

}  // namespace fuzz
