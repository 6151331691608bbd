// Linux backend of the code page conversions. UTF-8 (the ANSI code page on Linux) and the
// single-byte code pages are converted by hand; the double-byte East Asian code pages go
// through iconv, with one set of descriptors cached per thread.
#include "platform/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>

#include "platform/last_error.h"

namespace plat {

namespace {

constexpr char16_t kReplacementChar = 0xFFFD;
constexpr char kDefaultChar = '?';

// Collects output units: counts them when there is no destination (a sizing call),
// otherwise writes them and notes when the destination is full.
template <typename Unit>
class Sink {
  public:
    Sink(Unit* dst, int cap) : dst_(dst), cap_(cap) {}

    // Returns false once the destination is too small; the caller should stop then.
    bool Put(Unit u) {
        if (dst_ != nullptr) {
            if (count_ >= cap_) {
                overflow_ = true;
                return false;
            }
            dst_[count_] = u;
        }
        ++count_;
        return true;
    }

    bool Put(const Unit* units, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            if (!Put(units[i])) return false;
        }
        return true;
    }

    bool overflow() const { return overflow_; }

    // The value the API call returns, setting the error on failure.
    int Result() const {
        if (overflow_ || (dst_ == nullptr && count_ > INT_MAX)) {
            SetLastError(kErrorInsufficientBuffer);
            return 0;
        }
        return static_cast<int>(count_);
    }

  private:
    Unit* dst_;
    int64_t cap_;
    int64_t count_ = 0;
    bool overflow_ = false;
};

// ---------------------------------------------------------------------------------------
// UTF-8

bool IsContinuation(uint8_t b) {
    return (b & 0xC0) == 0x80;
}

// Decodes UTF-8 with each maximal ill-formed subpart replaced by U+FFFD (Unicode 3.9,
// table 3-7 ranges).
int Utf8ToUtf16(const uint8_t* s, size_t n, char16_t* dst, int dstLen) {
    Sink<char16_t> out(dst, dstLen);
    size_t i = 0;
    while (i < n) {
        const uint8_t b0 = s[i];
        if (b0 < 0x80) {
            if (!out.Put(static_cast<char16_t>(b0))) break;
            ++i;
            continue;
        }
        size_t need;                   // continuation bytes after the lead byte
        uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the first continuation byte
        uint32_t cp;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            need = 1;
            cp = b0 & 0x1F;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            need = 2;
            cp = b0 & 0x0F;
            if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
            if (b0 == 0xED) hi = 0x9F;  // no surrogates
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            need = 3;
            cp = b0 & 0x07;
            if (b0 == 0xF0) lo = 0x90;  // no overlong forms
            if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
        } else {
            // A stray continuation byte, C0/C1 or F5..FF.
            if (!out.Put(kReplacementChar)) break;
            ++i;
            continue;
        }
        size_t j = i + 1;
        bool ok = true;
        for (size_t k = 0; k < need; ++k, ++j) {
            if (j >= n) {
                ok = false;
                break;
            }
            const uint8_t b = s[j];
            const bool inRange = k == 0 ? (b >= lo && b <= hi) : IsContinuation(b);
            if (!inRange) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (b & 0x3F);
        }
        i = j;  // the whole sequence, or the maximal subpart that was accepted
        if (!ok) {
            if (!out.Put(kReplacementChar)) break;
        } else if (cp < 0x10000) {
            if (!out.Put(static_cast<char16_t>(cp))) break;
        } else {
            cp -= 0x10000;
            if (!out.Put(static_cast<char16_t>(0xD800 + (cp >> 10)))) break;
            if (!out.Put(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)))) break;
        }
    }
    return out.Result();
}

