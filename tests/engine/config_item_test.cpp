// The configuration string parser and the value readers every layer relies on.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "engine/core/config_item.h"
#include "engine/core/error_codes.h"
#include "engine/core/memory.h"

namespace {

using corvane::ConfigItem;

struct ParseRow {
    const char* text;
    const char* name;
    const char* value;
    const char* indexText;
    int32_t index;
    bool query;
};

void ExpectParsed(const ConfigItem& item, const ParseRow& row) {
    EXPECT_STREQ(item.name.c_str(), row.name) << "name of [" << row.text << "]";
    EXPECT_STREQ(item.value.c_str(), row.value) << "value of [" << row.text << "]";
    EXPECT_STREQ(item.indexText.c_str(), row.indexText) << "index text of [" << row.text << "]";
    EXPECT_EQ(item.index, row.index) << "index of [" << row.text << "]";
    EXPECT_EQ(item.query, row.query) << "query flag of [" << row.text << "]";
}

TEST(ConfigItemParse, NamesValuesAndQueries) {
    const ParseRow rows[] = {
        // queries keep the name exactly as written
        {"Timeout", "Timeout", "", "", -1, true},
        {" Timeout ", " Timeout ", "", "", -1, true},
        {"Timeout ", "Timeout ", "", "", -1, true},
        {"", "", "", "", -1, true},
        // settings
        {"Timeout=5", "Timeout", "5", "", -1, false},
        {"  Timeout  =  5  ", "Timeout", "5", "", -1, false},
        {"Na me = v", "Na me", "v", "", -1, false},
        {"Timeout=   ", "Timeout", "", "", -1, false},
        {"Name=v\t", "Name", "v\t", "", -1, false},
        {"Name=\tv", "Name", "\tv", "", -1, false},
        // "=" as the last character: empty value, name untrimmed
        {"Timeout=", "Timeout", "", "", -1, false},
        {"Timeout =", "Timeout ", "", "", -1, false},
        {" Timeout=", " Timeout", "", "", -1, false},
        {"=", "", "", "", -1, false},
        // only the first "=" separates; later ones and brackets belong to the value
        {"Name=a=b", "Name", "a=b", "", -1, false},
        {"Name= =", "Name", "=", "", -1, false},
        {"Name==", "Name", "=", "", -1, false},
        {"Name=[1](2)", "Name", "[1](2)", "", -1, false},
        {"Name=x[ 3 ]=y", "Name", "x[ 3 ]=y", "", -1, false},
    };
    for (const ParseRow& row : rows) {
        ConfigItem item;
        ASSERT_EQ(item.Parse(row.text), 0) << row.text;
        ExpectParsed(item, row);
    }
}

TEST(ConfigItemParse, QuotesAndBackslashes) {
    const ParseRow rows[] = {
        {"Name=\"quoted\"", "Name", "quoted", "", -1, false},
        {"Name=\"  in  \"  ", "Name", "  in  ", "", -1, false},
        {"Name=   \"x\"", "Name", "x", "", -1, false},
        {"Name=\"open", "Name", "open", "", -1, false},
        {"Name=close\"", "Name", "close\"", "", -1, false},
        {"Name=\"", "Name", "", "", -1, false},
        {"Name=\" ", "Name", "", "", -1, false},
        {"Name=\"\"", "Name", "", "", -1, false},
        {"Name=\"a\"b\"", "Name", "a\"b", "", -1, false},
        {"Name=\"a\" b", "Name", "a\" b", "", -1, false},
        {"Name=a\\b\\", "Name", "a\\b\\", "", -1, false},
        {"Name=\"a\\\"\"", "Name", "a\\\"", "", -1, false},
        {"Name=\"a\\\"", "Name", "a\\", "", -1, false},
        {"Name=\\\"x\\\"", "Name", "\\\"x\\\"", "", -1, false},
        {"Na\"me\"=1", "Na\"me\"", "1", "", -1, false},
    };
    for (const ParseRow& row : rows) {
        ConfigItem item;
        ASSERT_EQ(item.Parse(row.text), 0) << row.text;
        ExpectParsed(item, row);
    }
}

TEST(ConfigItemParse, IndexInBrackets) {
    const ParseRow rows[] = {
        {"Timeout[3]=5", "Timeout", "5", "3", 3, false},
        {"Timeout[ 3 ]", "Timeout", "", "3", 3, true},
        {"Timeout(2)=7", "Timeout", "7", "2", 2, false},
        {"Timeout( -4 )=1", "Timeout", "1", "-4", -4, false},
        {"Timeout[+6]", "Timeout", "", "+6", 6, true},
        {"Timeout[3)", "Timeout", "", "3", 3, true},
        {"Timeout(3]", "Timeout", "", "3", 3, true},
        {"Timeout[abc]", "Timeout", "", "abc", 0, true},
        {"Timeout[12x]", "Timeout", "", "12x", 12, true},
        {"Timeout[0x10]", "Timeout", "", "0x10", 0, true},
        {"Timeout[]", "Timeout", "", "", 0, true},
        {"Time[1]out=2", "Timeout", "2", "1", 1, false},
        {"  Timeout [ 1 ]  =  9 ", "Timeout", "9", "1", 1, false},
        {"[1]=x", "", "x", "1", 1, false},
        {"Timeout[2]=", "Timeout", "", "2", 2, false},
        // a bracket that never closes leaves the index unset
        {"Timeout[1", "Timeout", "", "1", -1, true},
        // inside the brackets an opening bracket is text; a closing one outside them is name
        {"Timeout[(1)]", "Timeout]", "", "(1", 0, true},
        {"Timeout]", "Timeout]", "", "", -1, true},
        {"Timeout)=1", "Timeout)", "1", "", -1, false},
    };
    for (const ParseRow& row : rows) {
        ConfigItem item;
        ASSERT_EQ(item.Parse(row.text), 0) << row.text;
        ExpectParsed(item, row);
    }
}

TEST(ConfigItemParse, ReusedItemForgetsThePreviousString) {
    ConfigItem item;
    ASSERT_EQ(item.Parse("First[4]=value"), 0);
    ASSERT_EQ(item.Parse("Second"), 0);
    ExpectParsed(item, {"Second", "Second", "", "", -1, true});
    ASSERT_EQ(item.Parse(""), 0);
    ExpectParsed(item, {"", "", "", "", -1, true});
}

TEST(ConfigItemParse, StorageFailureIsOutOfMemory) {
    // Short parts stay in the items' inline storage; long ones need the heap.
    const std::string longText(150, 'n');
    struct Row {
        std::string text;
        int32_t expected;
    };
    const Row rows[] = {
        {"Short=value", 0},
        {"Short[1]", 0},
        {longText, corvane::kOutOfMemory},
        {longText + "=1", corvane::kOutOfMemory},
        {"Name=" + longText, corvane::kOutOfMemory},
        {"Name[" + longText + "]", corvane::kOutOfMemory},
    };
    for (const Row& row : rows) {
        ConfigItem item;
        corvane::SetAllocationFailureAfter(0);
        const int32_t rc = item.Parse(row.text.c_str());
        corvane::SetAllocationFailureAfter(-1);
        EXPECT_EQ(rc, row.expected) << row.text;
    }
    ConfigItem item;
    ASSERT_EQ(item.Parse(("Name=" + longText).c_str()), 0);
    EXPECT_EQ(item.value.c_str(), longText);
}

TEST(ConfigItemParse, WholeNameMatchWithoutRegardToCase) {
    struct Row {
        const char* text;
        const char* settingName;
        bool matches;
    };
    const Row rows[] = {
        {"Timeout", "Timeout", true},         {"timeout", "Timeout", true},
        {"TIMEOUT=1", "Timeout", true},       {"tImEoUt[2]", "Timeout", true},
        {"  Timeout  = 1", "Timeout", true},  {"Timeou", "Timeout", false},
        {"Timeouts", "Timeout", false},       {"Timeout ", "Timeout", false},
        {"Time out", "Timeout", false},       {"", "Timeout", false},
        {"UseICMPDLL", "UseIPHLPDLL", false},
    };
    for (const Row& row : rows) {
        ConfigItem item;
        ASSERT_EQ(item.Parse(row.text), 0);
        EXPECT_EQ(item.Is(row.settingName), row.matches) << row.text << " vs " << row.settingName;
    }
}

TEST(ConfigValueReaders, Numbers) {
    struct Row {
        const char* text;
        int32_t expected;
    };
    const Row rows[] = {
        {"0", 0},
        {"42", 42},
        {"-42", -42},
        {"+42", 42},
        {"007", 7},
        {"12abc", 12},
        {"1e3", 1},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"+", 0},
        {"--5", 0},
        {" 5", 0},
        {"- 5", 0},
        {"0x4E4", 1252},
        {"0X4e4", 1252},
        {"0xff", 255},
        {"0x", 0},
        {"0X", 0},
        {"0xg", 0},
        {"0x1g", 1},
        {"0x-10", -16},
        {"0x+1F", 31},
        {"0x0x5", 0},
        {"-0x10", 0},
        {"x10", 0},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MIN},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MAX},
        {"4294967295", -1},
        {"4294967296", 0},
        {"4294967297", 1},
        {"0x7fffffff", INT32_MAX},
        {"0x80000000", INT32_MIN},
        {"0xFFFFFFFF", -1},
        {"0x100000000", 0},
        {"0x100000001", 1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(corvane::ParseConfigNumber(row.text), row.expected) << "[" << row.text << "]";
        // The same reader stands behind a parsed item's value.
        ConfigItem item;
        ASSERT_EQ(item.Parse((std::string("N=\"") + row.text + "\"").c_str()), 0);
        EXPECT_EQ(item.Number(), row.expected) << "item value [" << row.text << "]";
    }
}

