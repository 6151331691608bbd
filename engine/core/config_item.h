// A parsed configuration string: "Name" queries a setting, "Name=Value" sets it, and an
// index may follow the name in brackets.
#pragma once

#include <cstdint>

#include "engine/core/text_buffer.h"

namespace corvane {

struct ConfigItem {
    TextBuffer name;
    TextBuffer value;
    TextBuffer indexText;
    int32_t index = -1;
    bool query = true;

    // 0, or 200 when a part of the string could not be stored.
    int32_t Parse(const char* text);

    // Whole-name comparison without regard to case.
    bool Is(const char* settingName) const;

    int32_t Number() const;
    bool Boolean() const;
};

// Value readers shared by every layer.
int32_t ParseConfigNumber(const char* text);
bool ParseConfigBoolean(const char* text);
// Decimal with an optional sign up to the first other character; 0 without digits,
// 32-bit wrapping on overflow.
int32_t ParseSignedDecimal(const char* text);

bool EqualsNoCase(const char* a, const char* b);

}  // namespace corvane
