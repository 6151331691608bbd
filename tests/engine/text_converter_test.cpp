// One string in byte and UTF-16 form: conversions in both directions, what a failure
// leaves, the property holders and the lazily filled result pool.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/core/memory.h"
#include "engine/core/text_converter.h"

namespace {

using corvane::ConverterPool;
using corvane::TextConverter;
using corvane::WideHolder;

constexpr int32_t kUtf8 = 65001;
constexpr int32_t kWestern = 1252;
constexpr int32_t kUnknownCodePage = 12345;
constexpr int32_t kInvalidParameter = 87;
constexpr int32_t kNotEnoughMemory = 8;

// Lets `successes` more engine allocations through, then fails the rest until scope exit.
class AllocationsFailAfter {
  public:
    explicit AllocationsFailAfter(long successes) { corvane::SetAllocationFailureAfter(successes); }
    ~AllocationsFailAfter() { corvane::SetAllocationFailureAfter(-1); }
    AllocationsFailAfter(const AllocationsFailAfter&) = delete;
    AllocationsFailAfter& operator=(const AllocationsFailAfter&) = delete;
};

TextConverter Converter(int32_t codePage) {
    TextConverter converter{};
    converter.codePage = codePage;
    return converter;
}

std::u16string Wide(const char16_t* text) {
    return text != nullptr ? std::u16string(text) : std::u16string(u"<null>");
}

TEST(TextConverter, BytesToUtf16) {
    struct Row {
        int32_t codePage;
        const char* bytes;
        bool copy;
        const char16_t* expected;
    };
    const Row rows[] = {
        {kUtf8, "plain", false, u"plain"},
        {kUtf8,
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE5\xB7\xA5\xE5\x85\xB7",
         false, u"Grüße 工具"},
        {kUtf8, "\xF0\x9F\x98\x80", true, u"\U0001F600"},
        {kWestern, "caf\xE9 \x80", false, u"café €"},
        {kWestern, "owned \xE9", true, u"owned é"},
        {kUtf8, "", false, u""},
    };
    for (const Row& row : rows) {
        TextConverter converter = Converter(row.codePage);
        ASSERT_TRUE(converter.SetBytes(row.bytes, row.copy));
        ASSERT_TRUE(converter.ConvertToWide()) << row.bytes;
        EXPECT_EQ(Wide(converter.wide), row.expected) << row.bytes;
        EXPECT_STREQ(converter.bytes, row.bytes);
        EXPECT_EQ(converter.status, 0);
        const int32_t expectedOwnership =
            TextConverter::kOwnsWide | (row.copy ? TextConverter::kOwnsBytes : 0);
        EXPECT_EQ(converter.ownership, expectedOwnership) << row.bytes;
        EXPECT_EQ(converter.bytes == row.bytes, !row.copy) << "borrowed or copied " << row.bytes;
        converter.Release();
        EXPECT_EQ(converter.bytes, nullptr);
        EXPECT_EQ(converter.wide, nullptr);
        EXPECT_EQ(converter.ownership, 0);
    }
}

TEST(TextConverter, Utf16ToBytes) {
    struct Row {
        int32_t codePage;
        const char16_t* wide;
        bool copy;
        const char* expected;
    };
    const Row rows[] = {
        {kUtf8, u"plain", false, "plain"},
        {kUtf8, u"Grüße 工具", true,
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE5\xB7\xA5\xE5\x85\xB7"},
        {kWestern, u"café €", false, "caf\xE9 \x80"},
        {kWestern, u"工", false, "?"},
        {kUtf8, u"", true, ""},
    };
    for (const Row& row : rows) {
        TextConverter converter = Converter(row.codePage);
        ASSERT_TRUE(converter.SetWide(row.wide, row.copy));
        ASSERT_TRUE(converter.ConvertToBytes()) << row.expected;
        EXPECT_STREQ(converter.bytes, row.expected);
        EXPECT_EQ(Wide(converter.wide), row.wide);
        const int32_t expectedOwnership =
            TextConverter::kOwnsBytes | (row.copy ? TextConverter::kOwnsWide : 0);
        EXPECT_EQ(converter.ownership, expectedOwnership) << row.expected;
        converter.Release();
    }
}

TEST(TextConverter, FailureReleasesBothFormsAndSetsStatus) {
    struct Row {
        const char* what;
        int32_t codePage;
        long allocations;  // allowed before failure, -1 for no limit
        bool fromBytes;
        bool copy;
        int32_t status;
    };
    const Row rows[] = {
        {"unknown code page, borrowed bytes", kUnknownCodePage, -1, true, false, kInvalidParameter},
        {"unknown code page, owned bytes", kUnknownCodePage, -1, true, true, kInvalidParameter},
        {"unknown code page, borrowed UTF-16", kUnknownCodePage, -1, false, false,
         kInvalidParameter},
        {"unknown code page, owned UTF-16", kUnknownCodePage, -1, false, true, kInvalidParameter},
        {"no memory for UTF-16", kUtf8, 1, true, true, kNotEnoughMemory},
        {"no memory for bytes", kUtf8, 1, false, true, kNotEnoughMemory},
    };
    for (const Row& row : rows) {
        TextConverter converter = Converter(row.codePage);
        bool converted;
        {
            const AllocationsFailAfter limit(row.allocations);
            ASSERT_TRUE(row.fromBytes ? converter.SetBytes("text", row.copy)
                                      : converter.SetWide(u"text", row.copy))
                << row.what;
            converted = row.fromBytes ? converter.ConvertToWide() : converter.ConvertToBytes();
        }
        EXPECT_FALSE(converted) << row.what;
        EXPECT_EQ(converter.status, row.status) << row.what;
        EXPECT_EQ(converter.bytes, nullptr) << row.what;
        EXPECT_EQ(converter.wide, nullptr) << row.what;
        EXPECT_EQ(converter.ownership, 0) << row.what;
    }
}

TEST(TextConverter, NothingToConvertAndNothingMissing) {
    struct Row {
        const char* what;
        const char* bytes;
        const char16_t* wide;
        bool toWide;
        bool expected;
    };
    const Row rows[] = {
        {"no form to wide", nullptr, nullptr, true, false},
        {"no form to bytes", nullptr, nullptr, false, false},
        {"both forms, to wide", "bytes", u"wide", true, true},
        {"both forms, to bytes", "bytes", u"wide", false, true},
    };
    for (const Row& row : rows) {
        // An unknown code page proves that nothing is converted.
        TextConverter converter = Converter(kUnknownCodePage);
        converter.bytes = const_cast<char*>(row.bytes);
        converter.wide = const_cast<char16_t*>(row.wide);
        EXPECT_EQ(row.toWide ? converter.ConvertToWide() : converter.ConvertToBytes(), row.expected)
            << row.what;
        EXPECT_EQ(converter.bytes, row.bytes) << row.what;
        EXPECT_EQ(converter.wide, row.wide) << row.what;
        EXPECT_EQ(converter.status, 0) << row.what;
    }
}

TEST(TextConverter, SettingAFormReplacesWhatWasOwned) {
    TextConverter converter = Converter(kUtf8);
    ASSERT_TRUE(converter.SetBytes("first", true));
    ASSERT_TRUE(converter.ConvertToWide());
    ASSERT_TRUE(converter.SetWide(u"second", false));
    EXPECT_EQ(converter.bytes, nullptr);
    EXPECT_EQ(Wide(converter.wide), u"second");
    EXPECT_EQ(converter.ownership, 0);

    // A copy that cannot be stored leaves the record empty.
    {
        const AllocationsFailAfter limit(0);
        EXPECT_FALSE(converter.SetBytes("third", true));
    }
    EXPECT_EQ(converter.bytes, nullptr);
    EXPECT_EQ(converter.wide, nullptr);
    EXPECT_EQ(converter.ownership, 0);
    {
        const AllocationsFailAfter limit(0);
        EXPECT_FALSE(converter.SetWide(u"fourth", true));
    }
    EXPECT_EQ(converter.wide, nullptr);
    converter.Release();
}

TEST(WideHolder, HoldsTheConversionOfACopy) {
    struct Row {
        const char* what;
        const char* text;
        int32_t codePage;
        long allocations;
        // null for the static empty string, else the expected text
        const char16_t* expected;
        bool expectNull;
    };
    const Row rows[] = {
        {"text", "10.0.0.1", kUtf8, -1, u"10.0.0.1", false},
        {"code page of the call", "caf\xE9", kWestern, -1, u"café", false},
        {"empty text", "", kUtf8, 0, nullptr, false},
        {"null text", nullptr, kUtf8, 0, nullptr, false},
        {"failed conversion", "text", kUnknownCodePage, -1, nullptr, false},
        {"no memory for the conversion", "text", kUtf8, 1, nullptr, false},
        {"no memory for the copy", "text", kUtf8, 0, nullptr, true},
    };
    for (const Row& row : rows) {
        WideHolder holder;
        const char16_t* held;
        {
            const AllocationsFailAfter limit(row.allocations);
            held = holder.Hold(row.text, row.codePage);
        }
        if (row.expectNull) {
            EXPECT_EQ(held, nullptr) << row.what;
        } else if (row.expected == nullptr) {
            EXPECT_EQ(held, corvane::kEmptyWide) << row.what;
        } else {
            ASSERT_NE(held, nullptr) << row.what;
            EXPECT_EQ(std::u16string(held), row.expected) << row.what;
        }
    }
}

TEST(WideHolder, KeepsItsOwnCopy) {
    WideHolder holder;
    char source[] = "first";
    const char16_t* held = holder.Hold(source, kUtf8);
    source[0] = 'X';
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(std::u16string(held), u"first");
    const char16_t* again = holder.Hold("second value", kUtf8);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(std::u16string(again), u"second value");
    EXPECT_EQ(holder.Hold("", kUtf8), corvane::kEmptyWide);
}

TEST(ConverterPool, SlotsAreCreatedOnFirstUse) {
    struct Row {
        int32_t count;
        int32_t index;
        bool exists;
    };
    const Row rows[] = {
        {1, 0, true}, {1, 1, false}, {1, -1, false}, {0, 0, false}, {1, 1000, false}};
    for (const Row& row : rows) {
        ConverterPool pool(row.count);
        TextConverter* slot = pool.Slot(row.index);
        EXPECT_EQ(slot != nullptr, row.exists) << "count " << row.count << " index " << row.index;
        if (slot == nullptr) continue;
        EXPECT_EQ(slot->status, 0);
        EXPECT_EQ(slot->ownership, 0);
        EXPECT_EQ(slot->bytes, nullptr);
        EXPECT_EQ(slot->wide, nullptr);
        EXPECT_EQ(pool.Slot(row.index), slot) << "the same slot on every use";
    }
}

TEST(ConverterPool, SlotNeedsMemoryOnlyWhenFirstUsed) {
    // Construction allocates nothing; the first use does, and may fail and be retried.
    AllocationsFailAfter limit(0);
    ConverterPool pool(1);
    EXPECT_EQ(pool.Slot(0), nullptr);
    corvane::SetAllocationFailureAfter(-1);
    TextConverter* slot = pool.Slot(0);
    ASSERT_NE(slot, nullptr);
    // What the slot owns goes with the pool.
    slot->codePage = kUtf8;
    ASSERT_TRUE(slot->SetBytes("owned result", true));
    ASSERT_TRUE(slot->ConvertToWide());
    corvane::SetAllocationFailureAfter(0);
    EXPECT_EQ(pool.Slot(0), slot) << "an existing slot needs no memory";
}

}  // namespace
