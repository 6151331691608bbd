// Methods of a ping object through Corvane_Ping_Do.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "tests/entry_points/engine_module.h"

namespace {

using test::Ping;

constexpr char kEarlierText[] = "earlier failure";
constexpr int32_t kEarlierCode = 4242;
constexpr char kNoDescription[] = "[-1] (no description available)";

std::string ConfigAnswer(const Ping& ping, const char* query) {
    std::string answer;
    EXPECT_EQ(ping.Config(query, &answer), 0) << query;
    return answer;
}

// Unknown ids do nothing and record 0; Do knows only the 10000 offset, so 20002 is not
// Config and 20006 is not Reset.
TEST(Methods, UnknownIdsDoNothing) {
    const int32_t ids[] = {
        99,
        0,
        1,
        8,
        2002,
        2004,
        -1,
        CORVANE_WIDE_ID_OFFSET,
        CORVANE_WIDE_ID_OFFSET + 99,
        CORVANE_BYTE_ID_OFFSET + CORVANE_PING_CONFIG,
        CORVANE_BYTE_ID_OFFSET + CORVANE_PING_RESET,
        CORVANE_BYTE_ID_OFFSET + CORVANE_PING_CONVERT_TO_WIDE,
    };
    for (int32_t id : ids) {
        Ping ping;
        ASSERT_EQ(ping.Set(CORVANE_PING_PACKET_SIZE, 100), 0);
        ping.SetLastError(kEarlierCode, kEarlierText);
        EXPECT_EQ(ping.DoWithText(id, {"Nope", "Nope"}), 0) << "method " << id;
        EXPECT_EQ(ping.LastErrorCode(), 0) << "method " << id;
        EXPECT_EQ(ping.LastError(), kEarlierText) << "method " << id;
        EXPECT_EQ(ping.Get(CORVANE_PING_PACKET_SIZE), 100) << "method " << id;
    }
}

// Everything that Reset restores, and what it deliberately leaves.
TEST(Methods, ResetRestoresInitialSettings) {
    Ping ping;
    ASSERT_EQ(ping.Set(CORVANE_PING_PACKET_SIZE, 3000), 0);
    ASSERT_EQ(ping.Set(CORVANE_PING_TYPE_OF_SERVICE, 33), 0);
    ASSERT_EQ(ping.Set(CORVANE_PING_TIME_TO_LIVE, 5), 0);
    ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, 9), 0);
    ASSERT_EQ(ping.SetText(CORVANE_PING_REMOTE_HOST, "255.255.255.255"), 0);
    const char* settings[] = {
        "SelectWaitMillis=5",         "UseConnection=false",  "MaxPacketSize=4000",
        "TimeoutInMilliseconds=true", "UseICMPDLL=true",      "DontFragment=true",
        "ReceiveAllMode=3",           "AbsoluteTimeout=true", "CodePage=1252",
    };
    for (const char* setting : settings) {
        ASSERT_EQ(ping.Config(setting), 0) << setting;
    }
    ping.SetLastError(kEarlierCode, kEarlierText);
    ping.SetEventError(5, "handler failed");

    EXPECT_EQ(ping.Do(CORVANE_PING_RESET), 0);
    EXPECT_EQ(ping.LastErrorCode(), 0);
    EXPECT_EQ(ping.LastError(), "");
    // The event error belongs to the host's handlers.
    EXPECT_EQ(ping.EventErrorCode(), 5);
    EXPECT_EQ(ping.EventError(), "handler failed");

    struct Row {
        int32_t id;
        intptr_t expected;
    };
    const Row properties[] = {
        {CORVANE_PING_PACKET_SIZE, 64},    {CORVANE_PING_TYPE_OF_SERVICE, 8},
        {CORVANE_PING_TIME_TO_LIVE, 0},    {CORVANE_PING_TIMEOUT, 0},  // unlike a new object's 60
        {CORVANE_PING_REQUEST_ID, 0},      {CORVANE_PING_RESPONSE_TIME, 0},
        {CORVANE_PING_ACTIVE, 0},          {CORVANE_PING_IDLE, 1},
        {CORVANE_PING_CODE_PAGE_ID, 1252},  // the code page stays
    };
    for (const Row& row : properties) {
        EXPECT_EQ(ping.Get(row.id), row.expected) << "property " << row.id;
    }
    EXPECT_EQ(ping.GetText(CORVANE_PING_REMOTE_HOST), "");
    EXPECT_EQ(ping.GetText(CORVANE_PING_RESPONSE_SOURCE), "");

    const struct {
        const char* query;
        const char* answer;
    } answers[] = {
        {"SelectWaitMillis", "20"},     {"UseConnection", "True"},    {"MaxPacketSize", "2048"},
        {"TimeoutInMilliseconds", "0"}, {"UseICMPDLL", "False"},      {"DontFragment", "False"},
        {"ReceiveAllMode", "-1"},       {"AbsoluteTimeout", "False"}, {"Timeout", "0"},
        {"CodePage", "1252"},
    };
    for (const auto& row : answers) {
        EXPECT_EQ(ConfigAnswer(ping, row.query), row.answer) << row.query;
    }
}

