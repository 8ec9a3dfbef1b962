// XPathNumber: XPath's own conversions between numbers and text: the number-to-string form
// (no exponent, integers without a fraction, NaN and the infinities spelt out), the narrow
// string-to-number grammar, and round's rule. Internal to the library.
#ifndef KELXML_INTERNAL_XPATHNUMBER_H
#define KELXML_INTERNAL_XPATHNUMBER_H

#include <string>
#include <string_view>

namespace XML::internal {

// "NaN", "Infinity", "-Infinity", "0" for both zeros, integers without a decimal point, other
// values in plain decimal with the fewest digits that read back to the same double.
std::string FormatXPathNumber(double value);
// Optional whitespace, an optional '-', digits with an optional '.' and fraction (or '.' and
// digits), optional whitespace; anything else is NaN. text is ASCII-compatible (UTF-8 or a
// local code page): any other byte makes it NaN.
double ParseXPathNumber(std::string_view text);
// round(): the nearest integer, halves towards positive infinity; NaN, the infinities and both
// zeros unchanged, -0 for values from -0.5 up to (not including) 0.
double RoundXPath(double value);

}  // namespace XML::internal

#endif
