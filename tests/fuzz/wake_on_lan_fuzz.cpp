// MAC texts through WakeOnLAN with the scripted socket. The packet sent must be the
// magic packet of the hexadecimal digits in the text, and only exactly twelve digits
// may send one; the port is left as it was found.
#include <string>
#include <vector>

#include "tests/engine/scripted_socket.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

int Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    const std::string mac(reinterpret_cast<const char*>(data + 1), size - 1);
    const bool openFirst = (mode & 1) != 0;
    const bool smallBuffer = (mode & 2) != 0;  // below the 102 bytes of the packet
    const char* host = (mode & 4) != 0 ? "255.255.255.255" : "127.0.0.1";

    scripted::Scope scope;
    scripted::Component ping;
    FUZZ_CHECK(ping.handle() != nullptr);
    if (smallBuffer) FUZZ_CHECK(ping.Config("MaxPacketSize=101") == 0);
    // UseConnection off, so that an open port still takes a new RemoteHost.
    if (openFirst) {
        FUZZ_CHECK(ping.Config("UseConnection=false") == 0);
        FUZZ_CHECK(ping.Set(CORVANE_PING_ACTIVE, 1) == 0);
    }

    std::vector<intptr_t> slots = {reinterpret_cast<intptr_t>(host),
                                   reinterpret_cast<intptr_t>(mac.c_str()), 0};
    const int32_t rc = fuzz::Do(ping.handle(), CORVANE_PING_WAKE_ON_LAN, slots, 2);

    // The reference: the hexadecimal digits up to the text's end (a C string's NUL).
    std::vector<int> digits;
    for (const char* p = mac.c_str(); *p != '\0'; ++p)
        if (Digit(*p) >= 0) digits.push_back(Digit(*p));
    const scripted::Net& net = scope.net();
    if (digits.size() != 12) {
        FUZZ_CHECK(rc == 128);
        FUZZ_CHECK(ping.LastError() == "Bad MAC address.");
        FUZZ_CHECK(net.sent.empty());
    } else if (smallBuffer) {
        FUZZ_CHECK(rc == 118);
        FUZZ_CHECK(net.sent.empty());
    } else {
        FUZZ_CHECK(rc == 0);
        FUZZ_CHECK(net.sent.size() == 1);
        const scripted::Bytes& m = net.sent[0];
        FUZZ_CHECK(m.size() == 106);
        FUZZ_CHECK(m[0] == 8 && m[1] == 0);
        FUZZ_CHECK(scripted::ChecksumVerifies(m));
        for (int i = 0; i < 6; ++i)
            FUZZ_CHECK(m[4 + i] == 0xFF);
        for (int copy = 0; copy < 16; ++copy)
            for (int b = 0; b < 6; ++b)
                FUZZ_CHECK(m[10 + copy * 6 + b] == (digits[2 * b] << 4 | digits[2 * b + 1]));
    }
    FUZZ_CHECK((ping.Get(CORVANE_PING_ACTIVE) != 0) == openFirst);
    FUZZ_CHECK(ping.GetText(CORVANE_PING_REMOTE_HOST) == host);
    return 0;
}
