// Error state through the entry points: the texts a caller reads after a failure, the
// error-state entry points, null handles, and the module-wide string record entry points.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "platform/codepage.h"
#include "tests/entry_points/engine_module.h"
#include "tests/support/system.h"

namespace {

using test::Engine;
using test::Ping;

constexpr char kEarlierText[] = "earlier failure";
constexpr int32_t kEarlierCode = 4242;

// Raw ICMP sockets need root (or CAP_NET_RAW).
const bool kPrivileged = test::Privileged();

// How a failure reached through the entry points reads afterwards.
TEST(Errors, CompletionThroughEntryPoints) {
    struct Row {
        const char* name;
        std::function<void(const Ping&)> setup;
        std::function<int32_t(const Ping&)> action;
        int32_t rc;
        const char* text;
    };
    const auto noSetup = [](const Ping&) {};
    const auto clearError = [](const Ping& p) { p.SetLastError(0, nullptr); };
    const auto earlierError = [](const Ping& p) { p.SetLastError(kEarlierCode, kEarlierText); };
    const auto open = [](const Ping& p) { return p.Set(CORVANE_PING_ACTIVE, 1); };
    const auto unknownCodePage = [](const Ping& p) {
        ASSERT_EQ(p.Config("CodePage=12345"), 0);
        p.SetLastError(0, nullptr);
    };
    const Row rows[] = {
        // Opening clears the earlier text first, so the bare socket code gets its table text:
        // Linux has no receive-all mode, and without privileges the raw socket is refused.
        {"activation refused",
         [&](const Ping& p) {
             earlierError(p);
             ASSERT_EQ(p.Config("ReceiveAll=false"), 0);
         },
         open, kPrivileged ? 10045 : 10013,
         kPrivileged ? "[10045] Operation not supported on socket" : "[10013] Access denied"},
        // Without privileges the helper library has no handle to give.
        {"helper library handle", [](const Ping& p) { ASSERT_EQ(p.Config("UseICMPDLL=true"), 0); },
         open, kPrivileged ? 0 : 120, kPrivileged ? "" : "Can't create ICMP handle."},
        {"other helper library handle",
         [](const Ping& p) { ASSERT_EQ(p.Config("UseIPHLPDLL=yes"), 0); }, open,
         kPrivileged ? 0 : 120, kPrivileged ? "" : "Can't create ICMP handle."},
        {"helper library with IPv6",
         [](const Ping& p) {
             ASSERT_EQ(p.Config("UseIPv6=true"), 0);
             ASSERT_EQ(p.Config("UseICMPDLL=1"), 0);
         },
         open, 306, "IPv6 is not supported when the UseICMPDLL configuration is set to true."},
        {"closing clears the error", earlierError,
         [](const Ping& p) { return p.Set(CORVANE_PING_ACTIVE, 0); }, 0, ""},
        {"helper mode closing clears the error",
         [](const Ping& p) {
             ASSERT_EQ(p.Config("UseICMPDLL=true"), 0);
             p.SetLastError(kEarlierCode, kEarlierText);
         },
         [](const Ping& p) { return p.Set(CORVANE_PING_ACTIVE, 0); }, 0, ""},
        {"UTF-16 host in unknown code page", unknownCodePage,
         [](const Ping& p) { return p.SetWide(CORVANE_PING_REMOTE_HOST, u"255.255.255.255"); }, 87,
         "[87] (no description available)"},
        {"UTF-16 setting in unknown code page", unknownCodePage,
         [](const Ping& p) { return p.ConfigWide(u"Timeout"); }, 87,
         "[87] (no description available)"},
        // A text already present is kept: only a missing one is filled in.
        {"existing text kept",
         [](const Ping& p) {
             ASSERT_EQ(p.Config("CodePage=12345"), 0);
             p.SetLastError(kEarlierCode, kEarlierText);
         },
         [](const Ping& p) { return p.SetWide(CORVANE_PING_REMOTE_HOST, u"x"); }, 87, kEarlierText},
        {"unknown setting", clearError, [](const Ping& p) { return p.Config("NoSuchSetting"); }, -1,
         "Unknown config setting."},
        {"empty setting", earlierError, [](const Ping& p) { return p.Config(""); }, -1,
         "Unknown config setting."},
        {"refused call", clearError,
         [](const Ping& p) { return p.DoWithText(CORVANE_PING_PING_HOST, {}); }, -1,
         "[-1] (no description available)"},
        {"success keeps the text", earlierError,
         [](const Ping& p) { return p.Set(CORVANE_PING_TIME_TO_LIVE, 3); }, 0, kEarlierText},
        {"setting keeps the text", earlierError,
         [](const Ping& p) { return p.Config("SelectWaitMillis=3"); }, 0, kEarlierText},
        {"Reset clears", earlierError, [](const Ping& p) { return p.Do(CORVANE_PING_RESET); }, 0,
         ""},
        {"unchanged code page needs no setup", noSetup,
         [](const Ping& p) { return p.SetWide(CORVANE_PING_REMOTE_HOST, u"255.255.255.255"); }, 0,
         ""},
    };
    for (const Row& row : rows) {
        Ping ping;
        row.setup(ping);
        EXPECT_EQ(row.action(ping), row.rc) << row.name;
        EXPECT_EQ(ping.LastErrorCode(), row.rc) << row.name;
        EXPECT_EQ(ping.LastError(), row.text) << row.name;
    }
}

// The two error-state pairs store what they are given, without the completion rule.
TEST(Errors, ErrorStateEntryPoints) {
    const std::string longText(150, 'x');  // beyond the inline storage
    struct Row {
        int32_t code;
        const char* text;
        const char* expected;
    };
    const Row rows[] = {
        {42, "abc", "abc"},
        {0, nullptr, ""},
        {10060, nullptr, ""},  // a bare code stays bare
        {200, "", ""},
        {-7, longText.c_str(), longText.c_str()},
        {INT32_MIN, "min", "min"},
    };
    struct Pair {
        const char* name;
        decltype(Engine().SetLastErrorAndCode) set;
        decltype(Engine().GetLastError) text;
        decltype(Engine().GetLastErrorCode) code;
        decltype(Engine().GetLastError) otherText;
        decltype(Engine().GetLastErrorCode) otherCode;
    };
    const Pair pairs[] = {
        {"last error", Engine().SetLastErrorAndCode, Engine().GetLastError,
         Engine().GetLastErrorCode, Engine().GetEventError, Engine().GetEventErrorCode},
        {"event error", Engine().SetEventErrorAndCode, Engine().GetEventError,
         Engine().GetEventErrorCode, Engine().GetLastError, Engine().GetLastErrorCode},
    };
    for (const Pair& pair : pairs) {
        for (const Row& row : rows) {
            Ping ping;
            EXPECT_EQ(pair.set(ping.handle(), 9, "first"), 9) << pair.name;
            EXPECT_EQ(pair.set(ping.handle(), row.code, row.text), row.code) << pair.name;
            const char* text = pair.text(ping.handle());
            ASSERT_NE(text, nullptr) << pair.name << " " << row.code;
            EXPECT_STREQ(text, row.expected) << pair.name << " " << row.code;
            EXPECT_EQ(pair.code(ping.handle()), row.code) << pair.name;
            // The other pair is independent.
            EXPECT_STREQ(pair.otherText(ping.handle()), "") << pair.name;
            EXPECT_EQ(pair.otherCode(ping.handle()), 0) << pair.name;
        }
    }
}

// A host may hand a returned text straight back; the copy must survive the overwrite.
TEST(Errors, ErrorTextsFromTheObjectItself) {
    const std::string longText(180, 'y');
    const std::string texts[] = {"short text", longText};
    for (const std::string& original : texts) {
        Ping ping;
        ping.SetLastError(1, original.c_str());
        EXPECT_EQ(ping.SetLastError(2, Engine().GetLastError(ping.handle())), 2);
        EXPECT_EQ(ping.LastError(), original);
        EXPECT_EQ(ping.SetEventError(3, Engine().GetLastError(ping.handle())), 3);
        EXPECT_EQ(ping.EventError(), original);
        EXPECT_EQ(ping.SetEventError(4, Engine().GetEventError(ping.handle()) + 5), 4);
        EXPECT_EQ(ping.EventError(), original.substr(5));
        EXPECT_EQ(ping.LastError(), original);
    }
}

TEST(Errors, EventErrorIsOnlyClearedByTheHost) {
    Ping ping;
    ping.SetEventError(7, "handler");
    EXPECT_EQ(ping.Do(CORVANE_PING_RESET), 0);
    ASSERT_EQ(ping.Config("UseICMPDLL=True"), 0);
    ASSERT_EQ(ping.Config("UseIPv6=True"), 0);
    EXPECT_EQ(ping.Set(CORVANE_PING_ACTIVE, 1), 306);
    EXPECT_EQ(ping.Config("Nope"), -1);
    EXPECT_EQ(ping.EventErrorCode(), 7);
    EXPECT_EQ(ping.EventError(), "handler");
    EXPECT_EQ(ping.SetEventError(0, nullptr), 0);
    EXPECT_EQ(ping.EventErrorCode(), 0);
    EXPECT_EQ(ping.EventError(), "");
}

// Every handle-taking entry point accepts null.
TEST(Errors, NullHandle) {
    const test::EntryPoints& e = Engine();
    intptr_t slots[2] = {reinterpret_cast<intptr_t>("BuildInfo"), 0};
    int32_t lengths[2] = {0, 0};
    int32_t length = 55;
    struct Row {
        const char* name;
        std::function<intptr_t()> call;
        intptr_t expected;
    };
    const Row rows[] = {
        {"Destroy", [&] { return intptr_t{e.Destroy(nullptr)}; }, 0},
        {"CheckIndex", [&] { return intptr_t{e.CheckIndex(nullptr, 1, 0)}; }, 200},
        {"Get", [&] { return e.Get(nullptr, CORVANE_PING_PACKET_SIZE, 0, &length, 0); }, 0},
        {"Get VersionTag", [&] { return e.Get(nullptr, CORVANE_PING_VERSION_TAG, 0, nullptr, 0); },
         0},
        {"Set", [&] { return intptr_t{e.Set(nullptr, CORVANE_PING_PACKET_SIZE, 0, 100, 0)}; }, 200},
        {"Set read-only", [&] { return intptr_t{e.Set(nullptr, CORVANE_PING_IDLE, 0, 1, 0)}; },
         200},
        {"Do", [&] { return intptr_t{e.Do(nullptr, CORVANE_PING_CONFIG, 1, slots, lengths, 0)}; },
         200},
        {"Do unknown", [&] { return intptr_t{e.Do(nullptr, 99, 0, nullptr, nullptr, 0)}; }, 200},
        {"GetLastError", [&] { return reinterpret_cast<intptr_t>(e.GetLastError(nullptr)); }, 0},
        {"GetLastErrorCode", [&] { return intptr_t{e.GetLastErrorCode(nullptr)}; }, 200},
        {"SetLastErrorAndCode", [&] { return intptr_t{e.SetLastErrorAndCode(nullptr, 5, "x")}; },
         200},
        {"GetEventError", [&] { return reinterpret_cast<intptr_t>(e.GetEventError(nullptr)); }, 0},
        {"GetEventErrorCode", [&] { return intptr_t{e.GetEventErrorCode(nullptr)}; }, 200},
        {"SetEventErrorAndCode",
         [&] { return intptr_t{e.SetEventErrorAndCode(nullptr, 5, nullptr)}; }, 200},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.call(), row.expected) << row.name;
    }
    EXPECT_EQ(slots[1], 0) << "Do with a null handle wrote a result";
    EXPECT_EQ(length, 55) << "Get with a null handle wrote a length";
}

