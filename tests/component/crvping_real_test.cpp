// The ping component against the engine that this test program carries as its resource:
// the table is bound from memory at start, with no engine library needed on disk.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <fstream>
#include <string>
#include <vector>

#include "component/crvping/crvping.h"
#include "component/crvping/entry_points.h"
#include "tests/support/engine_session.h"
#include "tests/support/system.h"

namespace {

using crv::EcrvPing;
using crv::TcrvPing;

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new test::EngineSessionEnvironment);

#if defined(_WIN32)
// Where the code at address lives: pages the program allocated itself, not a DLL file
// the system loader mapped.
std::string MappedEngine(const void* address) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(address, &info, sizeof info) != sizeof info) return "unknown";
    if (GetModuleHandleA("corvane20.dll") != nullptr) return "corvane20.dll is loaded";
    return info.Type == MEM_PRIVATE ? "private memory" : "an image mapping";
}
#else
// The line of /proc/self/maps that holds the engine.
std::string MappedEngine(const void*) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("corvane20") != std::string::npos ||
            line.find("memfd:") != std::string::npos) {
            return line;
        }
    }
    return {};
}
#endif

TEST(ComponentWithEngine, TableIsBoundFromTheResource) {
    const crv::EntryPointTable& e = crv::EntryPoints();
    const void* slots[] = {
        reinterpret_cast<const void*>(e.EvtStr),
        reinterpret_cast<const void*>(e.Stream),
        reinterpret_cast<const void*>(e.Create),
        reinterpret_cast<const void*>(e.Destroy),
        reinterpret_cast<const void*>(e.Set),
        reinterpret_cast<const void*>(e.Get),
        reinterpret_cast<const void*>(e.GetLastError),
        reinterpret_cast<const void*>(e.GetLastErrorCode),
        reinterpret_cast<const void*>(e.SetLastErrorAndCode),
        reinterpret_cast<const void*>(e.GetEventError),
        reinterpret_cast<const void*>(e.GetEventErrorCode),
        reinterpret_cast<const void*>(e.SetEventErrorAndCode),
        reinterpret_cast<const void*>(e.CheckIndex),
        reinterpret_cast<const void*>(e.Do),
    };
    for (size_t i = 0; i < std::size(slots); ++i)
        EXPECT_NE(slots[i], nullptr) << "slot " << i + 1;
    // The engine comes from memory: on Linux an anonymous memory file, on Windows pages
    // of the program's own that its PE mapper filled.
    const std::string mapping = MappedEngine(slots[13]);
#if defined(_WIN32)
    EXPECT_EQ(mapping, "private memory");
#else
    EXPECT_NE(mapping.find("memfd:"), std::string::npos) << mapping;
#endif
}

TEST(ComponentWithEngine, FreshComponentDefaults) {
    TcrvPing ping;
    EXPECT_NE(ping.EngineHandle(), nullptr);
    EXPECT_EQ(ping.PacketSize(), 64);
    EXPECT_EQ(ping.Timeout(), 60);
    EXPECT_EQ(ping.RemoteHost(), u"");
    EXPECT_FALSE(ping.Active());
    EXPECT_TRUE(ping.Idle());
    EXPECT_EQ(ping.TypeOfService(), 8);
    // The constructor sent "CodePage=65001".
    EXPECT_EQ(ping.Config(u"CodePage"), u"65001");
    EXPECT_EQ(static_cast<int32_t>(crv::EntryPoints().Get(
                  ping.EngineHandle(), CORVANE_PING_CODE_PAGE_ID, 0, nullptr, 0)),
              65001);
}

