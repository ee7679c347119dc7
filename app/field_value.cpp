#include "app/field_value.h"

namespace taktor {

namespace {

// The digit's value in the base, or -1 when the character is not one of its digits.
int DigitValue(char16_t c, unsigned base) {
    int d = -1;
    if (c >= u'0' && c <= u'9') {
        d = c - u'0';
    } else if (base == 16 && c >= u'A' && c <= u'F') {
        d = c - u'A' + 10;
    } else if (base == 16 && c >= u'a' && c <= u'f') {
        d = c - u'a' + 10;
    }
    return d >= 0 && static_cast<unsigned>(d) < base ? d : -1;
}

}  // namespace

FieldNumber ParseFieldNumber(const Text& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) {
        ++i;
    }
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