TEST(Methods, ResetThroughWideIdentifier) {
    Ping ping;
    ASSERT_EQ(ping.Set(CORVANE_PING_PACKET_SIZE, 300), 0);
    EXPECT_EQ(ping.Do(CORVANE_PING_RESET + CORVANE_WIDE_ID_OFFSET), 0);
    EXPECT_EQ(ping.Get(CORVANE_PING_PACKET_SIZE), 64);
    EXPECT_EQ(ping.Get(CORVANE_PING_TIMEOUT), 0);
}

TEST(Methods, BuildInfo) {
    struct Row {
        const char* setting;
        int32_t rc;
        const char* answer;
        const char* text;
    };
    const Row rows[] = {
        {"BuildInfo", 0, "20.0.7525", kEarlierText},
        {"buildinfo", 0, "20.0.7525", kEarlierText},
        {"BUILDINFO", 0, "20.0.7525", kEarlierText},
        // Anything else is a configuration string, and BuildInfo is no setting.
        {"BuildInfo=1", -1, "", "Unknown config setting."},
        {"BuildInfo ", -1, "", "Unknown config setting."},
        {" BuildInfo", -1, "", "Unknown config setting."},
        {"BuildInf", -1, "", "Unknown config setting."},
    };
    for (const Row& row : rows) {
        Ping ping;
        ping.SetLastError(kEarlierCode, kEarlierText);
        std::string answer = "unset";
        EXPECT_EQ(ping.Config(row.setting, &answer), row.rc) << row.setting;
        EXPECT_EQ(answer, row.answer) << row.setting;
        EXPECT_EQ(ping.LastErrorCode(), row.rc) << row.setting;
        EXPECT_EQ(ping.LastError(), row.text) << row.setting;

        std::u16string wide = u"unset";
        EXPECT_EQ(ping.ConfigWide(test::U16(row.setting).c_str(), &wide), row.rc) << row.setting;
        EXPECT_EQ(wide, test::U16(row.answer)) << row.setting;
    }
}

// The interrupt request is consumed by the next pump step, which leaves "Interrupted."
// behind; DoEvents and Interrupt themselves always succeed.
TEST(Methods, InterruptAndDoEvents) {
    enum Step { kInterrupt, kDoEvents, kReset, kClearError };
    struct Row {
        const char* name;
        int32_t offset;
        std::vector<Step> steps;
        const char* text;
    };
    const Row rows[] = {
        {"interrupt only", 0, {kInterrupt}, ""},
        {"pump only", 0, {kDoEvents}, ""},
        {"interrupt, pump", 0, {kInterrupt, kDoEvents}, "Interrupted."},
        {"interrupt, clear, pump", 0, {kInterrupt, kClearError, kDoEvents}, "Interrupted."},
        {"request consumed", 0, {kInterrupt, kDoEvents, kClearError, kDoEvents}, ""},
        {"requests do not add up",
         0,
         {kInterrupt, kInterrupt, kDoEvents, kClearError, kDoEvents},
         ""},
        {"reset drops the request", 0, {kInterrupt, kReset, kDoEvents}, ""},
        {"wide ids", CORVANE_WIDE_ID_OFFSET, {kInterrupt, kDoEvents}, "Interrupted."},
    };
    for (const Row& row : rows) {
        Ping ping;
        ping.SetLastError(0, nullptr);
        const int32_t offset = row.offset;
        for (Step step : row.steps) {
            switch (step) {
                case kInterrupt:
                    EXPECT_EQ(ping.Do(CORVANE_PING_INTERRUPT + offset), 0) << row.name;
                    break;
                case kDoEvents:
                    EXPECT_EQ(ping.Do(CORVANE_PING_DO_EVENTS + offset), 0) << row.name;
                    break;
                case kReset:
                    EXPECT_EQ(ping.Do(CORVANE_PING_RESET), 0) << row.name;
                    break;
                case kClearError:
                    ping.SetLastError(0, nullptr);
                    break;
            }
        }
        EXPECT_EQ(ping.LastError(), row.text) << row.name;
        EXPECT_EQ(ping.LastErrorCode(), 0) << row.name;
    }
}