// Writes and methods raise EcrvPing with the engine's code and "code: text".
TEST(ComponentWithEngine, FailuresRaiseWithCodeAndText) {
    struct Row {
        const char* name;
        void (*action)(TcrvPing&);
        int32_t code;
        const char16_t* message;
    };
    const Row rows[] = {
        {"unknown setting", [](TcrvPing& p) { p.Config(u"NoSuchSetting"); }, -1,
         u"-1: Unknown config setting."},
        {"helper library with IPv6",
         [](TcrvPing& p) {
             p.Config(u"UseICMPDLL=true");
             p.Config(u"UseIPv6=true");
             p.SetActive(true);
         },
         306, u"306: IPv6 is not supported when the UseICMPDLL configuration is set to true."},
        {"bad MAC address", [](TcrvPing& p) { p.WakeOnLAN(u"127.0.0.1", u"0a:1b:2c"); }, 128,
         u"128: Bad MAC address."},
        {"no address", [](TcrvPing& p) { p.PingHost(u"0.0.0.0"); }, 102,
         u"102: The RemoteHost address is invalid."},
    };
    for (const Row& row : rows) {
        TcrvPing ping;
        try {
            row.action(ping);
            ADD_FAILURE() << row.name << ": no exception";
        } catch (const EcrvPing& e) {
            EXPECT_EQ(e.Code, row.code) << row.name;
            EXPECT_EQ(e.Message(), row.message) << row.name;
        }
    }
}

// Writes to the read-only properties change nothing; reads never raise.
TEST(ComponentWithEngine, ReadOnlyWritesDoNothing) {
    TcrvPing ping;
    ping.SetResponseTime(5);
    ping.SetResponseSource(u"1.2.3.4");
    ping.SetIdle(false);
    EXPECT_EQ(ping.ResponseTime(), 0);
    EXPECT_EQ(ping.ResponseSource(), u"");
    EXPECT_TRUE(ping.Idle());
}

TEST(ComponentWithEngine, PingsLoopback) {
    if (!test::Privileged()) GTEST_SKIP() << "raw ICMP sockets need root or CAP_NET_RAW";
    TcrvPing ping;
    ping.SetTimeout(3);
    std::vector<std::u16string> lines;
    std::u16string sourceInHandler = u"unset";
    ping.OnResponse = [&](TcrvPing& sender, int32_t requestId, const std::u16string& source,
                          const std::u16string& status, int32_t time) {
        EXPECT_EQ(&sender, &ping);
        EXPECT_EQ(requestId, sender.RequestId());
        EXPECT_GE(time, 0);
        sourceInHandler = sender.ResponseSource();
        lines.push_back(source + u" : " + status);
    };
    ping.PingHost(u"127.0.0.1");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], u"127.0.0.1 : OK");
    EXPECT_EQ(sourceInHandler, u"");  // set only once the handler has returned
    EXPECT_EQ(ping.ResponseSource(), u"127.0.0.1");
    EXPECT_FALSE(ping.Active());
}

// A handler's exception is reported through OnError and never unwinds into the engine.
TEST(ComponentWithEngine, HandlerExceptionsBecomeEventErrors) {
    if (!test::Privileged()) GTEST_SKIP() << "raw ICMP sockets need root or CAP_NET_RAW";
    struct Row {
        const char* name;
        void (*raise)();
        int32_t code;
        const char16_t* text;
    };
    const Row rows[] = {
        {"ordinary exception", [] { throw std::runtime_error("boom"); }, -1,
         u"An unhandled error occurred in the Response event handler: boom"},
        {"engine exception", [] { throw EcrvPing::CreateCode(42, "answer"); }, 42, u"42: answer"},
    };
    for (const Row& row : rows) {
        TcrvPing ping;
        ping.SetTimeout(3);
        std::vector<std::pair<int32_t, std::u16string>> errors;
        ping.OnResponse = [&](TcrvPing&, int32_t, const std::u16string&, const std::u16string&,
                              int32_t) { row.raise(); };
        ping.OnError = [&](TcrvPing&, int32_t code, const std::u16string& text) {
            errors.emplace_back(code, text);
        };
        ping.PingHost(u"127.0.0.1");  // the exchange itself succeeds
        ASSERT_EQ(errors.size(), 1u) << row.name;
        EXPECT_EQ(errors[0].first, row.code) << row.name;
        EXPECT_EQ(errors[0].second, row.text) << row.name;
        EXPECT_EQ(crv::EntryPoints().GetEventErrorCode(ping.EngineHandle()), row.code) << row.name;
        EXPECT_EQ(crv::FromAnsi(crv::EntryPoints().GetEventError(ping.EngineHandle())), row.text)
            << row.name;
    }
}

}  // namespace
