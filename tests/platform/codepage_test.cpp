// Tests of the code page conversions against the behaviour of the Windows calls with
// flags 0.
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/last_error.h"

// Cases that hold the Linux conversions to the Windows behaviour; on Windows the
// conversion is the system's own call.
#if defined(_WIN32)
#define SKIP_ON_WINDOWS(why) GTEST_SKIP() << (why)
#else
#define SKIP_ON_WINDOWS(why) static_cast<void>(0)
#endif

namespace {

using plat::MultiByteToWideChar;
using plat::WideCharToMultiByte;

constexpr uint32_t kUntouched = 0xC0DE;  // a last error no call under test sets
constexpr char16_t kGuard16 = 0xBEEF;
constexpr char kGuard8 = '\x5A';

// Converts with the two-call pattern (size, then convert into a buffer of exactly that
// size), checking that the calls agree, that nothing past the buffer is written and that
// the last error is left alone on success.
std::u16string ToWide(uint32_t codePage, std::string_view in) {
    plat::SetLastError(kUntouched);
    const int needed =
        MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
    EXPECT_GT(needed, 0);
    EXPECT_EQ(plat::GetLastError(), kUntouched);
    if (needed <= 0) return u"<sizing failed>";
    std::vector<char16_t> buf(static_cast<size_t>(needed) + 4, kGuard16);
    const int written = MultiByteToWideChar(codePage, 0, in.data(), static_cast<int>(in.size()),
                                            buf.data(), needed);
    EXPECT_EQ(written, needed) << "sizing disagrees with the conversion";
    EXPECT_EQ(plat::GetLastError(), kUntouched);
    for (size_t i = static_cast<size_t>(needed); i < buf.size(); ++i) {
        EXPECT_EQ(buf[i], kGuard16) << "wrote past dstLen at " << i;
    }
    if (written <= 0) return u"<conversion failed>";
    return std::u16string(buf.data(), static_cast<size_t>(written));
}

std::string ToBytes(uint32_t codePage, std::u16string_view in) {
    plat::SetLastError(kUntouched);
    const int needed =
        WideCharToMultiByte(codePage, 0, in.data(), static_cast<int>(in.size()), nullptr, 0);
    EXPECT_GT(needed, 0);
    EXPECT_EQ(plat::GetLastError(), kUntouched);
    if (needed <= 0) return "<sizing failed>";
    std::vector<char> buf(static_cast<size_t>(needed) + 4, kGuard8);
    const int written = WideCharToMultiByte(codePage, 0, in.data(), static_cast<int>(in.size()),
                                            buf.data(), needed);
    EXPECT_EQ(written, needed) << "sizing disagrees with the conversion";
    EXPECT_EQ(plat::GetLastError(), kUntouched);
    for (size_t i = static_cast<size_t>(needed); i < buf.size(); ++i) {
        EXPECT_EQ(buf[i], kGuard8) << "wrote past dstLen at " << i;
    }
    if (written <= 0) return "<conversion failed>";
    return std::string(buf.data(), static_cast<size_t>(written));
}

std::string Hex(std::u16string_view s) {
    std::string out;
    char tmp[8];
    for (char16_t c : s) {
        snprintf(tmp, sizeof(tmp), "%04X ", static_cast<unsigned>(c));
        out += tmp;
    }
    return out;
}

std::string Hex(std::string_view s) {
    std::string out;
    char tmp[8];
    for (char c : s) {
        snprintf(tmp, sizeof(tmp), "%02X ", static_cast<unsigned>(static_cast<uint8_t>(c)));
        out += tmp;
    }
    return out;
}

// Strings that convert exactly both ways.
struct RoundTripCase {
    uint32_t codePage;
    std::string_view bytes;
    std::u16string_view wide;
};

using namespace std::string_view_literals;

const RoundTripCase kRoundTrips[] = {
    {65001, "plain ASCII", u"plain ASCII"},
    {65001, "\xC3\xA9", u"\u00E9"},
    {65001, "\xDF\xBF\xE0\xA0\x80", u"\u07FF\u0800"},
    {65001, "\xE2\x82\xAC\xEF\xBF\xBF", u"\u20AC\uFFFF"},
    {65001, "\xED\x9F\xBF\xEE\x80\x80", u"\uD7FF\uE000"},
    {65001, "\xEF\xBB\xBFx", u"\uFEFFx"},  // a BOM is a character like any other
    {65001, "\xF0\x90\x80\x80", u"\xD800\xDC00"},
    {65001, "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
    {65001, "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
    {65001, "a\0b\0"sv, u"a\0b\0"sv},
    {65001, "\xE6\x97\xA5\xE6\x9C\xAC", u"\u65E5\u672C"},
    {1252, "\x80", u"\u20AC"},
    {1252, "\x8C\x99\x9F", u"\u0152\u2122\u0178"},
    // The whole range where 1252 differs from ISO-8859-1.
    {1252,
     "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F"
     "\x90\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9D\x9E\x9F",
     u"\u20AC\u0081\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152"
     u"\u008D\u017D\u008F\u0090\u2018\u2019\u201C\u201D\u2022\u2013\u2014\u02DC\u2122"
     u"\u0161\u203A\u0153\u009D\u017E\u0178"},
    {1252, "\x81\x8D\x8F\x90\x9D", u"\u0081\u008D\u008F\u0090\u009D"},
    {1252, "caf\xE9 \xA0\xFF", u"caf\u00E9 \u00A0\u00FF"},
    {28591, "\x80\x9F\xA4\xFF", u"\u0080\u009F\u00A4\u00FF"},
    {20127, "Hello ~\x7F", u"Hello ~\u007F"},
    {932, "\x93\xFA\x96\x7B", u"\u65E5\u672C"},
    {932, "A\x82\xA0\xB1", u"A\u3042\uFF71"},  // hiragana a, half-width katakana a
    {932, "a\0\x93\xFA"sv, u"a\0\u65E5"sv},
    {936, "\xD6\xD0", u"\u4E2D"},
    {936, "x\xB9\xFA", u"x\u56FD"},
    {949, "\xC7\xD1", u"\uD55C"},
    {949, "\xB1\xDB!", u"\uAE00!"},
    {950, "\xA4\xA4", u"\u4E2D"},
    {950, "\xA4\xE5.", u"\u6587."},
};

TEST(CodePage, RoundTripsEachCodePage) {
    for (const RoundTripCase& c : kRoundTrips) {
        SCOPED_TRACE(testing::Message()
                     << "code page " << c.codePage << ", bytes " << Hex(c.bytes));
        EXPECT_EQ(Hex(ToWide(c.codePage, c.bytes)), Hex(c.wide));
        EXPECT_EQ(Hex(ToBytes(c.codePage, c.wide)), Hex(c.bytes));
    }
}

TEST(CodePage, CodePageZeroIsUtf8) {
    SKIP_ON_WINDOWS("code page 0 is the system's ANSI code page, UTF-8 only on Linux");
    EXPECT_EQ(plat::AnsiCodePage(), 65001u);
    const std::string_view bytes[] = {"abc",
                                      "\xE2\x82\xAC",
                                      "\xF0\x9F\x98\x80",
                                      "\xC0\xAF",
                                      "\xE2\x82"
                                      "A",
                                      "\xE9t\xE9"};
    for (std::string_view b : bytes) {
        SCOPED_TRACE(Hex(b));
        EXPECT_EQ(Hex(ToWide(0, b)), Hex(ToWide(65001, b)));
    }
    const std::u16string_view wide[] = {u"abc", u"\u20AC\u00E9", u"\xD83D\xDE00", u"\xD800x"};
    for (std::u16string_view w : wide) {
        SCOPED_TRACE(Hex(w));
        EXPECT_EQ(Hex(ToBytes(0, w)), Hex(ToBytes(65001, w)));
    }
}

// Malformed input is replaced, never refused.
struct ToWideCase {
    uint32_t codePage;
    std::string_view bytes;
    std::u16string_view wide;
};

const ToWideCase kMalformed[] = {
    // UTF-8: one U+FFFD per maximal ill-formed subpart.
    {65001,
     "\xE2\x82"
     "A",
     u"\uFFFDA"},                    // truncated 3-byte sequence
    {65001, "\xE2\x82", u"\uFFFD"},  // truncated at the end
    {65001, "\xF0\x9F\x98", u"\uFFFD"},
    {65001,
     "\xF0\x9F\x98"
     "A",
     u"\uFFFDA"},
    {65001, "\xC3\xA9\xC3", u"\u00E9\uFFFD"},
    {65001, "\xC2\xC2\xA9", u"\uFFFD\u00A9"},  // a lead byte cuts the sequence
    {65001, "\xC0\xAF", u"\uFFFD\uFFFD"},      // overlong '/'
    {65001, "\xC1\xBF", u"\uFFFD\uFFFD"},
    {65001, "\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},  // overlong
    {65001, "\xE0\x9F\xBF", u"\uFFFD\uFFFD\uFFFD"},
    {65001, "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    {65001, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // surrogate D800
    {65001, "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},            // surrogate DFFF
    {65001, "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // U+110000
    {65001, "\xF5\x80", u"\uFFFD\uFFFD"},
    {65001, "\xFF\xFE", u"\uFFFD\uFFFD"},
    {65001, "\x80x\xBF", u"\uFFFDx\uFFFD"},                              // stray continuation bytes
    {65001, "\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},  // old 5-byte form
    // The example of the Unicode standard, section 3.9 (U+FFFD substitution).
    {65001, "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
     u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
    // Legacy code pages: a refused or cut-short sequence is one U+FFFD, and conversion
    // goes on after its first byte.
    {20127, "\x80", u"\uFFFD"},
    {20127,
     "A\xFF"
     "B",
     u"A\uFFFDB"},
    {932, "A\x93", u"A\uFFFD"},
    {932, "\x81 x", u"\uFFFD x"},
    {936, "\xD6", u"\uFFFD"},
    {936, "\xD6 \xD6\xD0", u"\uFFFD \u4E2D"},
    {949, "\xC7", u"\uFFFD"},
    {949, "\xC7 ", u"\uFFFD "},
    {950, "\xA4", u"\uFFFD"},
    {950, "\xA4 \xA4\xA4", u"\uFFFD \u4E2D"},
};

TEST(CodePage, MalformedInputIsReplaced) {
    SKIP_ON_WINDOWS("pins the replacement rules of the Linux conversions");
    for (const ToWideCase& c : kMalformed) {
        SCOPED_TRACE(testing::Message()
                     << "code page " << c.codePage << ", bytes " << Hex(c.bytes));
        EXPECT_EQ(Hex(ToWide(c.codePage, c.bytes)), Hex(c.wide));
    }
}

struct ToBytesCase {
    uint32_t codePage;
    std::u16string_view wide;
    std::string_view bytes;
};

const ToBytesCase kUnrepresentable[] = {
    // UTF-8: an unpaired surrogate becomes U+FFFD.
    {65001, u"\xD800", "\xEF\xBF\xBD"},
    {65001, u"\xDC00", "\xEF\xBF\xBD"},
    {65001,
     u"\xD800"
     "A",
     "\xEF\xBF\xBD"
     "A"},
    {65001, u"\xDC00\xD800", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // pair in the wrong order
    {65001, u"\xD800\xD800\xDC00", "\xEF\xBF\xBD\xF0\x90\x80\x80"},
    {65001, u"x\xDFFF", "x\xEF\xBF\xBD"},
    // Other code pages: "?" for each character they cannot hold.
    {20127, u"\u00E9", "?"},
    {20127, u"A\u20ACB", "A?B"},
    {20127, u"\u0080\u00FF", "??"},
    {1252, u"\u0100\u4E2D", "??"},
    {1252, u"\xD83D\xDE00", "?"},
    {1252, u"\xD800", "?"},
    {28591, u"\u20AC\u0100", "??"},
    {932, u"\u65E5\uD55C", "\x93\xFA?"},
    {932, u"\u0E01", "?"},
    {936, u"\uD55C\u4E2D", "?\xD6\xD0"},
    {949, u"\u0E01\uD55C", "?\xC7\xD1"},
    {950, u"\uD55C\u4E2D", "?\xA4\xA4"},
    {932,
     u"\xD83D\xDE00"
     "A",
     "?A"},  // a character outside the BMP
    {936,
     u"\xD800"
     "A",
     "?A"},  // unpaired surrogates
    {949, u"A\xDC00", "A?"},
    {950, u"A\xD800", "A?"},
};

TEST(CodePage, UnrepresentableCharactersAreReplaced) {
    SKIP_ON_WINDOWS("Windows maps with best-fit characters where the Linux conversions put \"?\"");
    for (const ToBytesCase& c : kUnrepresentable) {
        SCOPED_TRACE(testing::Message() << "code page " << c.codePage << ", wide " << Hex(c.wide));
        EXPECT_EQ(Hex(ToBytes(c.codePage, c.wide)), Hex(c.bytes));
    }
}

// srcLen -1: the NUL is converted and counted, in both directions.
TEST(CodePage, NulTerminatedSourceCountsTheNul) {
    const RoundTripCase cases[] = {
        {65001, "", u""},
        {65001, "a\xE2\x82\xAC", u"a\u20AC"},
        {65001, "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
        {1252, "\x80x", u"\u20ACx"},
        {932, "\x93\xFA\x96\x7B", u"\u65E5\u672C"},
        {949, "\xC7\xD1", u"\uD55C"},
    };
    for (const RoundTripCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "code page " << c.codePage << ", bytes " << Hex(c.bytes));
        const std::string bytes(c.bytes);
        const std::u16string wide(c.wide);
        const int wideLen = static_cast<int>(wide.size()) + 1;
        const int bytesLen = static_cast<int>(bytes.size()) + 1;

        EXPECT_EQ(MultiByteToWideChar(c.codePage, 0, bytes.c_str(), -1, nullptr, 0), wideLen);
        std::vector<char16_t> w(static_cast<size_t>(wideLen), kGuard16);
        ASSERT_EQ(MultiByteToWideChar(c.codePage, 0, bytes.c_str(), -1, w.data(), wideLen),
                  wideLen);
        EXPECT_EQ(Hex(std::u16string_view(w.data(), w.size())),
                  Hex(std::u16string_view(wide.c_str(), wide.size() + 1)));

        EXPECT_EQ(WideCharToMultiByte(c.codePage, 0, wide.c_str(), -1, nullptr, 0), bytesLen);
        std::vector<char> b(static_cast<size_t>(bytesLen), kGuard8);
        ASSERT_EQ(WideCharToMultiByte(c.codePage, 0, wide.c_str(), -1, b.data(), bytesLen),
                  bytesLen);
        EXPECT_EQ(Hex(std::string_view(b.data(), b.size())),
                  Hex(std::string_view(bytes.c_str(), bytes.size() + 1)));

        // Room for the characters but not the NUL is too small.
        if (wideLen > 1) {
            plat::SetLastError(kUntouched);
            EXPECT_EQ(MultiByteToWideChar(c.codePage, 0, bytes.c_str(), -1, w.data(), wideLen - 1),
                      0);
            EXPECT_EQ(plat::GetLastError(), plat::kErrorInsufficientBuffer);
            plat::SetLastError(kUntouched);
            EXPECT_EQ(WideCharToMultiByte(c.codePage, 0, wide.c_str(), -1, b.data(), bytesLen - 1),
                      0);
            EXPECT_EQ(plat::GetLastError(), plat::kErrorInsufficientBuffer);
        }
    }
}

// Every buffer shorter than the output fails with 122 and never writes past dstLen.
TEST(CodePage, TooSmallBufferFails) {
    SKIP_ON_WINDOWS("pins the Linux conversions; the Windows call is the system's");
    const RoundTripCase cases[] = {
        {65001, "abc", u"abc"},
        {65001, "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},  // a pair must not be split
        {65001, "a\xE2\x82\xAC", u"a\u20AC"},          // a sequence must not be split
        {1252, "\x80\x81", u"\u20AC\u0081"},
        {20127, "ok", u"ok"},
        {932, "\x93\xFA\x96\x7B", u"\u65E5\u672C"},
        {936, "a\xD6\xD0", u"a\u4E2D"},
        {950, "\xA4\xA4\xA4\xE5", u"\u4E2D\u6587"},
    };
    for (const RoundTripCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "code page " << c.codePage << ", bytes " << Hex(c.bytes));
        const int wideLen = static_cast<int>(c.wide.size());
        const int bytesLen = static_cast<int>(c.bytes.size());
        for (int cap = 1; cap < wideLen; ++cap) {
            std::vector<char16_t> w(static_cast<size_t>(wideLen), kGuard16);
            plat::SetLastError(kUntouched);
            EXPECT_EQ(MultiByteToWideChar(c.codePage, 0, c.bytes.data(), bytesLen, w.data(), cap),
                      0)
                << "dstLen " << cap;
            EXPECT_EQ(plat::GetLastError(), plat::kErrorInsufficientBuffer);
            for (size_t i = static_cast<size_t>(cap); i < w.size(); ++i)
                EXPECT_EQ(w[i], kGuard16);
        }
        for (int cap = 1; cap < bytesLen; ++cap) {
            std::vector<char> b(static_cast<size_t>(bytesLen), kGuard8);
            plat::SetLastError(kUntouched);
            EXPECT_EQ(WideCharToMultiByte(c.codePage, 0, c.wide.data(), wideLen, b.data(), cap), 0)
                << "dstLen " << cap;
            EXPECT_EQ(plat::GetLastError(), plat::kErrorInsufficientBuffer);
            for (size_t i = static_cast<size_t>(cap); i < b.size(); ++i)
                EXPECT_EQ(b[i], kGuard8);
        }
    }
}

// Bad arguments and unknown code pages fail with 87 and write nothing.
TEST(CodePage, BadArgumentsFail) {
    SKIP_ON_WINDOWS("pins the Linux conversions; the Windows call is the system's");
    struct Case {
        const char* what;
        uint32_t codePage;
        bool nullSrc;
        int srcLen;
        bool nullDst;
        int dstLen;
    };
    const Case cases[] = {
        {"srcLen 0", 65001, false, 0, false, 8},
        {"srcLen 0, sizing", 65001, false, 0, true, 0},
        {"null src", 65001, true, 3, false, 8},
        {"null src, -1", 65001, true, -1, false, 8},
        {"srcLen -2", 65001, false, -2, false, 8},
        {"dstLen -1", 65001, false, 3, false, -1},
        {"null dst", 65001, false, 3, true, 8},
        {"srcLen 0, legacy", 932, false, 0, false, 8},
        {"null dst, legacy", 936, false, 3, true, 8},
        {"dstLen -5, legacy", 1252, false, 3, false, -5},
        {"unknown code page 1", 1, false, 3, false, 8},
        {"unknown code page 42", 42, false, 3, false, 8},
        {"unknown code page 99999", 99999, false, 3, false, 8},
        {"unknown code page, sizing", 31337, false, -1, true, 0},
    };
    const char bytes[] = "abc";
    const char16_t wide[] = u"abc";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        char16_t w[8] = {kGuard16, kGuard16, kGuard16, kGuard16,
                         kGuard16, kGuard16, kGuard16, kGuard16};
        plat::SetLastError(kUntouched);
        EXPECT_EQ(MultiByteToWideChar(c.codePage, 0, c.nullSrc ? nullptr : bytes, c.srcLen,
                                      c.nullDst ? nullptr : w, c.dstLen),
                  0);
        EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidParameter);
        for (char16_t u : w)
            EXPECT_EQ(u, kGuard16);

        char b[8] = {kGuard8, kGuard8, kGuard8, kGuard8, kGuard8, kGuard8, kGuard8, kGuard8};
        plat::SetLastError(kUntouched);
        EXPECT_EQ(WideCharToMultiByte(c.codePage, 0, c.nullSrc ? nullptr : wide, c.srcLen,
                                      c.nullDst ? nullptr : b, c.dstLen),
                  0);
        EXPECT_EQ(plat::GetLastError(), plat::kErrorInvalidParameter);
        for (char u : b)
            EXPECT_EQ(u, kGuard8);
    }
}

// Long input crosses any internal chunking, and the sizes still agree.
TEST(CodePage, LongInputConvertsWhole) {
    const RoundTripCase units[] = {
        {65001, "\xE6\x97\xA5", u"\u65E5"}, {932, "\x93\xFA", u"\u65E5"},
        {936, "\xD6\xD0", u"\u4E2D"},       {949, "\xC7\xD1", u"\uD55C"},
        {950, "\xA4\xA4", u"\u4E2D"},       {1252, "\x80", u"\u20AC"},
    };
    for (const RoundTripCase& u : units) {
        SCOPED_TRACE(testing::Message() << "code page " << u.codePage);
        std::string bytes;
        std::u16string wide;
        for (int i = 0; i < 5000; ++i) {
            bytes += u.bytes;
            wide += u.wide;
            if (i % 7 == 0) {
                bytes += 'x';
                wide += u'x';
            }
        }
        EXPECT_TRUE(ToWide(u.codePage, bytes) == wide);
        EXPECT_TRUE(ToBytes(u.codePage, wide) == bytes);
    }
}

// Concurrent conversions in several code pages on several threads give the same results.
TEST(CodePage, ConcurrentConversionsAgree) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 300; ++i) {
                const RoundTripCase& c =
                    kRoundTrips[static_cast<size_t>(t + i) %
                                (sizeof(kRoundTrips) / sizeof(kRoundTrips[0]))];
                char16_t w[64];
                char b[64];
                const int wn = MultiByteToWideChar(c.codePage, 0, c.bytes.data(),
                                                   static_cast<int>(c.bytes.size()), w, 64);
                const int bn = WideCharToMultiByte(c.codePage, 0, c.wide.data(),
                                                   static_cast<int>(c.wide.size()), b, 64);
                if (std::u16string_view(w, static_cast<size_t>(wn)) != c.wide ||
                    std::string_view(b, static_cast<size_t>(bn)) != c.bytes) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