TEST(ConfigValueReaders, SignedDecimalKnowsNoHexadecimal) {
    struct Row {
        const char* text;
        int32_t expected;
    };
    const Row rows[] = {
        {"17", 17}, {"-17", -17}, {"+17", 17},       {"0x10", 0},
        {"", 0},    {"9z", 9},    {"4294967298", 2}, {"-2147483649", INT32_MAX},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(corvane::ParseSignedDecimal(row.text), row.expected) << "[" << row.text << "]";
    }
}

TEST(ConfigValueReaders, Booleans) {
    struct Row {
        const char* text;
        bool expected;
    };
    const Row rows[] = {
        {"TRUE", true},   {"true", true},  {"True", true},   {"tRuE", true},   {"yes", true},
        {"YES", true},    {"Yes", true},   {"1", true},      {"", false},      {"0", false},
        {"on", false},    {"ON", false},   {"no", false},    {"false", false}, {"y", false},
        {"t", false},     {"2", false},    {"01", false},    {"1 ", false},    {" 1", false},
        {"true ", false}, {"yes!", false}, {"truex", false}, {"-1", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(corvane::ParseConfigBoolean(row.text), row.expected) << "[" << row.text << "]";
    }
    // Through a parsed item the value is trimmed first.
    const ParseRow itemRows[] = {
        {"N= 1 ", "N", "1", "", -1, false},
        {"N=\"yes\"", "N", "yes", "", -1, false},
    };
    for (const ParseRow& row : itemRows) {
        ConfigItem item;
        ASSERT_EQ(item.Parse(row.text), 0);
        ExpectParsed(item, row);
        EXPECT_TRUE(item.Boolean()) << row.text;
    }
}

}  // namespace
