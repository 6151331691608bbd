// Properties of a ping object through Corvane_Ping_Get and Corvane_Ping_Set.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "tests/entry_points/engine_module.h"
#include "tests/support/system.h"

namespace {

using test::MachineName;
using test::Ping;

constexpr char kEarlierText[] = "earlier failure";
constexpr int32_t kEarlierCode = 4242;

std::string ConfigAnswer(const Ping& ping, const char* query) {
    std::string answer;
    EXPECT_EQ(ping.Config(query, &answer), 0) << query;
    return answer;
}

TEST(Properties, NewObjectDefaults) {
    Ping ping;
    struct Row {
        int32_t id;
        intptr_t expected;
    };
    const Row rows[] = {
        {CORVANE_PING_ACTIVE, 0},        {CORVANE_PING_IDLE, 1},
        {CORVANE_PING_PACKET_SIZE, 64},  {CORVANE_PING_REQUEST_ID, 0},
        {CORVANE_PING_RESPONSE_TIME, 0}, {CORVANE_PING_TIMEOUT, 60},
        {CORVANE_PING_TIME_TO_LIVE, 0},  {CORVANE_PING_TYPE_OF_SERVICE, 8},
        {CORVANE_PING_CODE_PAGE_ID, 0},  {99, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ping.Get(row.id), row.expected) << "property " << row.id;
    }
    EXPECT_EQ(ping.GetText(CORVANE_PING_VERSION_TAG), "CORVANE_VERSION_20_0_7525");
    EXPECT_EQ(ping.GetText(CORVANE_PING_REMOTE_HOST), "");
    EXPECT_EQ(ping.GetText(CORVANE_PING_RESPONSE_SOURCE), "");
    const std::string machine = MachineName();
    ASSERT_FALSE(machine.empty());
    EXPECT_EQ(ping.GetText(CORVANE_PING_LOCAL_HOST), machine);
    // Creation leaves the object connected-mode and with the default buffer.
    EXPECT_EQ(ConfigAnswer(ping, "UseConnection"), "True");
    EXPECT_EQ(ConfigAnswer(ping, "MaxPacketSize"), "2048");
    EXPECT_EQ(ping.LastErrorCode(), 0);
    EXPECT_EQ(ping.LastError(), "");
}

// Integer properties read the same through the bare id and both offsets.
TEST(Properties, IntegerPropertiesIgnoreOffsets) {
    Ping ping;
    ASSERT_EQ(ping.Set(CORVANE_PING_PACKET_SIZE, 100), 0);
    ASSERT_EQ(ping.Set(CORVANE_PING_TIMEOUT, 7), 0);
    ASSERT_EQ(ping.Set(CORVANE_PING_TIME_TO_LIVE, 9), 0);
    ASSERT_EQ(ping.Set(CORVANE_PING_TYPE_OF_SERVICE, 33), 0);
    ASSERT_EQ(ping.Config("CodePage=1252"), 0);
    struct Row {
        int32_t id;
        intptr_t expected;
    };
    const Row rows[] = {
        {CORVANE_PING_ACTIVE, 0},          {CORVANE_PING_IDLE, 1},
        {CORVANE_PING_PACKET_SIZE, 100},   {CORVANE_PING_REQUEST_ID, 0},
        {CORVANE_PING_RESPONSE_TIME, 0},   {CORVANE_PING_TIMEOUT, 7},
        {CORVANE_PING_TIME_TO_LIVE, 9},    {CORVANE_PING_TYPE_OF_SERVICE, 33},
        {CORVANE_PING_CODE_PAGE_ID, 1252},
    };
    const int32_t offsets[] = {0, CORVANE_WIDE_ID_OFFSET, CORVANE_BYTE_ID_OFFSET};
    for (const Row& row : rows) {
        for (int32_t offset : offsets) {
            EXPECT_EQ(ping.Get(row.id + offset), row.expected)
                << "property " << row.id << " offset " << offset;
        }
    }
}

// Writes through the offsets reach the same integer property.
TEST(Properties, IntegerWritesIgnoreOffsets) {
    struct Row {
        int32_t writeId;
        intptr_t value;
        int32_t readId;
        intptr_t expected;
    };
    const Row rows[] = {
        {CORVANE_PING_PACKET_SIZE + CORVANE_WIDE_ID_OFFSET, 200, CORVANE_PING_PACKET_SIZE, 200},
        {CORVANE_PING_PACKET_SIZE + CORVANE_BYTE_ID_OFFSET, 300, CORVANE_PING_PACKET_SIZE, 300},
        {CORVANE_PING_TIMEOUT + CORVANE_WIDE_ID_OFFSET, 11, CORVANE_PING_TIMEOUT, 11},
        {CORVANE_PING_TIMEOUT + CORVANE_BYTE_ID_OFFSET, 12, CORVANE_PING_TIMEOUT, 12},
        {CORVANE_PING_TIME_TO_LIVE + CORVANE_WIDE_ID_OFFSET, 13, CORVANE_PING_TIME_TO_LIVE, 13},
        {CORVANE_PING_TYPE_OF_SERVICE + CORVANE_BYTE_ID_OFFSET, 14, CORVANE_PING_TYPE_OF_SERVICE,
         14},
    };
    for (const Row& row : rows) {
        Ping ping;
        EXPECT_EQ(ping.Set(row.writeId, row.value), 0) << "id " << row.writeId;
        EXPECT_EQ(ping.Get(row.readId), row.expected) << "id " << row.writeId;
    }
}

// Which identifiers the two offsets decode to; 10000 and 20000 themselves are unknown.
TEST(Properties, StringIdentifierDecoding) {
    Ping ping;
    ASSERT_EQ(ping.SetText(CORVANE_PING_REMOTE_HOST, "255.255.255.255"), 0);
    const intptr_t version = ping.Get(CORVANE_PING_VERSION_TAG);
    ASSERT_NE(version, 0);

    // The byte form through 20000 is the bare id's own storage.
    EXPECT_EQ(ping.Get(CORVANE_PING_REMOTE_HOST + CORVANE_BYTE_ID_OFFSET),
              ping.Get(CORVANE_PING_REMOTE_HOST));
    EXPECT_EQ(ping.GetText(CORVANE_PING_LOCAL_HOST + CORVANE_BYTE_ID_OFFSET),
              ping.GetText(CORVANE_PING_LOCAL_HOST));
    // 10000 selects UTF-16.
    EXPECT_EQ(ping.GetWide(CORVANE_PING_REMOTE_HOST), u"255.255.255.255");
    EXPECT_EQ(ping.GetWide(CORVANE_PING_LOCAL_HOST), test::U16(MachineName().c_str()));

    struct Row {
        int32_t id;
        intptr_t expected;
    };
    const Row unknown[] = {
        {CORVANE_WIDE_ID_OFFSET, 0},                               // not VersionTag
        {CORVANE_BYTE_ID_OFFSET, 0},                               // 10000 after decoding
        {CORVANE_BYTE_ID_OFFSET + CORVANE_WIDE_ID_OFFSET + 5, 0},  // 10005 is no property
        {CORVANE_BYTE_ID_OFFSET + CORVANE_WIDE_ID_OFFSET, 0},
        {CORVANE_BYTE_ID_OFFSET - 1, 0},  // 9999
        {-1, 0},
        {12, 0},
    };
    for (const Row& row : unknown) {
        ping.SetLastError(kEarlierCode, kEarlierText);
        EXPECT_EQ(ping.Get(row.id), row.expected) << "id " << row.id;
        EXPECT_EQ(ping.LastErrorCode(), 0) << "id " << row.id;
        EXPECT_EQ(ping.LastError(), kEarlierText) << "id " << row.id;
    }
}

// A read-only or unknown id is refused without touching the error state or any value.
TEST(Properties, RefusedWritesLeaveErrorState) {
    const int32_t ids[] = {
        CORVANE_PING_VERSION_TAG,
        CORVANE_PING_IDLE,
        CORVANE_PING_REQUEST_ID,
        CORVANE_PING_RESPONSE_SOURCE,
        CORVANE_PING_RESPONSE_TIME,
        CORVANE_PING_CODE_PAGE_ID,
        CORVANE_PING_IDLE + CORVANE_WIDE_ID_OFFSET,
        CORVANE_PING_REQUEST_ID + CORVANE_BYTE_ID_OFFSET,
        CORVANE_PING_RESPONSE_SOURCE + CORVANE_WIDE_ID_OFFSET,
        CORVANE_PING_CODE_PAGE_ID + CORVANE_BYTE_ID_OFFSET,
        CORVANE_WIDE_ID_OFFSET,
        CORVANE_BYTE_ID_OFFSET,
        CORVANE_BYTE_ID_OFFSET + CORVANE_WIDE_ID_OFFSET + CORVANE_PING_PACKET_SIZE,
        12,
        99,
        -1,
    };
    for (int32_t id : ids) {
        Ping ping;
        ping.SetLastError(kEarlierCode, kEarlierText);
        EXPECT_EQ(ping.Set(id, 5), -1) << "id " << id;
        EXPECT_EQ(ping.LastErrorCode(), kEarlierCode) << "id " << id;
        EXPECT_EQ(ping.LastError(), kEarlierText) << "id " << id;
        EXPECT_EQ(ping.Get(CORVANE_PING_REQUEST_ID), 0) << "id " << id;
        EXPECT_EQ(ping.Get(CORVANE_PING_PACKET_SIZE), 64) << "id " << id;
        EXPECT_EQ(ping.Get(CORVANE_PING_CODE_PAGE_ID), 0) << "id " << id;
        EXPECT_EQ(ping.GetText(CORVANE_PING_VERSION_TAG), "CORVANE_VERSION_20_0_7525");
    }
}

// Stored values after clamping; maxPacket is the buffer size that Config then reports.
TEST(Properties, WrittenValuesAreClamped) {
    struct Row {
        int32_t id;
        intptr_t value;
        intptr_t expected;
        const char* maxPacket;  // null: not checked
    };
    const Row rows[] = {
        {CORVANE_PING_PACKET_SIZE, 5, 8, "2048"},
        {CORVANE_PING_PACKET_SIZE, -7, 8, "2048"},
        {CORVANE_PING_PACKET_SIZE, 64, 64, "2048"},
        {CORVANE_PING_PACKET_SIZE, 2032, 2032, "2048"},
        {CORVANE_PING_PACKET_SIZE, 2033, 2033, "2049"},
        {CORVANE_PING_PACKET_SIZE, 65515, 65515, "65531"},
        {CORVANE_PING_PACKET_SIZE, 70000, 65515, "65531"},
        {CORVANE_PING_PACKET_SIZE, (intptr_t{1} << 32) + 100, 100, "2048"},  // low 32 bits
        {CORVANE_PING_TIMEOUT, 5000000, 2147483, nullptr},
        {CORVANE_PING_TIMEOUT, 2147484, 2147483, nullptr},
        {CORVANE_PING_TIMEOUT, 2147483, 2147483, nullptr},
        {CORVANE_PING_TIMEOUT, -5, -5, nullptr},
        {CORVANE_PING_TIMEOUT, -3000000, -2147483, nullptr},
        {CORVANE_PING_TIMEOUT, INT32_MIN, -2147483, nullptr},
        {CORVANE_PING_TYPE_OF_SERVICE, 264, 8, nullptr},
        {CORVANE_PING_TYPE_OF_SERVICE, 0x1FF, 255, nullptr},
        {CORVANE_PING_TYPE_OF_SERVICE, -1, 255, nullptr},
        {CORVANE_PING_TYPE_OF_SERVICE, 0, 0, nullptr},
        {CORVANE_PING_TIME_TO_LIVE, 5, 5, nullptr},
        {CORVANE_PING_TIME_TO_LIVE, -1, -1, nullptr},
    };
    for (const Row& row : rows) {
        Ping ping;
        EXPECT_EQ(ping.Set(row.id, row.value), 0) << "id " << row.id << " value " << row.value;
        EXPECT_EQ(ping.Get(row.id), row.expected) << "id " << row.id << " value " << row.value;
        if (row.maxPacket != nullptr) {
            EXPECT_EQ(ConfigAnswer(ping, "MaxPacketSize"), row.maxPacket)
                << "PacketSize " << row.value;
        }
    }
}

// A larger PacketSize grows the buffer; a smaller one never shrinks it.
TEST(Properties, PacketSizeNeverShrinksBuffer) {
    Ping ping;
    ASSERT_EQ(ping.Set(CORVANE_PING_PACKET_SIZE, 70000), 0);
    ASSERT_EQ(ping.Set(CORVANE_PING_PACKET_SIZE, 64), 0);
    EXPECT_EQ(ping.Get(CORVANE_PING_PACKET_SIZE), 64);
    EXPECT_EQ(ConfigAnswer(ping, "MaxPacketSize"), "65531");
}

// Timeout 0 through the property turns UseConnection off; the config setting does not.
TEST(Properties, TimeoutZeroLeavesConnectionOff) {
    struct Row {
        const char* how;
        bool property;
        int32_t value;
        const char* useConnection;
        intptr_t idle;
    };
    const Row rows[] = {
        {"property 0", true, 0, "False", 1},
        {"property 5", true, 5, "True", 1},
        {"property -1", true, -1, "True", 1},
        {"config 0", false, 0, "True", 1},
    };
    for (const Row& row : rows) {
        Ping ping;
        if (row.property) {
            EXPECT_EQ(ping.Set(CORVANE_PING_TIMEOUT, row.value), 0) << row.how;
        } else {
            const std::string setting = "Timeout=" + std::to_string(row.value);
            EXPECT_EQ(ping.Config(setting.c_str()), 0) << row.how;
        }
        EXPECT_EQ(ping.Get(CORVANE_PING_TIMEOUT), row.value) << row.how;
        EXPECT_EQ(ping.Get(CORVANE_PING_IDLE), row.idle) << row.how;
        EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 0) << row.how;
        EXPECT_EQ(ConfigAnswer(ping, "UseConnection"), row.useConnection) << row.how;
    }
}

