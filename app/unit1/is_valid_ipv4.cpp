#include "app/unit1/is_valid_ipv4.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace app {

namespace {

bool IsSeparator(char16_t c) {
    return c == u'.' || c == u'\r' || c == u'\n';
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Blanks, a sign, then decimal digits or hexadecimal ones behind "$", "x", "X", "0x" or
// "0X", and nothing after them; a value beyond 32 bits cannot be read.
std::optional<int64_t> ReadNumber(const std::u16string& piece) {
    size_t i = 0;
    while (i < piece.size() && piece[i] == u' ')
        ++i;
    bool negative = false;
    if (i < piece.size() && (piece[i] == u'+' || piece[i] == u'-')) negative = piece[i++] == u'-';
    int base = 10;
    if (i < piece.size() && (piece[i] == u'$' || piece[i] == u'x' || piece[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < piece.size() && piece[i] == u'0' &&
               (piece[i + 1] == u'x' || piece[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == piece.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < piece.size(); ++i) {
        const int digit = HexValue(piece[i]);
        if (digit < 0 || digit >= base) return std::nullopt;
        value = value * base + digit;
        if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
    return value;
}

}  // namespace

bool IsValidIPv4(const std::u16string& text) {
    std::vector<std::u16string> pieces;
    std::u16string piece;
    for (char16_t c : text) {
        if (c == u'\'' || c == u'"') return false;
        if (IsSeparator(c)) {
            if (!piece.empty()) pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
        if (pieces.size() > 4) return false;
    }
    if (!piece.empty()) pieces.push_back(piece);
    if (pieces.size() != 4) return false;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const int64_t value = ReadNumber(pieces[i]).value_or(-1);
        if (i == 0 && value == 0) return false;
        if (value < 0 || value > 255) return false;
    }
    return true;
}

}  // namespace app
