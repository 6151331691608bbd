#include <gtest/gtest.h>

#include "app/unit1/is_valid_ipv4.h"

namespace {

TEST(IsValidIPv4, Cases) {
    struct Row {
        const char16_t* text;
        bool valid;
    };
    const Row rows[] = {
        {u"192.168.1.1", true},
        {u"127.0.0.1", true},
        {u"0.1.2.3", false},  // the first piece may not be 0
        {u"00.1.2.3", false},
        {u"-0.1.2.3", false},
        {u"1.2.3.-0", true},  // only the first one
        {u".1.2.3.4", true},  // empty pieces are dropped
        {u"1.2.3.4.", true},
        {u"1..2.3.4", true},
        {u"1.2.3", false},
        {u"1.2.3.4.5", false},
        {u" 1. 2.  3. 4", true},  // blanks in front of a piece
        {u"1.2.3.4 ", false},     // a blank after the digits
        {u"1 .2.3.4", false},
        {u"0x7F.0.0.1", true},
        {u"0X7f.0.0.1", true},
        {u"$7f.0.0.1", true},
        {u"x7f.0.0.1", true},
        {u"X7F.0.0.1", true},
        {u"+1.2.3.4", true},
        {u"1.+2.3.4", true},
        {u"256.1.1.1", false},
        {u"1.2.3.256", false},
        {u"1.2.3.-1", false},
        {u"a.b.c.d", false},
        {u"0x.1.2.3", false},  // a prefix needs digits
        {u"$.1.2.3", false},
        {u"1.2.3.0x100", false},
        {u"1.2.3.4\r", true},  // CR and LF separate like dots
        {u"1\r\n2\n3\r4", true},
        {u"\n1.2.3.4", true},
        {u"1.2.3.'4", false},  // any quote fails
        {u"1.2.3.4\"", false},
        {u"'", false},
        {u"localhost", false},
        {u"", false},
        {u"...", false},
        {u"1.2.3.4294967297", false},  // beyond 32 bits
        {u"1.2.3.99999999999", false},
        {u"1.2.3.\uFF14", false},  // a full-width digit is no digit
        {u"1\u30022.3.4", false},  // nor is an ideographic full stop a separator
        {u"1.2.3.007", true},      // leading zeros are decimal
        {u"1.2.3.08", true},
        {u"1.2.3.4\t", false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(app::IsValidIPv4(row.text), row.valid)
            << std::string(row.text, row.text + std::char_traits<char16_t>::length(row.text));
    }
}

}  // namespace
