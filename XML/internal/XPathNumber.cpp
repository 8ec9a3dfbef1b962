// XPathNumber: the number-text conversions of XPath expressions.
#include "XML/internal/XPathNumber.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace XML::internal {

std::string FormatXPathNumber(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
    if (value == 0) return "0";
    // The shortest digits that read back, in exponent form, then laid out without the exponent.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    const std::size_t e = text.find('e');
    std::string_view mantissa = text.substr(0, e);
    const int exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
    std::string out;
    if (mantissa.front() == '-') {
        out += '-';
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (const char c : mantissa)
        if (c != '.') digits += c;
    // value = 0.digits * 10^(exponent + 1)
    const long point = static_cast<long>(exponent) + 1;
    const long count = static_cast<long>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (point >= count) {
        out += digits;
        out.append(static_cast<std::size_t>(point - count), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out += '.';
        out.append(digits, static_cast<std::size_t>(point), std::string::npos);
    }
    return out;
}

namespace {
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

double ParseXPathNumber(std::string_view text) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsSpace(text[begin])) ++begin;
    while (end > begin && IsSpace(text[end - 1])) --end;
    std::string_view number = text.substr(begin, end - begin);
    bool negative = false;
    if (!number.empty() && number.front() == '-') {
        negative = true;
        number.remove_prefix(1);
    }
    std::size_t i = 0, digits = 0;
    while (i < number.size() && IsDigit(number[i])) ++i, ++digits;
    if (i < number.size() && number[i] == '.') {
        ++i;
        while (i < number.size() && IsDigit(number[i])) ++i, ++digits;
    }
    if (digits == 0 || i != number.size()) return kNaN;
    double value = 0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large: infinity; too small: zero (from_chars leaves the value alone then).
        value = number.find_first_not_of("0.") != std::string_view::npos &&
                        (number.find('.') == std::string_view::npos ? number.size() : number.find('.')) > 300
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
    } else if (result.ec != std::errc()) {
        return kNaN;
    }
    return negative ? -value : value;
}

double RoundXPath(double value) {
    if (std::isnan(value) || std::isinf(value) || value == 0) return value;
    if (value < 0 && value >= -0.5) return -0.0;
    // Past 2^52 every double is an integer already; adding 0.5 could round up wrongly.
    if (std::fabs(value) >= 4503599627370496.0) return value;
    return std::floor(value + 0.5);
}

}  // namespace XML::internal
