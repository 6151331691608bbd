// The engine's growable byte string: inline and heap storage, growth, aliasing, formatting
// and what a failed allocation leaves behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "engine/core/error_codes.h"
#include "engine/core/memory.h"
#include "engine/core/module_state.h"
#include "engine/core/text_buffer.h"

namespace {

using corvane::kOutOfMemory;
using corvane::TextBuffer;

// Makes every engine allocation fail for the life of the guard.
class NoAllocations {
  public:
    NoAllocations() { corvane::SetAllocationFailureAfter(0); }
    ~NoAllocations() { corvane::SetAllocationFailureAfter(-1); }
    NoAllocations(const NoAllocations&) = delete;
    NoAllocations& operator=(const NoAllocations&) = delete;
};

char Letter(size_t i) {
    return static_cast<char>('a' + i % 26);
}

std::string Pattern(size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text += Letter(i);
    return text;
}

void ExpectText(const TextBuffer& buffer, const std::string& expected, const std::string& what) {
    EXPECT_EQ(buffer.size(), expected.size()) << what;
    EXPECT_EQ(std::string(buffer.c_str()), expected) << what;
    EXPECT_EQ(buffer.c_str()[buffer.size()], '\0') << what;
}

TEST(TextBuffer, NewBufferIsEmptyAndTerminated) {
    TextBuffer buffer;
    EXPECT_TRUE(buffer.empty());
    ExpectText(buffer, "", "new buffer");
}

TEST(TextBuffer, TextsBelowOneHundredBytesNeedNoHeap) {
    struct Row {
        size_t length;
        int32_t expected;
    };
    const Row rows[] = {{0, 0}, {1, 0}, {50, 0}, {99, 0}, {100, kOutOfMemory}, {250, kOutOfMemory}};
    for (const Row& row : rows) {
        TextBuffer buffer;
        ASSERT_EQ(buffer.Assign("old"), 0);
        const std::string text = Pattern(row.length);
        int32_t rc;
        {
            const NoAllocations failing;
            rc = buffer.Assign(text.c_str());
        }
        EXPECT_EQ(rc, row.expected) << "length " << row.length;
        ExpectText(buffer, row.expected == 0 ? text : "old",
                   "length " + std::to_string(row.length));
    }
}

TEST(TextBuffer, GrowthReservesHalfAsMuchAgain) {
    // After a heap allocation for a text of n bytes, appends up to 1.5 n need no further
    // allocation; one byte more does.
    struct Row {
        size_t first;
        size_t fitsWithoutAllocation;
    };
    const Row rows[] = {{100, 150}, {200, 300}, {1000, 1500}, {4001, 6001}};
    for (const Row& row : rows) {
        TextBuffer buffer;
        ASSERT_EQ(buffer.Assign(Pattern(row.first).c_str()), 0);
        const std::string fill = Pattern(row.fitsWithoutAllocation - row.first);
        const NoAllocations failing;
        EXPECT_EQ(buffer.Append(fill.c_str()), 0) << "first " << row.first;
        EXPECT_EQ(buffer.AppendChar('!'), kOutOfMemory) << "first " << row.first;
        EXPECT_EQ(buffer.size(), row.fitsWithoutAllocation);
        EXPECT_EQ(std::string(buffer.c_str()), Pattern(row.first) + fill);
    }
    // Reserve grows the same way.
    TextBuffer reserved;
    ASSERT_EQ(reserved.Reserve(400), 0);
    const NoAllocations failing;
    EXPECT_EQ(reserved.Assign(Pattern(600).c_str()), 0);
    EXPECT_EQ(reserved.AppendChar('x'), kOutOfMemory);
    ExpectText(reserved, Pattern(600), "reserved");
}

TEST(TextBuffer, LongAppendsKeepTheContent) {
    struct Row {
        const char* what;
        std::function<int32_t(TextBuffer&, size_t)> append;
        std::function<std::string(size_t)> piece;
        size_t steps;
    };
    const Row rows[] = {
        {"characters", [](TextBuffer& b, size_t i) { return b.AppendChar(Letter(i)); },
         [](size_t i) { return std::string(1, Letter(i)); }, 5000},
        {"texts", [](TextBuffer& b, size_t i) { return b.Append(Pattern(i % 37).c_str()); },
         [](size_t i) { return Pattern(i % 37); }, 600},
        {"counted texts",
         [](TextBuffer& b, size_t i) { return b.Append(Pattern(40).c_str(), i % 40); },
         [](size_t i) { return Pattern(i % 40); }, 600},
        {"formats", [](TextBuffer& b, size_t i) { return b.AppendFormat("<%zu>", i); },
         [](size_t i) { return std::string("<").append(std::to_string(i)).append(">"); }, 2000},
    };
    for (const Row& row : rows) {
        TextBuffer buffer;
        std::string expected;
        for (size_t i = 0; i < row.steps; ++i) {
            ASSERT_EQ(row.append(buffer, i), 0) << row.what << " step " << i;
            expected += row.piece(i);
        }
        ExpectText(buffer, expected, row.what);
    }
}

TEST(TextBuffer, AssignAndAppendFromItsOwnStorage) {
    struct Row {
        const char* what;
        size_t initial;
        std::function<int32_t(TextBuffer&)> operation;
        std::function<std::string(const std::string&)> expected;
    };
    const Row rows[] = {
        {"assign own tail, inline", 40, [](TextBuffer& b) { return b.Assign(b.c_str() + 5); },
         [](const std::string& s) { return s.substr(5); }},
        {"assign own tail, heap", 400, [](TextBuffer& b) { return b.Assign(b.c_str() + 150); },
         [](const std::string& s) { return s.substr(150); }},
        {"assign own middle", 300, [](TextBuffer& b) { return b.Assign(b.c_str() + 10, 200); },
         [](const std::string& s) { return s.substr(10, 200); }},
        {"assign itself", 300, [](TextBuffer& b) { return b.Assign(b.c_str()); },
         [](const std::string& s) { return s; }},
        {"append itself within inline storage", 30,
         [](TextBuffer& b) { return b.Append(b.c_str()); },
         [](const std::string& s) { return s + s; }},
        {"append itself moving to the heap", 80, [](TextBuffer& b) { return b.Append(b.c_str()); },
         [](const std::string& s) { return s + s; }},
        {"append itself growing the heap", 500, [](TextBuffer& b) { return b.Append(b.c_str()); },
         [](const std::string& s) { return s + s; }},
        {"append own prefix", 500, [](TextBuffer& b) { return b.Append(b.c_str(), 120); },
         [](const std::string& s) { return s + s.substr(0, 120); }},
        {"format own text, short", 20,
         [](TextBuffer& b) { return b.AppendFormat("[%s]", b.c_str()); },
         [](const std::string& s) { return s + "[" + s + "]"; }},
        {"format own text, leaving inline storage", 90,
         [](TextBuffer& b) { return b.AppendFormat("[%s]", b.c_str()); },
         [](const std::string& s) { return s + "[" + s + "]"; }},
        {"format own text, growing the heap", 150,
         [](TextBuffer& b) { return b.AppendFormat("[%s]", b.c_str()); },
         [](const std::string& s) { return s + "[" + s + "]"; }},
        {"format own text, within heap capacity", 200,
         [](TextBuffer& b) {
             const int32_t rc = b.Assign(b.c_str(), 100);  // keeps the larger storage
             return rc != 0 ? rc : b.AppendFormat("[%s]", b.c_str());
         },
         [](const std::string& s) { return s.substr(0, 100) + "[" + s.substr(0, 100) + "]"; }},
    };
    for (const Row& row : rows) {
        TextBuffer buffer;
        const std::string initial = Pattern(row.initial);
        ASSERT_EQ(buffer.Assign(initial.c_str()), 0) << row.what;
        ASSERT_EQ(row.operation(buffer), 0) << row.what;
        ExpectText(buffer, row.expected(initial), row.what);
    }
}

TEST(TextBuffer, Formatting) {
    const std::string longArgument = Pattern(300);
    struct Row {
        const char* what;
        std::function<int32_t(TextBuffer&)> format;
        std::string expected;
    };
    const Row rows[] = {
        {"integer and text", [](TextBuffer& b) { return b.AppendFormat("[%d] %s", 10060, "x"); },
         "start[10060] x"},
        {"unsigned", [](TextBuffer& b) { return b.AppendFormat("%u", 4294967295u); },
         "start4294967295"},
        {"negative", [](TextBuffer& b) { return b.AppendFormat("%d", -2147483647 - 1); },
         "start-2147483648"},
        {"version", [](TextBuffer& b) { return b.AppendFormat("%d.%d", 2, 2); }, "start2.2"},
        {"empty result", [](TextBuffer& b) { return b.AppendFormat("%s", ""); }, "start"},
        {"long result",
         [&](TextBuffer& b) { return b.AppendFormat("<%s|%d>", longArgument.c_str(), 7); },
         "start<" + longArgument + "|7>"},
        {"exactly 63 characters",
         [](TextBuffer& b) { return b.AppendFormat("%s", Pattern(63).c_str()); },
         "start" + Pattern(63)},
        {"exactly 64 characters",
         [](TextBuffer& b) { return b.AppendFormat("%s", Pattern(64).c_str()); },
         "start" + Pattern(64)},
        {"exactly 127 characters",
         [](TextBuffer& b) { return b.AppendFormat("%s", Pattern(127).c_str()); },
         "start" + Pattern(127)},
        {"exactly 128 characters",
         [](TextBuffer& b) { return b.AppendFormat("%s", Pattern(128).c_str()); },
         "start" + Pattern(128)},
    };
    for (const Row& row : rows) {
        TextBuffer buffer;
        ASSERT_EQ(buffer.Assign("start"), 0);
        ASSERT_EQ(row.format(buffer), 0) << row.what;
        ExpectText(buffer, row.expected, row.what);
    }
}

TEST(TextBuffer, FailedAllocationKeepsTheOldText) {
    const std::string big = Pattern(500);
    struct Row {
        const char* what;
        size_t initial;
        std::function<int32_t(TextBuffer&)> operation;
    };
    const Row rows[] = {
        {"assign, inline text", 10, [&](TextBuffer& b) { return b.Assign(big.c_str()); }},
        {"assign, heap text", 150, [&](TextBuffer& b) { return b.Assign(big.c_str()); }},
        {"assign counted", 10, [&](TextBuffer& b) { return b.Assign(big.c_str(), 300); }},
        {"append", 60, [&](TextBuffer& b) { return b.Append(big.c_str()); }},
        {"append counted", 60, [&](TextBuffer& b) { return b.Append(big.c_str(), 40); }},
        {"append character at the inline limit", 99,
         [](TextBuffer& b) { return b.AppendChar('z'); }},
        {"append itself", 150, [](TextBuffer& b) { return b.Append(b.c_str()); }},
        {"format", 10, [&](TextBuffer& b) { return b.AppendFormat("%s", big.c_str()); }},
        {"format short past the inline limit", 90,
         [](TextBuffer& b) { return b.AppendFormat("%d", 1234567890); }},
        {"reserve", 10, [](TextBuffer& b) { return b.Reserve(1000); }},
    };
    for (const Row& row : rows) {
        TextBuffer buffer;
        const std::string initial = Pattern(row.initial);
        ASSERT_EQ(buffer.Assign(initial.c_str()), 0) << row.what;
        int32_t rc;
        {
            const NoAllocations failing;
            rc = row.operation(buffer);
        }
        EXPECT_EQ(rc, kOutOfMemory) << row.what;
        ExpectText(buffer, initial, row.what);
        // The buffer stays usable once memory is back.
        ASSERT_EQ(buffer.Append("+"), 0) << row.what;
        ExpectText(buffer, initial + "+", row.what);
    }
}

TEST(TextBuffer, NullTextsAndClear) {
    TextBuffer buffer;
    ASSERT_EQ(buffer.Assign("abc"), 0);
    EXPECT_EQ(buffer.Append(nullptr), 0);
    EXPECT_EQ(buffer.Append(nullptr, 5), 0);
    ExpectText(buffer, "abc", "append null");
    EXPECT_EQ(buffer.Assign(nullptr), 0);
    ExpectText(buffer, "", "assign null");
    ASSERT_EQ(buffer.Assign("abcdef", 3), 0);
    ExpectText(buffer, "abc", "counted assign");

    // Clear keeps the storage: the long text fits again without allocating.
    ASSERT_EQ(buffer.Assign(Pattern(300).c_str()), 0);
    buffer.Clear();
    ExpectText(buffer, "", "cleared");
    const NoAllocations failing;
    EXPECT_EQ(buffer.Assign(Pattern(300).c_str()), 0);
    ExpectText(buffer, Pattern(300), "after clear");
}

TEST(TextBuffer, ReleaseGivesBackTheHeap) {
    TextBuffer buffer;
    ASSERT_EQ(buffer.Assign(Pattern(300).c_str()), 0);
    buffer.Release();
    ExpectText(buffer, "", "released");
    {
        // Back to inline storage: short texts still fit, long ones need the heap again.
        const NoAllocations failing;
        EXPECT_EQ(buffer.Assign(Pattern(99).c_str()), 0);
        EXPECT_EQ(buffer.Assign(Pattern(300).c_str()), kOutOfMemory);
        ExpectText(buffer, Pattern(99), "inline again");
    }
    ASSERT_EQ(buffer.Assign(Pattern(300).c_str()), 0);
    ExpectText(buffer, Pattern(300), "heap again");
    buffer.Release();
    buffer.Release();
    ExpectText(buffer, "", "released twice");
}

TEST(TextBuffer, ReleaseWipesTheTextWhenZeroMemoryIsOn) {
    struct WipeGuard {
        WipeGuard() { corvane::SetWipeOnRelease(true); }
        ~WipeGuard() { corvane::SetWipeOnRelease(false); }
    } wipe;
    TextBuffer buffer;
    ASSERT_EQ(buffer.Assign("secret password"), 0);
    buffer.Release();
    const char* storage = buffer.c_str();
    for (size_t i = 0; i < TextBuffer::kInlineSize; ++i) {
        ASSERT_EQ(storage[i], '\0') << "byte " << i;
    }
    // Heap storage is wiped and freed; the sanitizer build checks the release itself.
    ASSERT_EQ(buffer.Assign(Pattern(500).c_str()), 0);
    buffer.Release();
    ExpectText(buffer, "", "heap released");
}

}  // namespace
