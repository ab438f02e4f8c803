#include "jet/read/value_text.h"

#include <gtest/gtest.h>

#include <cmath>

namespace jet {
namespace {

TEST(ValueText, DatesOnBothSidesOf1899) {
    EXPECT_EQ(FormatDate(0), "1899-12-30 00:00:00");
    EXPECT_EQ(FormatDate(36526.5), "2000-01-01 12:00:00");
    // Before 1899-12-30 the fraction still counts forward from the day: -1.25 is 06:00.
    EXPECT_EQ(FormatDate(-1.25), "1899-12-29 06:00:00");
    EXPECT_EQ(FormatDate(2958465.0), "9999-12-31 00:00:00");
    EXPECT_EQ(FormatDate(-657434.0), "0100-01-01 00:00:00");
    // Rounding to the second may reach the next midnight.
    EXPECT_EQ(FormatDate(1.9999999999), "1900-01-01 00:00:00");
    EXPECT_EQ(FormatDate(36526.75, "%d/%m/%y %H:%M"), "01/01/00 18:00");
    EXPECT_EQ(FormatDate(std::nan("")), "1899-12-30 00:00:00");
    EXPECT_EQ(FormatDate(1e300), "1899-12-30 00:00:00");
    const CivilDateTime t{2024, 2, 29, 13, 14, 15};
    EXPECT_EQ(FormatDate(DaysFromDate(t)), "2024-02-29 13:14:15");
    EXPECT_EQ(FormatDate(DaysFromDate({1899, 12, 29, 6, 0, 0})), "1899-12-29 06:00:00");
}

TEST(ValueText, NumbersAsTheExportsPrintThem) {
    EXPECT_EQ(FormatCurrency(12345), "1.2345");
    EXPECT_EQ(FormatCurrency(-5), "-0.0005");
    EXPECT_EQ(FormatCurrency(INT64_MIN), "-922337203685477.5808");
    EXPECT_EQ(FormatDouble(-94.43, 16), "-94.43000000000001");
    EXPECT_EQ(FormatDouble(static_cast<float>(-0.00035134), 8), "-0.00035133999");
    EXPECT_EQ(FormatDouble(static_cast<float>(7567345.45), 8), "7567345.5");
    Decimal d;
    d.magnitude = {0, 0, 0, 12345};
    EXPECT_EQ(FormatDecimal(d, 0), "12345");
    EXPECT_EQ(FormatDecimal(d, 2), "123.45");
    EXPECT_EQ(FormatDecimal(d, 7), "0.0012345");
    d.negative = true;
    EXPECT_EQ(FormatDecimal(d, 2), "-123.45");
    d.magnitude = {0, 0, 1, 0};  // 2^32
    EXPECT_EQ(FormatDecimal(d, 0), "-4294967296");
    d.magnitude = {};
    EXPECT_EQ(FormatDecimal(d, 1), "0.0");  // no negative zero
}

TEST(ValueText, GuidAndHex) {
    const Guid g = {0x6A, 0x27, 0x39, 0x8E, 0xA8, 0xBC, 0xC4, 0x4A,
                    0x89, 0x1E, 0x49, 0x91, 0x1D, 0x84, 0x38, 0xDD};
    EXPECT_EQ(FormatGuid(g), "{8E39276A-BCA8-4AC4-891E-49911D8438DD}");
    EXPECT_EQ(HexUpper(Bytes{0x00, 0xAB, 0x7F}), "00AB7F");
}

}  // namespace
}  // namespace jet
