// The one rule by which the text of a phase field becomes a number.
#pragma once

#include <cstdint>

#include "common/text.h"

namespace taktor {

struct FieldNumber {
    std::int64_t value = 0;   // the 64-bit result, wrapped as the rule says
    bool overflowed = false;  // the digits did not fit in 64 bits, so the value wrapped
    bool negative = false;    // a minus sign stood before a magnitude other than 0
};

// Leading blanks (space, tab), one optional sign, then decimal digits, or '$' and hexadecimal
// digits, or '%' and binary digits; the rest is ignored. 64-bit arithmetic wrapping modulo 2^64.
FieldNumber ParseFieldNumber(const Text& text);

inline std::int64_t FieldValue(const Text& text) {
    return ParseFieldNumber(text).value;
}

}  // namespace taktor