TEST(Methods, DoEventsKeepsEarlierText) {
    Ping ping;
    ping.SetLastError(kEarlierCode, kEarlierText);
    EXPECT_EQ(ping.Do(CORVANE_PING_DO_EVENTS), 0);
    EXPECT_EQ(ping.LastErrorCode(), 0);
    EXPECT_EQ(ping.LastError(), kEarlierText);
}

// ConvertToWide: slot [2] gets the units written or needed; the last error is never
// touched, even when the conversion fails.
TEST(Methods, ConvertToWide) {
    constexpr char kHello[] = "h\xC3\xA9llo";  // "héllo" in UTF-8, 6 bytes
    // The rows without a code page of their own read UTF-8: the object's default, the
    // system's ANSI code page, is UTF-8 on Linux and is set so on Windows.
    const char* const kUtf8 = plat::AnsiCodePage() == 65001 ? nullptr : "CodePage=65001";
    constexpr char kCafe1252[] = "caf\xE9";
    constexpr char kGrin[] = "\xF0\x9F\x98\x80";  // one character, two UTF-16 units
    struct Row {
        const char* name;
        const char* codePage;  // Config setting, or null for the default
        int32_t method;
        const char* source;
        int32_t sourceLength;
        int32_t capacity;
        int32_t rc;
        intptr_t units;
        const char16_t* written;  // null: not converted into the destination
    };
    const Row rows[] = {
        {"counted", kUtf8, 2003, kHello, 6, 16, 0, 5, u"héllo"},
        {"terminated", kUtf8, 2003, kHello, -1, 16, 0, 6, u"héllo"},
        {"sizing", kUtf8, 2003, kHello, 6, 0, 0, 5, nullptr},
        {"sizing negative capacity", kUtf8, 2003, kHello, 6, -3, 0, 5, nullptr},
        {"sizing needs a length", kUtf8, 2003, kHello, -1, 0, 0, 0, nullptr},
        {"surrogate pair", kUtf8, 2003, kGrin, 4, 0, 0, 2, nullptr},
        {"too small", kUtf8, 2003, kHello, 6, 2, 122, 0, nullptr},
        {"code page 1252", "CodePage=1252", 2003, kCafe1252, 4, 8, 0, 4, u"café"},
        {"unknown code page", "CodePage=12345", 2003, kHello, 6, 16, 87, 0, nullptr},
        {"unknown code page sizing", "CodePage=12345", 2003, kHello, 6, 0, 0, 0, nullptr},
        {"wide id", kUtf8, 12003, kHello, 6, 16, 0, 5, u"héllo"},
    };
    for (const Row& row : rows) {
        Ping ping;
        if (row.codePage != nullptr) {
            ASSERT_EQ(ping.Config(row.codePage), 0) << row.name;
        }
        ping.SetLastError(kEarlierCode, kEarlierText);
        char16_t destination[16];
        for (char16_t& unit : destination)
            unit = u'#';
        intptr_t slots[3] = {reinterpret_cast<intptr_t>(row.source),
                             reinterpret_cast<intptr_t>(destination), 777};
        int32_t lengths[2] = {row.sourceLength, row.capacity};
        EXPECT_EQ(ping.DoRaw(row.method, 2, slots, lengths), row.rc) << row.name;
        EXPECT_EQ(slots[2], row.units) << row.name;
        if (row.written != nullptr) {
            const std::u16string expected(row.written);
            EXPECT_EQ(std::u16string(destination, expected.size()), expected) << row.name;
        } else if (row.rc != 122) {  // a destination too small may be partly written
            EXPECT_EQ(destination[0], u'#') << row.name;
        }
        EXPECT_EQ(ping.LastErrorCode(), kEarlierCode) << row.name;
        EXPECT_EQ(ping.LastError(), kEarlierText) << row.name;
    }
}

