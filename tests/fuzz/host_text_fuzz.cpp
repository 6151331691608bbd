// Host texts: the host field's address test, and the RemoteHost and LocalHost properties
// of a ping object in each address mode, in byte and UTF-16 form. Literals only: the
// resolver of this program (numeric_resolver.cpp) answers numeric hosts and refuses
// names, so no query leaves the process.
#include <string>
#include <vector>

#include "app/unit1/is_valid_ipv4.h"
#include "engine/net/host_resolution.h"
#include "platform/sockets.h"
#include "tests/engine/scripted_socket.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::u16string Units(const std::string& bytes) {
    std::u16string wide;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        wide.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                             static_cast<uint8_t>(bytes[i + 1]) << 8));
    return wide;
}

std::u16string Latin(const std::string& bytes) {
    std::u16string wide;
    for (char c : bytes)
        wide.push_back(static_cast<uint8_t>(c));
    return wide;
}

void SetText(const scripted::Component& ping, int32_t property, const std::string& text,
             bool wide) {
    int32_t rc;
    if (wide) {
        const std::u16string units = Units(text);
        rc = ping.Set(property + CORVANE_WIDE_ID_OFFSET, reinterpret_cast<intptr_t>(units.c_str()));
    } else {
        rc = ping.Set(property, reinterpret_cast<intptr_t>(text.c_str()));
    }
    FUZZ_CHECK(fuzz::KnownCode(rc));
    fuzz::Length(Corvane_Ping_GetLastError(ping.handle()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    const std::vector<std::string> texts = fuzz::Lines(data + 1, size - 1, 4);

    // The address test sees the text as typed (Latin-1) and as raw UTF-16 units.
    for (const std::string& text : texts) {
        const bool valid = app::IsValidIPv4(Latin(text));
        app::IsValidIPv4(Units(text));
        // A single or double quote always fails the test.
        if (valid)
            FUZZ_CHECK(text.find('\'') == std::string::npos && text.find('"') == std::string::npos);
    }

    scripted::Scope scope;
    scripted::Component ping;
    FUZZ_CHECK(ping.handle() != nullptr);
    static const char* const kIpv6Modes[] = {"UseIPv6=false", "UseIPv6=true", "UseIPv6=2",
                                             "UseIPv6=false"};
    FUZZ_CHECK(ping.Config(kIpv6Modes[mode & 3]) == 0);
    FUZZ_CHECK(ping.Config((mode & 4) != 0 ? "UseGetAddrInfo=false" : "UseGetAddrInfo=true") == 0);
    const bool wide = (mode & 8) != 0;
    const bool ipv4 = (mode & 3) == 0 || (mode & 3) == 3;

    for (const std::string& text : texts) {
        SetText(ping, CORVANE_PING_REMOTE_HOST, text, wide);
        const std::string remote = ping.GetText(CORVANE_PING_REMOTE_HOST);
        const char* c = text.c_str();
        if (ipv4 && !wide) {
            // A literal reads back as the dotted form of the address it gave.
            const uint32_t address = plat::inet_addr(c);
            if (std::strcmp(c, "255.255.255.255") == 0) {
                FUZZ_CHECK(remote == "255.255.255.255");
            } else if (address != plat::INADDR_NONE && address != 0) {
                char expected[16];
                corvane::FormatIpv4(address, expected, sizeof expected);
                FUZZ_CHECK(remote == expected);
            }
        }
        SetText(ping, CORVANE_PING_LOCAL_HOST, text, wide);
        fuzz::Length(reinterpret_cast<const char*>(ping.Get(CORVANE_PING_LOCAL_HOST)));
        if (const intptr_t t = ping.Get(CORVANE_PING_REMOTE_HOST + CORVANE_WIDE_ID_OFFSET)) {
            fuzz::Length(reinterpret_cast<const char16_t*>(t));
        }
        if (const intptr_t t = ping.Get(CORVANE_PING_LOCAL_HOST + CORVANE_WIDE_ID_OFFSET)) {
            fuzz::Length(reinterpret_cast<const char16_t*>(t));
        }
    }
    return 0;
}
