#include "app/unit1/count_field.h"

#include <cstdint>

#include "app/unit1/unit1.h"

namespace app {

int32_t CountFieldValue(const std::u16string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    if (i == text.size()) return kCountMinimum;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9') return kCountMinimum;
        value = value * 10 + (text[i] - u'0');
        if (value > INT32_MAX + int64_t{1}) return kCountMinimum;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return kCountMinimum;
    return static_cast<int32_t>(value);
}

}  // namespace app
