// Numbers and booleans to text and back, through std::to_chars / std::from_chars: no locale, no
// errno, the whole text checked.
#include "XML/internal/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace XML::internal {

namespace {

template <class T>
std::string Formatted(T value) {
    char buffer[64];  // the longest double or 64-bit integer needs 24
    const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsXmlSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsXmlSpace(text.back())) text.remove_suffix(1);
    return text;
}

// One '+' may stand where from_chars takes only '-'; "+-1" stays refused.
bool DropPlus(std::string_view& text) {
    if (text.empty() || text.front() != '+') return true;
    text.remove_prefix(1);
    return !text.empty() && text.front() != '-';
}

template <class T, class... Format>
bool Parsed(std::string_view text, T& value, Format... format) {
    text = Trimmed(text);
    if (!DropPlus(text)) return false;
    T parsed{};
    const char* const end = text.data() + text.size();
    const std::from_chars_result result = std::from_chars(text.data(), end, parsed, format...);
    if (result.ec != std::errc() || result.ptr != end || text.empty()) return false;
    value = parsed;
    return true;
}

template <class T>
std::string FormattedFloating(T value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    return Formatted(value);
}

}  // namespace

std::string FormatValue(long long value) { return Formatted(value); }
std::string FormatValue(unsigned long long value) { return Formatted(value); }
std::string FormatValue(bool value) { return value ? "true" : "false"; }
std::string FormatValue(float value) { return FormattedFloating(value); }
std::string FormatValue(double value) { return FormattedFloating(value); }

bool ParseValue(std::string_view text, int& value) { return Parsed(text, value); }
bool ParseValue(std::string_view text, long& value) { return Parsed(text, value); }
bool ParseValue(std::string_view text, long long& value) { return Parsed(text, value); }
bool ParseValue(std::string_view text, unsigned int& value) { return Parsed(text, value); }
bool ParseValue(std::string_view text, unsigned long& value) { return Parsed(text, value); }
bool ParseValue(std::string_view text, unsigned long long& value) { return Parsed(text, value); }
bool ParseValue(std::string_view text, float& value) { return Parsed(text, value, std::chars_format::general); }
bool ParseValue(std::string_view text, double& value) { return Parsed(text, value, std::chars_format::general); }

bool ParseValue(std::string_view text, bool& value) {
    text = Trimmed(text);
    if (text == "true" || text == "1") {
        value = true;
    } else if (text == "false" || text == "0") {
        value = false;
    } else {
        return false;
    }
    return true;
}

int LeadingInt(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);  // strtoll itself clamps
    return static_cast<int>(
        std::clamp<long long>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

long LeadingLong(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

float LeadingFloat(const std::string& text) {
    const double value = std::strtod(text.c_str(), nullptr);
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max())
        return value > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    return static_cast<float>(value);
}

}  // namespace XML::internal