TEST(Errors, CheckIndexWithObject) {
    Ping ping;
    EXPECT_EQ(Engine().CheckIndex(ping.handle(), CORVANE_PING_PACKET_SIZE, 0), 0);
    EXPECT_EQ(Engine().CheckIndex(ping.handle(), 99, -5), 0);
}

TEST(Errors, StreamRefusesNullStream) {
    int32_t param = 0;
    EXPECT_EQ(Engine().Stream(nullptr, 0, &param, 4), -1);
    EXPECT_EQ(Engine().Stream(nullptr, 1, nullptr, 0), -1);
}

// The string record shared with hosts through Corvane_EvtStr.
struct Record {
    int32_t status;
    int32_t codePage;
    int32_t ownership;  // bit 0 bytes owned, bit 1 UTF-16 owned
    char* bytes;
    char16_t* wide;
};
static_assert(sizeof(Record) == 32);

constexpr int32_t kRead = 0;
constexpr int32_t kBorrow = 1;
constexpr int32_t kCopy = 2;
constexpr int32_t kBytes = 1;
constexpr int32_t kWide = 2;

intptr_t EvtStr(Record& record, int32_t operation, const void* value, int32_t form) {
    return Engine().EvtStr(&record, operation, const_cast<void*>(value), form);
}

// Gives back what a record owns.
void Release(Record& record) {
    EvtStr(record, kBorrow, nullptr, kBytes);
}