int Utf16ToUtf8(const char16_t* s, size_t n, char* dst, int dstLen) {
    Sink<char> out(dst, dstLen);
    size_t i = 0;
    while (i < n) {
        uint32_t cp = s[i++];
        if (cp < 0x80) {
            if (!out.Put(static_cast<char>(cp))) break;
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            if (cp <= 0xDBFF && i < n && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i] - 0xDC00);
                ++i;
            } else {
                cp = kReplacementChar;  // an unpaired surrogate
            }
        }
        char buf[4];
        size_t len;
        if (cp < 0x800) {
            buf[0] = static_cast<char>(0xC0 | (cp >> 6));
            buf[1] = static_cast<char>(0x80 | (cp & 0x3F));
            len = 2;
        } else if (cp < 0x10000) {
            buf[0] = static_cast<char>(0xE0 | (cp >> 12));
            buf[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            buf[2] = static_cast<char>(0x80 | (cp & 0x3F));
            len = 3;
        } else {
            buf[0] = static_cast<char>(0xF0 | (cp >> 18));
            buf[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            buf[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            buf[3] = static_cast<char>(0x80 | (cp & 0x3F));
            len = 4;
        }
        if (!out.Put(buf, len)) break;
    }
    return out.Result();
}

// ---------------------------------------------------------------------------------------
// Single-byte code pages: 1252, 28591, 20127.

// Code page 1252 bytes 0x80..0x9F. The five bytes Windows leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) map to the code point of the same value, as Windows does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

char16_t SingleByteToUnit(uint32_t codePage, uint8_t b) {
    if (b < 0x80) return b;
    switch (codePage) {
        case 1252:
            return b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
        case 28591:
            return b;
        default:  // 20127
            return kReplacementChar;
    }
}

// Returns the byte for one code point, or -1 when the code page has none.
int CodePointToSingleByte(uint32_t codePage, uint32_t cp) {
    if (cp < 0x80) return static_cast<int>(cp);
    switch (codePage) {
        case 1252:
            if (cp >= 0xA0 && cp <= 0xFF) return static_cast<int>(cp);
            for (int k = 0; k < 32; ++k) {
                if (kCp1252High[k] == cp) return 0x80 + k;
            }
            return -1;
        case 28591:
            return cp <= 0xFF ? static_cast<int>(cp) : -1;
        default:  // 20127
            return -1;
    }
}

int SingleByteToUtf16(uint32_t codePage, const uint8_t* s, size_t n, char16_t* dst, int dstLen) {
    Sink<char16_t> out(dst, dstLen);
    for (size_t i = 0; i < n; ++i) {
        if (!out.Put(SingleByteToUnit(codePage, s[i]))) break;
    }
    return out.Result();
}

int Utf16ToSingleByte(uint32_t codePage, const char16_t* s, size_t n, char* dst, int dstLen) {
    Sink<char> out(dst, dstLen);
    size_t i = 0;
    while (i < n) {
        uint32_t cp = s[i++];
        if (cp >= 0xD800 && cp <= 0xDBFF && i < n && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
            ++i;  // a surrogate pair: one code point, never representable here
            cp = 0x10000;
        }
        const int b = CodePointToSingleByte(codePage, cp);
        if (!out.Put(b < 0 ? kDefaultChar : static_cast<char>(b))) break;
    }
    return out.Result();
}

// ---------------------------------------------------------------------------------------
// Double-byte code pages through iconv.

constexpr const char* kUtf16Native =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

struct IconvCodePage {
    uint32_t codePage;
    const char* name;
};

constexpr IconvCodePage kIconvCodePages[] = {
    {932, "CP932"},
    {936, "CP936"},
    {949, "CP949"},
    {950, "CP950"},
};
constexpr int kIconvCount = static_cast<int>(sizeof(kIconvCodePages) / sizeof(kIconvCodePages[0]));

int IconvIndex(uint32_t codePage) {
    for (int k = 0; k < kIconvCount; ++k) {
        if (kIconvCodePages[k].codePage == codePage) return k;
    }
    return -1;
}

iconv_t InvalidIconv() {
    return reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1));
}

// The calling thread's descriptors, opened on first use and closed when the thread ends.
class IconvCache {
  public:
    IconvCache() {
        for (int k = 0; k < kIconvCount; ++k) {
            toWide_[k] = InvalidIconv();
            fromWide_[k] = InvalidIconv();
        }
    }
    ~IconvCache() {
        for (int k = 0; k < kIconvCount; ++k) {
            if (toWide_[k] != InvalidIconv()) iconv_close(toWide_[k]);
            if (fromWide_[k] != InvalidIconv()) iconv_close(fromWide_[k]);
        }
    }
    IconvCache(const IconvCache&) = delete;
    IconvCache& operator=(const IconvCache&) = delete;