TEST(Methods, ConvertToWideNeedsTwoParameters) {
    const int32_t counts[] = {0, 1, 3, -1};
    for (int32_t count : counts) {
        Ping ping;
        ping.SetLastError(kEarlierCode, kEarlierText);
        char16_t destination[8] = {};
        intptr_t slots[4] = {reinterpret_cast<intptr_t>("abc"),
                             reinterpret_cast<intptr_t>(destination), 777, 0};
        int32_t lengths[3] = {3, 8, 0};
        EXPECT_EQ(ping.DoRaw(CORVANE_PING_CONVERT_TO_WIDE, count, slots, lengths), -1) << count;
        EXPECT_EQ(slots[2], 777) << count;
        EXPECT_EQ(destination[0], 0) << count;
        EXPECT_EQ(ping.LastErrorCode(), kEarlierCode) << count;
        EXPECT_EQ(ping.LastError(), kEarlierText) << count;
    }
}

// Methods called with fewer parameters than they take, or without a parameter array,
// are refused and get the generic text.
TEST(Methods, ShortParameterCountsAreRefused) {
    struct Row {
        int32_t method;
        int32_t count;
        bool nullArray;
    };
    const Row rows[] = {
        {CORVANE_PING_CONFIG, 0, false},
        {CORVANE_PING_CONFIG + CORVANE_WIDE_ID_OFFSET, 0, false},
        {CORVANE_PING_CONFIG, 1, true},
        {CORVANE_PING_PING_HOST, 0, false},
        {CORVANE_PING_PING_HOST + CORVANE_WIDE_ID_OFFSET, -1, false},
        {CORVANE_PING_PING_HOST, 1, true},
        {CORVANE_PING_WAKE_ON_LAN, 1, false},
        {CORVANE_PING_WAKE_ON_LAN, 0, false},
        {CORVANE_PING_WAKE_ON_LAN + CORVANE_WIDE_ID_OFFSET, 1, false},
        {CORVANE_PING_WAKE_ON_LAN, 2, true},
    };
    for (const Row& row : rows) {
        Ping ping;
        ping.SetLastError(0, nullptr);
        intptr_t slots[3] = {reinterpret_cast<intptr_t>("BuildInfo"), 0, 0};
        int32_t lengths[3] = {0, 0, 0};
        const int32_t rc = ping.DoRaw(row.method, row.count, row.nullArray ? nullptr : slots,
                                      row.nullArray ? nullptr : lengths);
        EXPECT_EQ(rc, -1) << "method " << row.method << " count " << row.count;
        EXPECT_EQ(ping.LastErrorCode(), -1) << "method " << row.method;
        EXPECT_EQ(ping.LastError(), kNoDescription) << "method " << row.method;
    }
}

// More parameters than a method takes are fine.
TEST(Methods, ExtraParametersAreIgnored) {
    Ping ping;
    intptr_t slots[4] = {reinterpret_cast<intptr_t>("BuildInfo"), 0, 0, 0};
    int32_t lengths[4] = {0, 0, 0, 0};
    EXPECT_EQ(ping.DoRaw(CORVANE_PING_CONFIG, 3, slots, lengths), 0);
    ASSERT_NE(slots[1], 0);
    EXPECT_STREQ(reinterpret_cast<const char*>(slots[1]), "20.0.7525");
}

// An empty host closes the port: success, and the earlier error is gone.
TEST(Methods, PingHostWithoutHost) {
    struct Row {
        const char* name;
        bool wide;
        const void* host;
    };
    const Row rows[] = {
        {"empty bytes", false, ""},
        {"null bytes", false, nullptr},
        {"empty UTF-16", true, u""},
        {"null UTF-16", true, nullptr},
    };
    for (const Row& row : rows) {
        Ping ping;
        ping.SetLastError(kEarlierCode, kEarlierText);
        const int32_t rc =
            row.wide
                ? ping.DoWithWide(CORVANE_PING_PING_HOST, {static_cast<const char16_t*>(row.host)})
                : ping.DoWithText(CORVANE_PING_PING_HOST, {static_cast<const char*>(row.host)});
        EXPECT_EQ(rc, 0) << row.name;
        EXPECT_EQ(ping.LastErrorCode(), 0) << row.name;
        EXPECT_EQ(ping.LastError(), "") << row.name;
        EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 0) << row.name;
    }
}

}  // namespace