TEST(EvtStr, NullRecord) {
    const int32_t operations[] = {kRead, kBorrow, kCopy, 3};
    for (int32_t operation : operations) {
        for (int32_t form : {kBytes, kWide}) {
            EXPECT_EQ(Engine().EvtStr(nullptr, operation, const_cast<char*>("abc"), form), 0)
                << operation << " " << form;
        }
    }
}

// Reading a form converts from the other one when only that one is held.
TEST(EvtStr, ReadConvertsBetweenForms) {
    struct Row {
        const char* name;
        int32_t codePage;
        const char* bytes;
        const char16_t* wide;
        int32_t form;
        const char* expectBytes;     // form 1 result, null: expect 0
        const char16_t* expectWide;  // form 2 result, null: expect 0
        int32_t status;
        int32_t ownership;  // after the read
    };
    const std::string ansiHe = test::InCodePage("h\xC3\xA9", plat::AnsiCodePage());
    ASSERT_FALSE(ansiHe.empty()) << "system code page " << plat::AnsiCodePage();
    const Row rows[] = {
        {"bytes held", 65001, "abc", nullptr, kBytes, "abc", nullptr, 0, 0},
        {"bytes to UTF-16", 65001, "h\xC3\xA9", nullptr, kWide, nullptr, u"hé", 0, 2},
        {"UTF-16 to bytes", 65001, nullptr, u"hé", kBytes, "h\xC3\xA9", nullptr, 0, 1},
        {"system code page", 0, ansiHe.c_str(), nullptr, kWide, nullptr, u"hé", 0, 2},
        {"1252 to UTF-16", 1252, "caf\xE9", nullptr, kWide, nullptr, u"café", 0, 2},
        {"UTF-16 to 1252", 1252, nullptr, u"café", kBytes, "caf\xE9", nullptr, 0, 1},
        {"both held", 1252, "bytes", u"wide", kWide, nullptr, u"wide", 0, 0},
        {"empty bytes", 65001, "", nullptr, kWide, nullptr, u"", 0, 0},
        {"empty UTF-16", 65001, nullptr, u"", kBytes, "", nullptr, 0, 0},
        {"nothing held", 65001, nullptr, nullptr, kBytes, nullptr, nullptr, 0, 0},
        {"nothing held UTF-16", 65001, nullptr, nullptr, kWide, nullptr, nullptr, 0, 0},
        {"unknown code page", 12345, "abc", nullptr, kWide, nullptr, nullptr, 87, 0},
        {"unknown code page bytes", 12345, nullptr, u"abc", kBytes, nullptr, nullptr, 87, 0},
    };
    for (const Row& row : rows) {
        Record record{0, row.codePage, 0, const_cast<char*>(row.bytes),
                      const_cast<char16_t*>(row.wide)};
        const intptr_t result = EvtStr(record, kRead, nullptr, row.form);
        if (row.form == kBytes && row.expectBytes != nullptr) {
            ASSERT_NE(result, 0) << row.name;
            EXPECT_STREQ(reinterpret_cast<const char*>(result), row.expectBytes) << row.name;
        } else if (row.form == kWide && row.expectWide != nullptr) {
            ASSERT_NE(result, 0) << row.name;
            EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(result)), row.expectWide)
                << row.name;
        } else {
            EXPECT_EQ(result, 0) << row.name;
        }
        EXPECT_EQ(record.status, row.status) << row.name;
        EXPECT_EQ(record.ownership, row.ownership) << row.name;
        if (row.status != 0) {
            // A failed conversion forgets both forms.
            EXPECT_EQ(record.bytes, nullptr) << row.name;
            EXPECT_EQ(record.wide, nullptr) << row.name;
        } else if (row.bytes != nullptr) {
            EXPECT_EQ(record.bytes, row.bytes) << row.name << ": the held form was replaced";
        }
        Release(record);
        EXPECT_EQ(record.ownership, 0) << row.name;
    }
}

