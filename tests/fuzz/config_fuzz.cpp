// Configuration strings through Config on a live ping object: each input line is one
// string, given in byte form or UTF-16 form by turns; settings and queries must answer
// with a text the object owns, a known code, and a last-error text that ends.
#include <string>
#include <vector>

#include "tests/engine/scripted_socket.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::u16string Widened(const std::string& bytes) {
    // Pairs of bytes as UTF-16 code units, so that lone surrogates come through too.
    std::u16string wide;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        wide.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                             static_cast<uint8_t>(bytes[i + 1]) << 8));
    if (bytes.size() % 2 != 0) wide.push_back(static_cast<uint8_t>(bytes.back()));
    return wide;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    scripted::Scope scope;
    scripted::Component ping;
    FUZZ_CHECK(ping.handle() != nullptr);
    const std::vector<std::string> lines = fuzz::Lines(data, size, 16);
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        int32_t rc;
        if (i % 2 == 0) {
            std::vector<intptr_t> slots = {reinterpret_cast<intptr_t>(line.c_str()), 0};
            rc = fuzz::Do(ping.handle(), CORVANE_PING_CONFIG, slots, 1);
            fuzz::Length(reinterpret_cast<const char*>(slots[1]));
        } else {
            const std::u16string wide = Widened(line);
            std::vector<intptr_t> slots = {reinterpret_cast<intptr_t>(wide.c_str()), 0};
            rc = fuzz::Do(ping.handle(), CORVANE_PING_CONFIG + CORVANE_WIDE_ID_OFFSET, slots, 1);
            // A failed conversion leaves the result slot empty; anything else is a text.
            if (slots[1] != 0) fuzz::Length(reinterpret_cast<const char16_t*>(slots[1]));
        }
        FUZZ_CHECK(fuzz::KnownCode(rc));
        FUZZ_CHECK(ping.LastErrorCode() == rc);
        fuzz::Length(Corvane_Ping_GetLastError(ping.handle()));
        if (rc == -1 && line.find('=') == std::string::npos && i % 2 == 0) {
            FUZZ_CHECK(ping.LastError() == "Unknown config setting.");
        }
    }
    // Every property still reads, in both forms, whatever the settings did.
    for (int32_t property = 0; property <= 11; ++property)
        ping.Get(property);
    for (int32_t property :
         {CORVANE_PING_LOCAL_HOST, CORVANE_PING_REMOTE_HOST, CORVANE_PING_RESPONSE_SOURCE}) {
        fuzz::Length(reinterpret_cast<const char*>(ping.Get(property)));
        if (const intptr_t text = ping.Get(property + CORVANE_WIDE_ID_OFFSET); text != 0) {
            fuzz::Length(reinterpret_cast<const char16_t*>(text));
        }
    }
    return 0;
}
