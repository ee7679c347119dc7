#include "app/field_value.h"

#include <gtest/gtest.h>

namespace taktor {
namespace {

TEST(FieldValue, DecimalWithBlanksSignAndTrailingText) {
    EXPECT_EQ(FieldValue(u""), 0);
    EXPECT_EQ(FieldValue(u"  42"), 42);
    EXPECT_EQ(FieldValue(u"\t \t42"), 42);
    EXPECT_EQ(FieldValue(u"42ab"), 42);
    EXPECT_EQ(FieldValue(u"ab"), 0);
    EXPECT_EQ(FieldValue(u"-7"), -7);
    EXPECT_EQ(FieldValue(u"+7"), 7);
    EXPECT_EQ(FieldValue(u"- 7"), 0);
    EXPECT_EQ(FieldValue(u"007"), 7);
    EXPECT_EQ(FieldValue(u"0002000"), 2000);
    EXPECT_EQ(FieldValue(u"12 34"), 12);
}

TEST(FieldValue, OnlySpaceAndTabAreBlanks) {
    EXPECT_EQ(FieldValue(u"\n5"), 0);
    EXPECT_EQ(FieldValue(u"\u00A05"), 0);  // no-break space
    EXPECT_EQ(FieldValue(u"\u30005"), 0);  // ideographic space
    EXPECT_EQ(FieldValue(u"+-5"), 0);      // one sign at most
    EXPECT_EQ(FieldValue(u"--5"), 0);
}

TEST(FieldValue, HexadecimalAndBinary) {
    EXPECT_EQ(FieldValue(u"$7D1"), 2001);
    EXPECT_EQ(FieldValue(u"$7d0"), 2000);
    EXPECT_EQ(FieldValue(u"$fF"), 255);
    EXPECT_EQ(FieldValue(u"$G"), 0);
    EXPECT_EQ(FieldValue(u"-$10"), -16);
    EXPECT_EQ(FieldValue(u"%101"), 5);
    EXPECT_EQ(FieldValue(u"%1012"), 5);
    EXPECT_EQ(FieldValue(u"%"), 0);
    EXPECT_EQ(FieldValue(u"$ 1"), 0);
    EXPECT_EQ(FieldValue(u"1$"), 1);
    // Digits of another base end the numeral: decimal digits after '%' stop at the first 2.
    EXPECT_EQ(FieldValue(u"%2"), 0);
    // Full-width digits are not digits.
    EXPECT_EQ(FieldValue(u"\uFF11"), 0);
}

TEST(FieldValue, WrapsModulo64Bits) {
    EXPECT_EQ(FieldValue(u"18446744073709551621"), 5);  // 2^64 + 5
    EXPECT_EQ(FieldValue(u"18446744073709551615"), -1);
    EXPECT_EQ(FieldValue(u"9223372036854775808"), INT64_MIN);
    EXPECT_EQ(FieldValue(u"-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(FieldValue(u"$FFFFFFFFFFFFFFFF"), -1);
    EXPECT_EQ(FieldValue(u"$10000000000000002"), 2);
    EXPECT_EQ(FieldValue(u"-18446744073709551621"), -5);
}

TEST(ParseFieldNumber, ReportsOverflowOnlyWhenDigitsPassed64Bits) {
    EXPECT_FALSE(ParseFieldNumber(u"18446744073709551615").overflowed);
    EXPECT_TRUE(ParseFieldNumber(u"18446744073709551616").overflowed);
    EXPECT_TRUE(ParseFieldNumber(u"18446744073709551621").overflowed);
    EXPECT_TRUE(ParseFieldNumber(u"184467440737095516150").overflowed);
    EXPECT_FALSE(ParseFieldNumber(u"$FFFFFFFFFFFFFFFF").overflowed);
    EXPECT_TRUE(ParseFieldNumber(u"$1FFFFFFFFFFFFFFFF").overflowed);
    EXPECT_TRUE(ParseFieldNumber(u"%1" + Text(64, u'0')).overflowed);
    EXPECT_FALSE(ParseFieldNumber(u"%1" + Text(63, u'0')).overflowed);
    EXPECT_FALSE(ParseFieldNumber(u"00000000000000000000000000000000002000").overflowed);
}

}  // namespace
}  // namespace taktor
