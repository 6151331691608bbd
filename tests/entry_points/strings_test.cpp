// The UTF-16 forms of string properties and methods, and their code page conversions.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/codepage.h"
#include "tests/entry_points/engine_module.h"
#include "tests/support/system.h"

namespace {

using test::MachineName;
using test::Ping;
using test::U16;

constexpr char kEarlierText[] = "earlier failure";
constexpr int32_t kEarlierCode = 4242;
constexpr char kBroadcast[] = "255.255.255.255";

const char16_t* WideRead(const Ping& ping, int32_t property) {
    return reinterpret_cast<const char16_t*>(ping.Get(property + CORVANE_WIDE_ID_OFFSET));
}

// Config in the UTF-16 form, returning slot [1] as the engine left it.
int32_t ConfigWideSlot(const Ping& ping, const char16_t* setting, const char16_t** answer) {
    intptr_t slots[2] = {reinterpret_cast<intptr_t>(setting), 12345};
    int32_t lengths[2] = {0, 0};
    const int32_t rc = ping.DoRaw(CORVANE_PING_CONFIG + CORVANE_WIDE_ID_OFFSET, 1, slots, lengths);
    *answer = reinterpret_cast<const char16_t*>(slots[1]);
    return rc;
}

std::string ByteAnswer(const Ping& ping, const char* query) {
    std::string answer;
    EXPECT_EQ(ping.Config(query, &answer), 0) << query;
    return answer;
}

// UTF-16 reads never give null for a string property: empty is an empty string.
TEST(Strings, WideReadsOfStringProperties) {
    const std::string machine = MachineName();
    ASSERT_FALSE(machine.empty());
    struct Row {
        const char* name;
        int32_t property;
        const char* remoteHost;  // set in byte form first, or null
        const char* codePage;    // Config setting, or null
        std::string expected;
    };
    const Row rows[] = {
        {"ResponseSource on a new object", CORVANE_PING_RESPONSE_SOURCE, nullptr, nullptr, ""},
        {"RemoteHost on a new object", CORVANE_PING_REMOTE_HOST, nullptr, nullptr, ""},
        {"RemoteHost set", CORVANE_PING_REMOTE_HOST, kBroadcast, nullptr, kBroadcast},
        {"RemoteHost in code page 1252", CORVANE_PING_REMOTE_HOST, kBroadcast, "CodePage=1252",
         kBroadcast},
        {"LocalHost", CORVANE_PING_LOCAL_HOST, nullptr, nullptr, machine},
        // A conversion that fails reads as empty.
        {"RemoteHost in an unknown code page", CORVANE_PING_REMOTE_HOST, kBroadcast,
         "CodePage=12345", ""},
        {"LocalHost in an unknown code page", CORVANE_PING_LOCAL_HOST, nullptr, "CodePage=12345",
         ""},
    };
    for (const Row& row : rows) {
        Ping ping;
        if (row.remoteHost != nullptr) {
            ASSERT_EQ(ping.SetText(CORVANE_PING_REMOTE_HOST, row.remoteHost), 0) << row.name;
        }
        if (row.codePage != nullptr) {
            ASSERT_EQ(ping.Config(row.codePage), 0) << row.name;
        }
        ping.SetLastError(kEarlierCode, kEarlierText);
        const char16_t* text = WideRead(ping, row.property);
        ASSERT_NE(text, nullptr) << row.name;
        EXPECT_EQ(std::u16string(text), U16(row.expected.c_str())) << row.name;
        EXPECT_EQ(ping.LastErrorCode(), 0) << row.name;
    }
}

// A UTF-16 result stays readable until the next UTF-16 read of the same property, even
// when the property changes or other properties are read meanwhile.
TEST(Strings, WideResultLivesUntilNextWideRead) {
    Ping ping;
    ASSERT_EQ(ping.SetText(CORVANE_PING_REMOTE_HOST, kBroadcast), 0);
    const char16_t* remote = WideRead(ping, CORVANE_PING_REMOTE_HOST);
    ASSERT_NE(remote, nullptr);
    const char16_t* local = WideRead(ping, CORVANE_PING_LOCAL_HOST);
    ASSERT_NE(local, nullptr);
    const std::u16string localCopy = local;

    const std::function<void()> meanwhile[] = {
        [&] { ping.GetText(CORVANE_PING_REMOTE_HOST); },
        [&] { WideRead(ping, CORVANE_PING_RESPONSE_SOURCE); },
        [&] { ping.Config("Timeout"); },
        [&] { ping.SetText(CORVANE_PING_REMOTE_HOST, ""); },
        [&] { ping.Do(CORVANE_PING_RESET); },
    };
    for (const auto& step : meanwhile) {
        step();
        EXPECT_EQ(std::u16string(remote), u"255.255.255.255");
        EXPECT_EQ(std::u16string(local), localCopy);
    }
    // The next read of the property itself shows its new value.
    const char16_t* again = WideRead(ping, CORVANE_PING_REMOTE_HOST);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(std::u16string(again), u"");
}

// The byte form of RemoteHost is formatted into the same storage on every read.
TEST(Strings, ByteReadUsesObjectStorage) {
    Ping ping;
    ASSERT_EQ(ping.SetText(CORVANE_PING_REMOTE_HOST, kBroadcast), 0);
    const intptr_t first = ping.Get(CORVANE_PING_REMOTE_HOST);
    ASSERT_NE(first, 0);
    EXPECT_EQ(ping.Get(CORVANE_PING_REMOTE_HOST), first);
    EXPECT_STREQ(reinterpret_cast<const char*>(first), kBroadcast);
}

// UTF-16 writes of the host properties: null is empty, other text is converted.
TEST(Strings, WideHostWrites) {
    const std::string machine = MachineName();
    struct Row {
        const char* name;
        int32_t property;
        const char16_t* value;
        int32_t rc;
        const char* remoteAfter;
    };
    const Row rows[] = {
        {"RemoteHost null", CORVANE_PING_REMOTE_HOST, nullptr, 0, ""},
        {"RemoteHost empty", CORVANE_PING_REMOTE_HOST, u"", 0, ""},
        {"RemoteHost broadcast", CORVANE_PING_REMOTE_HOST, u"255.255.255.255", 0, kBroadcast},
        {"LocalHost null", CORVANE_PING_LOCAL_HOST, nullptr, 0, kBroadcast},
        {"LocalHost empty", CORVANE_PING_LOCAL_HOST, u"", 0, kBroadcast},
    };
    for (const Row& row : rows) {
        Ping ping;
        ASSERT_EQ(ping.SetText(CORVANE_PING_REMOTE_HOST, kBroadcast), 0) << row.name;
        ping.SetLastError(kEarlierCode, kEarlierText);
        EXPECT_EQ(ping.SetWide(row.property, row.value), row.rc) << row.name;
        EXPECT_EQ(ping.LastErrorCode(), row.rc) << row.name;
        EXPECT_EQ(ping.GetText(CORVANE_PING_REMOTE_HOST), row.remoteAfter) << row.name;
        EXPECT_EQ(ping.GetText(CORVANE_PING_LOCAL_HOST), machine) << row.name;
    }
}

// Config answers in the UTF-16 form: a setting answers an empty string, a query its value.
TEST(Strings, WideConfigAnswers) {
    struct Row {
        const char16_t* setting;
        int32_t rc;
        const char16_t* answer;
    };
    const Row rows[] = {
        {u"CodePage=65001", 0, u""},
        {u"CodePage", 0, u"0"},
        {u"ZeroMemory", 0, u"False"},
        {u"Timeout", 0, u"60"},
        {u"BuildInfo", 0, u"20.0.7525"},
        {u"LogDebugFile", 0, u""},
        {u"UseConnection", 0, u"True"},
        {u"ReceiveAll", 0, u"false"},
        {u"NoSuchSetting", -1, u""},
        {u"", -1, u""},
        {nullptr, -1, u""},  // null counts as the empty string
    };
    for (const Row& row : rows) {
        Ping ping;
        const char16_t* answer = nullptr;
        const std::string name = test::Utf8(row.setting);
        EXPECT_EQ(ConfigWideSlot(ping, row.setting, &answer), row.rc) << name;
        ASSERT_NE(answer, nullptr) << name;
        EXPECT_EQ(std::u16string(answer), row.answer) << name;
    }
}

// The process-wide ZeroMemory switch answers through the UTF-16 form too.
TEST(Strings, WideZeroMemoryRoundTrip) {
    Ping ping;
    const char16_t* answer = nullptr;
    ASSERT_EQ(ConfigWideSlot(ping, u"ZeroMemory=true", &answer), 0);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(std::u16string(answer), u"");
    ASSERT_EQ(ConfigWideSlot(ping, u"ZeroMemory", &answer), 0);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(std::u16string(answer), u"True");
    {
        Ping other;
        EXPECT_EQ(ByteAnswer(other, "ZeroMemory"), "True");
    }
    ASSERT_EQ(ConfigWideSlot(ping, u"ZeroMemory=false", &answer), 0);
    ASSERT_EQ(ConfigWideSlot(ping, u"ZeroMemory", &answer), 0);
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(std::u16string(answer), u"False");
}

// Settings and answers cross in the object's code page.
TEST(Strings, WideConfigUsesObjectCodePage) {
    struct Row {
        const char* codePage;
        const char16_t* text;
        const char* stored;  // the byte form the object keeps
    };
    const std::string ansiCafe = test::InCodePage("caf\xC3\xA9", plat::AnsiCodePage());
    ASSERT_FALSE(ansiCafe.empty()) << "system code page " << plat::AnsiCodePage();
    const Row rows[] = {
        {"CodePage=65001", u"café", "caf\xC3\xA9"},
        {"CodePage=0", u"café", ansiCafe.c_str()},  // the system code page
        {"CodePage=1252", u"café", "caf\xE9"},
        {"CodePage=932", u"日本", "\x93\xFA\x96\x7B"},
    };
    for (const Row& row : rows) {
        Ping ping;
        ASSERT_EQ(ping.Config(row.codePage), 0) << row.codePage;
        const std::u16string setting = u"LogDebugFile=" + std::u16string(row.text);
        const char16_t* answer = nullptr;
        ASSERT_EQ(ConfigWideSlot(ping, setting.c_str(), &answer), 0) << row.codePage;
        EXPECT_EQ(ByteAnswer(ping, "LogDebugFile"), row.stored) << row.codePage;
        ASSERT_EQ(ConfigWideSlot(ping, u"LogDebugFile", &answer), 0) << row.codePage;
        ASSERT_NE(answer, nullptr) << row.codePage;
        EXPECT_EQ(std::u16string(answer), row.text) << row.codePage;
    }
}

// The UTF-16 Config answer stays readable until the next Config call.
TEST(Strings, WideConfigAnswerLivesUntilNextConfig) {
    Ping ping;
    const char16_t* answer = nullptr;
    ASSERT_EQ(ConfigWideSlot(ping, u"SSLProvider", &answer), 0);
    ASSERT_NE(answer, nullptr);
    ping.Get(CORVANE_PING_TIMEOUT);
    WideRead(ping, CORVANE_PING_LOCAL_HOST);
    ping.SetLastError(1, "text");
    EXPECT_EQ(std::u16string(answer), u"Microsoft Unified Security Protocol Provider");
}

// With a code page the platform does not know, every UTF-16 argument fails with the
// system's "invalid parameter" and the operation is not carried out.
TEST(Strings, UnknownCodePageRefusesWideArguments) {
    struct Row {
        const char* name;
        std::function<int32_t(const Ping&)> action;
        int32_t rc;
        const char* remoteAfter;
    };
    const Row rows[] = {
        {"RemoteHost", [](const Ping& p) { return p.SetWide(CORVANE_PING_REMOTE_HOST, u"x"); }, 87,
         kBroadcast},
        {"RemoteHost empty", [](const Ping& p) { return p.SetWide(CORVANE_PING_REMOTE_HOST, u""); },
         87, kBroadcast},
        {"LocalHost", [](const Ping& p) { return p.SetWide(CORVANE_PING_LOCAL_HOST, u""); }, 87,
         kBroadcast},
        {"Config", [](const Ping& p) { return p.ConfigWide(u"CodePage=65001"); }, 87, kBroadcast},
        {"PingHost", [](const Ping& p) { return p.DoWithWide(CORVANE_PING_PING_HOST, {u""}); }, 87,
         kBroadcast},
        {"WakeOnLAN",
         [](const Ping& p) {
             return p.DoWithWide(CORVANE_PING_WAKE_ON_LAN, {u"", u"00-11-22-33-44-55"});
         },
         87, kBroadcast},
        // Null needs no conversion.
        {"RemoteHost null",
         [](const Ping& p) { return p.SetWide(CORVANE_PING_REMOTE_HOST, nullptr); }, 0, ""},
        // The byte form needs no conversion either.
        {"RemoteHost bytes", [](const Ping& p) { return p.SetText(CORVANE_PING_REMOTE_HOST, ""); },
         0, ""},
    };
    for (const Row& row : rows) {
        Ping ping;
        ASSERT_EQ(ping.SetText(CORVANE_PING_REMOTE_HOST, kBroadcast), 0) << row.name;
        ASSERT_EQ(ping.Config("CodePage=12345"), 0) << row.name;
        ping.SetLastError(0, nullptr);
        EXPECT_EQ(row.action(ping), row.rc) << row.name;
        EXPECT_EQ(ping.LastErrorCode(), row.rc) << row.name;
        EXPECT_EQ(ping.LastError(), row.rc == 0 ? "" : "[87] (no description available)")
            << row.name;
        EXPECT_EQ(ping.GetText(CORVANE_PING_REMOTE_HOST), row.remoteAfter) << row.name;
        EXPECT_EQ(ping.Get(CORVANE_PING_CODE_PAGE_ID), 12345) << row.name;
    }
}

// A method that is refused for its argument does not run: an earlier text survives,
// whereas PingHost would have cleared it.
TEST(Strings, RefusedArgumentDoesNotRunMethod) {
    Ping ping;
    ASSERT_EQ(ping.Config("CodePage=12345"), 0);
    ping.SetLastError(kEarlierCode, kEarlierText);
    EXPECT_EQ(ping.DoWithWide(CORVANE_PING_PING_HOST, {u"255.255.255.255"}), 87);
    EXPECT_EQ(ping.LastError(), kEarlierText);
    ping.SetLastError(kEarlierCode, kEarlierText);
    EXPECT_EQ(ping.DoWithWide(CORVANE_PING_PING_HOST, {nullptr}), 0);
    EXPECT_EQ(ping.LastError(), "");
}

}  // namespace