// A read of the held form hands back the record's own pointer; converted forms stay in
// the record, so a second read gives the same text without converting again.
TEST(EvtStr, ConvertedFormIsKept) {
    Record record{0, 65001, 0, const_cast<char*>("abc"), nullptr};
    const intptr_t first = EvtStr(record, kRead, nullptr, kWide);
    ASSERT_NE(first, 0);
    EXPECT_EQ(reinterpret_cast<intptr_t>(record.wide), first);
    EXPECT_EQ(EvtStr(record, kRead, nullptr, kWide), first);
    EXPECT_EQ(EvtStr(record, kRead, nullptr, kBytes), reinterpret_cast<intptr_t>(record.bytes));
    Release(record);
}

// Store operations: 1 borrows the value, 2 keeps an owned copy; both give back what the
// record owned before and forget the other form.
TEST(EvtStr, StoreBorrowedAndCopied) {
    struct Row {
        const char* name;
        int32_t operation;
        int32_t form;
        int32_t ownership;
    };
    const Row rows[] = {
        {"borrow bytes", kBorrow, kBytes, 0},
        {"copy bytes", kCopy, kBytes, 1},
        {"borrow UTF-16", kBorrow, kWide, 0},
        {"copy UTF-16", kCopy, kWide, 2},
    };
    for (const Row& row : rows) {
        // Start from a record that owns both forms.
        Record record{0, 65001, 0, nullptr, nullptr};
        EvtStr(record, kCopy, "old", kBytes);
        ASSERT_NE(EvtStr(record, kRead, nullptr, kWide), 0) << row.name;
        ASSERT_EQ(record.ownership, 3) << row.name;

        char bytes[] = "n\xC3\xAAw";  // "nêw"
        char16_t wide[] = u"nêw";
        const void* value = row.form == kBytes ? static_cast<void*>(bytes) : wide;
        EvtStr(record, row.operation, value, row.form);
        EXPECT_EQ(record.ownership, row.ownership) << row.name;
        if (row.form == kBytes) {
            EXPECT_EQ(record.wide, nullptr) << row.name;
            ASSERT_NE(record.bytes, nullptr) << row.name;
            EXPECT_EQ(record.bytes == bytes, row.operation == kBorrow) << row.name;
        } else {
            EXPECT_EQ(record.bytes, nullptr) << row.name;
            ASSERT_NE(record.wide, nullptr) << row.name;
            EXPECT_EQ(record.wide == wide, row.operation == kBorrow) << row.name;
        }
        // A copy does not follow later changes of the caller's value.
        bytes[0] = 'N';
        wide[0] = u'N';
        const char* expectedBytes = row.operation == kCopy ? "n\xC3\xAAw" : "N\xC3\xAAw";
        const char16_t* expectedWide = row.operation == kCopy ? u"nêw" : u"Nêw";
        const intptr_t asBytes = EvtStr(record, kRead, nullptr, kBytes);
        ASSERT_NE(asBytes, 0) << row.name;
        EXPECT_STREQ(reinterpret_cast<const char*>(asBytes), expectedBytes) << row.name;
        const intptr_t asWide = EvtStr(record, kRead, nullptr, kWide);
        ASSERT_NE(asWide, 0) << row.name;
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(asWide)), expectedWide)
            << row.name;
        Release(record);
        EXPECT_EQ(record.bytes, nullptr) << row.name;
        EXPECT_EQ(record.ownership, 0) << row.name;
    }
}

