// Numbers and booleans to text and back: what is accepted, what is refused, what round-trips.
#include "XML/internal/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using namespace XML::internal;

namespace {

// Parses text into a T that starts at a sentinel; returns whether it parsed and checks that a
// refusal leaves the sentinel.
template <class T>
bool Parses(const std::string& text, T expected) {
    T value = static_cast<T>(42);
    const bool ok = ParseValue(text, value);
    if (ok) {
        EXPECT_EQ(value, expected) << '"' << text << '"';
    } else {
        EXPECT_EQ(value, static_cast<T>(42)) << "refused \"" << text << "\" must leave the value";
    }
    return ok;
}

}  // namespace

TEST(NumberText, IntegersWholeAndInRange) {
    struct Case {
        const char* text;
        bool ok;
        long long value;
    };
    const Case cases[] = {
        {"12", true, 12},
        {"-3", true, -3},
        {"+7", true, 7},
        {" \t\n 8 \r\n", true, 8},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483648LL},
        {"eight", false, 0},
        {"12abc", false, 0},
        {"99999999999", false, 0},
        {"2147483648", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"+", false, 0},
        {"+-1", false, 0},
        {"--1", false, 0},
        {"1 2", false, 0},
        {"0x1F", false, 0},
        {"1.5", false, 0},
        {"\xC2\xA0"
         "1",
         false, 0},  // a no-break space is not XML whitespace
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Parses<int>(c.text, static_cast<int>(c.value)), c.ok);
    }
    EXPECT_TRUE(Parses<long long>("99999999999", 99999999999LL));
    EXPECT_TRUE(Parses<long>("-9223372036854775808", std::numeric_limits<long>::min()));
    EXPECT_FALSE(Parses<long long>("9223372036854775808", 0));
}

TEST(NumberText, UnsignedRefusesSignsAndOverflow) {
    EXPECT_TRUE(Parses<unsigned int>("4294967295", 4294967295u));
    EXPECT_FALSE(Parses<unsigned int>("4294967296", 0u));
    EXPECT_FALSE(Parses<unsigned int>("-1", 0u));
    EXPECT_FALSE(Parses<unsigned long>("-0", 0ul));
    EXPECT_TRUE(Parses<unsigned long long>("+18446744073709551615", 18446744073709551615ull));
    EXPECT_FALSE(Parses<unsigned long long>("18446744073709551616", 0ull));
}

TEST(NumberText, FloatingPoint) {
    EXPECT_TRUE(Parses<double>("1.5", 1.5));
    EXPECT_TRUE(Parses<double>(" -2.5e3 ", -2500.0));
    EXPECT_TRUE(Parses<double>("+.5", 0.5));
    EXPECT_TRUE(Parses<float>("0.1", 0.1f));
    EXPECT_TRUE(Parses<double>("INF", std::numeric_limits<double>::infinity()));
    EXPECT_TRUE(Parses<double>("-INF", -std::numeric_limits<double>::infinity()));
    double nan = 0;
    EXPECT_TRUE(ParseValue("NaN", nan));
    EXPECT_TRUE(std::isnan(nan));
    for (const char* refused : {"1e400", "1.5f", "1,5", "1.5.", "0x1p3", "abc", "", "e5"})
        EXPECT_FALSE(Parses<double>(refused, 0.0)) << refused;
    EXPECT_FALSE(Parses<float>("3.5e38", 0.0f));  // beyond float's range
}

TEST(NumberText, BooleansInTheirFourForms) {
    EXPECT_TRUE(Parses<bool>("true", true));
    EXPECT_TRUE(Parses<bool>(" false\n", false));
    EXPECT_TRUE(Parses<bool>("1", true));
    EXPECT_TRUE(Parses<bool>("0", false));
    for (const char* refused : {"yes", "no", "TRUE", "True", "2", "-1", "", "truex"})
        EXPECT_FALSE(Parses<bool>(refused, false)) << refused;
}

TEST(NumberText, WrittenTextReadsBackToTheSameValue) {
    EXPECT_EQ(FormatValue(-3LL), "-3");
    EXPECT_EQ(FormatValue(0LL), "0");
    EXPECT_EQ(FormatValue(18446744073709551615ull), "18446744073709551615");
    EXPECT_EQ(FormatValue(true), "true");
    EXPECT_EQ(FormatValue(false), "false");
    EXPECT_EQ(FormatValue(0.1), "0.1");
    EXPECT_EQ(FormatValue(0.1f), "0.1");
    EXPECT_EQ(FormatValue(-std::numeric_limits<float>::infinity()), "-INF");
    EXPECT_EQ(FormatValue(1e21), "1e+21");
    EXPECT_EQ(FormatValue(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(FormatValue(-std::numeric_limits<double>::infinity()), "-INF");
    for (const double d : {0.1, 1.0 / 3, -2.5e-300, 123456789.125, std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::denorm_min(), -0.0}) {
        double back = 1;
        ASSERT_TRUE(ParseValue(FormatValue(d), back)) << FormatValue(d);
        EXPECT_EQ(back, d);
        EXPECT_EQ(std::signbit(back), std::signbit(d));
    }
    for (const long long v : {std::numeric_limits<long long>::min(), -1LL, std::numeric_limits<long long>::max()}) {
        long long back = 0;
        ASSERT_TRUE(ParseValue(FormatValue(v), back));
        EXPECT_EQ(back, v);
    }
}
