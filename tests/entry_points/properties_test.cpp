// Properties of a new ping object through Corvane_Ping_Get and Corvane_Ping_Set.
#include <gtest/gtest.h>

#include "tests/entry_points/engine_module.h"

namespace {

using test::Ping;

TEST(Properties, NewObjectDefaults) {
    Ping ping;
    struct Row {
        int32_t id;
        intptr_t expected;
    };
    const Row rows[] = {
        {CORVANE_PING_ACTIVE, 0},       {CORVANE_PING_IDLE, 1},
        {CORVANE_PING_PACKET_SIZE, 64}, {CORVANE_PING_REQUEST_ID, 0},
        {CORVANE_PING_RESPONSE_TIME, 0}, {CORVANE_PING_TIMEOUT, 60},
        {CORVANE_PING_TIME_TO_LIVE, 0}, {CORVANE_PING_TYPE_OF_SERVICE, 8},
        {CORVANE_PING_CODE_PAGE_ID, 0}, {99, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(ping.Get(row.id), row.expected) << "property " << row.id;
    }
    EXPECT_EQ(ping.GetText(CORVANE_PING_VERSION_TAG), "CORVANE_VERSION_20_0_7525");
    EXPECT_EQ(ping.GetText(CORVANE_PING_REMOTE_HOST), "");
    EXPECT_EQ(ping.GetText(CORVANE_PING_RESPONSE_SOURCE), "");
    EXPECT_FALSE(ping.GetText(CORVANE_PING_LOCAL_HOST).empty());
}

}  // namespace