TEST(EvtStr, CopyOfNullStoresNothing) {
    for (int32_t form : {kBytes, kWide}) {
        Record record{0, 65001, 0, nullptr, nullptr};
        EvtStr(record, kCopy, "owned", kBytes);
        EXPECT_EQ(EvtStr(record, kCopy, nullptr, form), 0) << form;
        EXPECT_EQ(record.bytes, nullptr) << form;
        EXPECT_EQ(record.wide, nullptr) << form;
        EXPECT_EQ(record.ownership, 0) << form;
        EXPECT_EQ(EvtStr(record, kRead, nullptr, form), 0) << form;
    }
}

// Unknown operations change nothing; unknown forms read nothing.
TEST(EvtStr, UnknownOperationsAndForms) {
    struct Row {
        int32_t operation;
        int32_t form;
        bool keepsRecord;
    };
    const Row rows[] = {
        {3, kBytes, true}, {-1, kWide, true},   {kRead, 0, true},
        {kRead, 3, true},  {kBorrow, 0, false}, {kCopy, 3, false},
    };
    for (const Row& row : rows) {
        Record record{0, 65001, 0, nullptr, nullptr};
        EvtStr(record, kCopy, "owned", kBytes);
        char* const held = record.bytes;
        EXPECT_EQ(EvtStr(record, row.operation, "other", row.form), 0)
            << row.operation << " " << row.form;
        if (row.keepsRecord) {
            EXPECT_EQ(record.bytes, held) << row.operation << " " << row.form;
            EXPECT_EQ(record.ownership, 1) << row.operation << " " << row.form;
            EXPECT_STREQ(record.bytes, "owned");
        } else {
            // A store releases what the record owned, whatever the form.
            EXPECT_EQ(record.bytes, nullptr) << row.operation << " " << row.form;
            EXPECT_EQ(record.ownership, 0) << row.operation << " " << row.form;
        }
        Release(record);
    }
}

}  // namespace