// A boolean is true when the low 32 bits are not zero; true tries to open the port.
TEST(Properties, ActiveTakesLow32Bits) {
    struct Row {
        intptr_t value;
        int32_t expected;
    };
    // In helper-library mode with IPv6, opening fails with 306 for anyone.
    const Row rows[] = {
        {0, 0}, {intptr_t{1} << 32, 0}, {1, 306}, {-1, 306}, {(intptr_t{1} << 32) + 1, 306},
    };
    for (const Row& row : rows) {
        Ping ping;
        ASSERT_EQ(ping.Config("UseICMPDLL=True"), 0);
        ASSERT_EQ(ping.Config("UseIPv6=True"), 0);
        EXPECT_EQ(ping.Set(CORVANE_PING_ACTIVE, row.value), row.expected) << row.value;
        EXPECT_EQ(ping.LastErrorCode(), row.expected) << row.value;
        EXPECT_EQ(ping.Get(CORVANE_PING_ACTIVE), 0) << row.value;
    }
}

// VersionTag and CodePageId leave the last error code; every other read sets it to 0,
// and only the address reads also clear the text.
TEST(Properties, ReadsAndTheLastError) {
    struct Row {
        int32_t id;
        int32_t code;
        const char* text;
    };
    const Row rows[] = {
        {CORVANE_PING_VERSION_TAG, kEarlierCode, kEarlierText},
        {CORVANE_PING_CODE_PAGE_ID, kEarlierCode, kEarlierText},
        {CORVANE_PING_CODE_PAGE_ID + CORVANE_WIDE_ID_OFFSET, kEarlierCode, kEarlierText},
        {CORVANE_PING_CODE_PAGE_ID + CORVANE_BYTE_ID_OFFSET, kEarlierCode, kEarlierText},
        {CORVANE_PING_REQUEST_ID, 0, kEarlierText},
        {CORVANE_PING_ACTIVE, 0, kEarlierText},
        {CORVANE_PING_IDLE, 0, kEarlierText},
        {CORVANE_PING_PACKET_SIZE, 0, kEarlierText},
        {CORVANE_PING_RESPONSE_SOURCE, 0, kEarlierText},
        {CORVANE_PING_RESPONSE_SOURCE + CORVANE_WIDE_ID_OFFSET, 0, kEarlierText},
        {CORVANE_PING_RESPONSE_TIME, 0, kEarlierText},
        {CORVANE_PING_TIMEOUT, 0, kEarlierText},
        {CORVANE_PING_TIME_TO_LIVE, 0, kEarlierText},
        {CORVANE_PING_TYPE_OF_SERVICE, 0, kEarlierText},
        {99, 0, kEarlierText},
        {CORVANE_PING_REMOTE_HOST, 0, ""},
        {CORVANE_PING_REMOTE_HOST + CORVANE_WIDE_ID_OFFSET, 0, ""},
        {CORVANE_PING_LOCAL_HOST, 0, ""},
        {CORVANE_PING_LOCAL_HOST + CORVANE_BYTE_ID_OFFSET, 0, ""},
    };
    for (const Row& row : rows) {
        Ping ping;
        ASSERT_EQ(ping.SetLastError(kEarlierCode, kEarlierText), kEarlierCode);
        ping.Get(row.id);
        EXPECT_EQ(ping.LastErrorCode(), row.code) << "id " << row.id;
        EXPECT_EQ(ping.LastError(), row.text) << "id " << row.id;
    }
}

TEST(Properties, CodePageIdFollowsConfig) {
    Ping ping;
    EXPECT_EQ(ping.Get(CORVANE_PING_CODE_PAGE_ID), 0);
    const struct {
        const char* setting;
        intptr_t expected;
    } rows[] = {
        {"CodePage=65001", 65001},
        {"codepage=0x4E4", 1252},
        {"CodePage=0", 0},
    };
    for (const auto& row : rows) {
        ASSERT_EQ(ping.Config(row.setting), 0) << row.setting;
        EXPECT_EQ(ping.Get(CORVANE_PING_CODE_PAGE_ID), row.expected) << row.setting;
    }
}

}  // namespace
