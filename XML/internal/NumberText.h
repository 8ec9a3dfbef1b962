// NumberText: numbers and booleans written as text and read back with full checks, for the
// typed writers and the checked reads. Internal to the library.
#ifndef KELXML_INTERNAL_NUMBERTEXT_H
#define KELXML_INTERNAL_NUMBERTEXT_H

#include <string>
#include <string_view>

namespace XML::internal {

// Decimal for integers; for a float or double the shortest text that reads back to the same
// value of its type, and "NaN", "INF", "-INF" (the XML Schema forms) for the others; "true" /
// "false" for a bool.
std::string FormatValue(long long value);
std::string FormatValue(unsigned long long value);
std::string FormatValue(float value);
std::string FormatValue(double value);
std::string FormatValue(bool value);

// Reads the whole of text as one value of the type and returns true; otherwise false with value
// untouched. XML whitespace (space, tab, CR, LF) around the value is ignored, as XML Schema
// does for numbers and booleans; anything else that is not part of the number refuses it, and
// so does a value out of the type's range. Integers are decimal with an optional sign ('+'
// too; no '-' for unsigned types). Floating point: decimal or exponent form, "NaN", "INF",
// "-INF" (any case). bool: "true", "false", "1", "0".
bool ParseValue(std::string_view text, int& value);
bool ParseValue(std::string_view text, long& value);
bool ParseValue(std::string_view text, long long& value);
bool ParseValue(std::string_view text, unsigned int& value);
bool ParseValue(std::string_view text, unsigned long& value);
bool ParseValue(std::string_view text, unsigned long long& value);
bool ParseValue(std::string_view text, float& value);
bool ParseValue(std::string_view text, double& value);
bool ParseValue(std::string_view text, bool& value);

// The C library's lenient reads, without their undefined cases: leading white space, a sign,
// then the digits (or, for float, the number) up to the first other character; 0 when none.
// The value is atoi's, atol's or atof's wherever those are defined; a value out of the type's
// range gives the nearest limit (infinity for float) instead of undefined behaviour.
int LeadingInt(const std::string& text);
long LeadingLong(const std::string& text);
float LeadingFloat(const std::string& text);

}  // namespace XML::internal

#endif
