#include "app/field_value.h"

#include <algorithm>

namespace taktor {

namespace {

// The digit's value in the base, or -1 when the character is not one of its digits.
int DigitValue(char16_t c, unsigned base) {
    const char16_t lower = c | 0x20;  // "A" to "F" as "a" to "f"
    const int d = c >= u'0' && c <= u'9'           ? c - u'0'
                  : lower >= u'a' && lower <= u'f' ? lower - u'a' + 10
                                                   : -1;
    return d >= 0 && static_cast<unsigned>(d) < base ? d : -1;
}

}  // namespace

FieldNumber ParseFieldNumber(const Text& text) {
    size_t i = std::min(text.find_first_not_of(u" \t"), text.size());  // only space and tab
    bool negate = false;
    if (i < text.size() && text[i] == u'-') {
        negate = true;
        ++i;
    } else if (i < text.size() && text[i] == u'+') {
        ++i;
    }
    unsigned base = 10;
    if (i < text.size() && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i < text.size() && text[i] == u'%') {
        base = 2;
        ++i;
    }
    FieldNumber result;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i], base);
        if (digit < 0) {
            break;
        }
        const std::uint64_t limit = (UINT64_MAX - static_cast<std::uint64_t>(digit)) / base;
        if (value > limit) {
            result.overflowed = true;
        }
        value = value * base + static_cast<std::uint64_t>(digit);
    }
    if (negate) {
        // The magnitude, not the wrapped result, says whether the number is below zero: minus
        // 2^64 - 1 wraps round to +1.
        result.negative = value != 0 || result.overflowed;
        value = 0 - value;
    }
    result.value = static_cast<std::int64_t>(value);
    return result;
}

}  // namespace taktor
