#include "engine/core/config_item.h"

#include <cstring>

#include "engine/core/error_codes.h"

namespace corvane {

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Digits in the given base after an optional sign; wraps like 32-bit arithmetic.
int32_t ParseWithBase(const char* p, uint32_t base) {
    bool negative = false;
    if (*p == '-' || *p == '+') negative = (*p++ == '-');
    uint32_t value = 0;
    for (int d; (d = HexDigit(*p)) >= 0 && static_cast<uint32_t>(d) < base; ++p) {
        value = value * base + static_cast<uint32_t>(d);
    }
    return static_cast<int32_t>(negative ? 0u - value : value);
}

// Copies text into buffer without spaces at either end.
int32_t AssignTrimmed(TextBuffer& buffer, const char* text, size_t length) {
    size_t start = 0;
    while (start < length && text[start] == ' ')
        ++start;
    while (length > start && text[length - 1] == ' ')
        --length;
    return buffer.Assign(text + start, length - start);
}

}  // namespace

bool EqualsNoCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (LowerAscii(*a) != LowerAscii(*b)) return false;
    }
    return *a == *b;
}

int32_t ParseSignedDecimal(const char* text) {
    return ParseWithBase(text, 10);
}

int32_t ParseConfigNumber(const char* text) {
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return ParseWithBase(text + 2, 16);
    return ParseWithBase(text, 10);
}

bool ParseConfigBoolean(const char* text) {
    return EqualsNoCase(text, "TRUE") || EqualsNoCase(text, "yes") || EqualsNoCase(text, "1");
}

bool ConfigItem::Is(const char* settingName) const {
    return EqualsNoCase(name.c_str(), settingName);
}

int32_t ConfigItem::Number() const {
    return ParseConfigNumber(value.c_str());
}

bool ConfigItem::Boolean() const {
    return ParseConfigBoolean(value.c_str());
}

int32_t ConfigItem::Parse(const char* text) {
    name.Clear();
    value.Clear();
    indexText.Clear();
    index = -1;
    query = true;
    if (text == nullptr) return 0;

    const char* equals = std::strchr(text, '=');
    const char* nameEnd = equals != nullptr ? equals : text + std::strlen(text);
    bool inIndex = false;
    for (const char* p = text; p < nameEnd; ++p) {
        const char c = *p;
        int32_t rc = 0;
        if (!inIndex && (c == '[' || c == '(')) {
            inIndex = true;
        } else if (inIndex && (c == ']' || c == ')')) {
            inIndex = false;
            rc = AssignTrimmed(indexText, indexText.c_str(), indexText.size());
            index = ParseSignedDecimal(indexText.c_str());
        } else {
            rc = inIndex ? indexText.AppendChar(c) : name.AppendChar(c);
        }
        if (rc != 0) return rc;
    }

    if (equals == nullptr) return 0;  // a query: the name stays as written
    query = false;
    if (equals[1] == '\0') return 0;  // a setting with an empty value, name as written

    if (int32_t rc = AssignTrimmed(name, name.c_str(), name.size()); rc != 0) return rc;
    const char* start = equals + 1;
    while (*start == ' ')
        ++start;
    bool quoted = false;
    if (*start == '"') {
        quoted = true;
        ++start;
    }
    const char* end = start + std::strlen(start);
    while (end > start && end[-1] == ' ')
        --end;
    if (quoted && end > start && end[-1] == '"') --end;
    return value.Assign(start, static_cast<size_t>(end - start));
}

}  // namespace corvane