    // Returns the descriptor reset to its initial state, or InvalidIconv().
    iconv_t Get(int index, bool toWide) {
        iconv_t& cd = toWide ? toWide_[index] : fromWide_[index];
        if (cd == InvalidIconv()) {
            const char* name = kIconvCodePages[index].name;
            cd = toWide ? iconv_open(kUtf16Native, name) : iconv_open(name, kUtf16Native);
            if (cd == InvalidIconv()) return cd;
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        return cd;
    }

  private:
    iconv_t toWide_[kIconvCount];
    iconv_t fromWide_[kIconvCount];
};

iconv_t GetIconv(int index, bool toWide) {
    thread_local IconvCache cache;
    return cache.Get(index, toWide);
}

int IconvToUtf16(int index, const char* s, size_t n, char16_t* dst, int dstLen) {
    iconv_t cd = GetIconv(index, true);
    if (cd == InvalidIconv()) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    Sink<char16_t> out(dst, dstLen);
    char16_t chunk[256];
    char* in = const_cast<char*>(s);
    size_t inLeft = n;
    while (inLeft > 0 && !out.overflow()) {
        char* outPtr = reinterpret_cast<char*>(chunk);
        size_t outLeft = sizeof(chunk);
        const size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int err = r == static_cast<size_t>(-1) ? errno : 0;
        const size_t produced = (sizeof(chunk) - outLeft) / sizeof(char16_t);
        if (!out.Put(chunk, produced)) break;
        if (err == EILSEQ || err == EINVAL) {
            // A sequence the code page refuses, or one cut short by the end of the input:
            // one U+FFFD, then carry on after its first byte.
            if (!out.Put(kReplacementChar)) break;
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else if (err != 0 && err != E2BIG) {
            SetLastError(kErrorNoUnicodeTranslation);
            return 0;
        }
    }
    return out.Result();
}

int IconvFromUtf16(int index, const char16_t* s, size_t n, char* dst, int dstLen) {
    iconv_t cd = GetIconv(index, false);
    if (cd == InvalidIconv()) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    Sink<char> out(dst, dstLen);
    char chunk[512];
    const char16_t* const end = s + n;
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(s));
    size_t inLeft = n * sizeof(char16_t);
    while (inLeft > 0 && !out.overflow()) {
        char* outPtr = chunk;
        size_t outLeft = sizeof(chunk);
        const size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int err = r == static_cast<size_t>(-1) ? errno : 0;
        if (!out.Put(chunk, sizeof(chunk) - outLeft)) break;
        if (err == EILSEQ || err == EINVAL) {
            // A character the code page cannot hold, or an unpaired surrogate: one "?"
            // for the code point.
            if (!out.Put(kDefaultChar)) break;
            const char16_t* at = reinterpret_cast<const char16_t*>(in);
            size_t skip = 1;
            if (at[0] >= 0xD800 && at[0] <= 0xDBFF && at + 1 < end && at[1] >= 0xDC00 &&
                at[1] <= 0xDFFF) {
                skip = 2;
            }
            in += skip * sizeof(char16_t);
            inLeft -= skip * sizeof(char16_t);
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        } else if (err != 0 && err != E2BIG) {
            SetLastError(kErrorNoUnicodeTranslation);
            return 0;
        }
    }
    return out.Result();
}

// ---------------------------------------------------------------------------------------

enum class Kind { kUnknown, kUtf8, kSingleByte, kIconv };

Kind Classify(uint32_t& codePage) {
    if (codePage == kCodePageAnsi) codePage = AnsiCodePage();
    switch (codePage) {
        case kCodePageUtf8:
            return Kind::kUtf8;
        case 1252:
        case 28591:
        case 20127:
            return Kind::kSingleByte;
        default:
            return IconvIndex(codePage) >= 0 ? Kind::kIconv : Kind::kUnknown;
    }
}

template <typename Char>
size_t LengthWithNul(const Char* s) {
    size_t n = 0;
    while (s[n] != Char{})
        ++n;
    return n + 1;
}

template <typename SrcChar, typename DstChar>
bool ValidArguments(const SrcChar* src, int srcLen, const DstChar* dst, int dstLen) {
    return src != nullptr && srcLen != 0 && srcLen >= -1 && dstLen >= 0 &&
           (dstLen == 0 || dst != nullptr);
}

}  // namespace

uint32_t AnsiCodePage() {
    return kCodePageUtf8;
}

int MultiByteToWideChar(uint32_t codePage, uint32_t /*flags*/, const char* src, int srcLen,
                        char16_t* dst, int dstLen) {
    const Kind kind = Classify(codePage);
    if (!ValidArguments(src, srcLen, dst, dstLen) || kind == Kind::kUnknown) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    const size_t n = srcLen == -1 ? LengthWithNul(src) : static_cast<size_t>(srcLen);
    if (dstLen == 0) dst = nullptr;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(src);
    switch (kind) {
        case Kind::kUtf8:
            return Utf8ToUtf16(bytes, n, dst, dstLen);
        case Kind::kSingleByte:
            return SingleByteToUtf16(codePage, bytes, n, dst, dstLen);
        default:
            return IconvToUtf16(IconvIndex(codePage), src, n, dst, dstLen);
    }
}

int WideCharToMultiByte(uint32_t codePage, uint32_t /*flags*/, const char16_t* src, int srcLen,
                        char* dst, int dstLen) {
    const Kind kind = Classify(codePage);
    if (!ValidArguments(src, srcLen, dst, dstLen) || kind == Kind::kUnknown) {
        SetLastError(kErrorInvalidParameter);
        return 0;
    }
    const size_t n = srcLen == -1 ? LengthWithNul(src) : static_cast<size_t>(srcLen);
    if (dstLen == 0) dst = nullptr;
    switch (kind) {
        case Kind::kUtf8:
            return Utf16ToUtf8(src, n, dst, dstLen);
        case Kind::kSingleByte:
            return Utf16ToSingleByte(codePage, src, n, dst, dstLen);
        default:
            return IconvFromUtf16(IconvIndex(codePage), src, n, dst, dstLen);
    }
}

}  // namespace plat
