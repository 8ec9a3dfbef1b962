// The load-limit options every kelxml command takes: --huge, and --max-... for each bound.
#ifndef KELXML_TOOL_LIMITS_H
#define KELXML_TOOL_LIMITS_H

#include "Arguments.h"

#include <XML/CKelXML.h>

#include <string>
#include <vector>

namespace kelxml {

// Removes the limit options before the first operand from args (valued: the command's options
// that take a value, so that a value is not taken for an operand) and returns the limits they
// ask for: the library's defaults, or sLimits::Huge() with --huge, then each --max-... given.
// One after the first operand (or after "--") is left in args, an operand like any other: a file
// named --huge in a folder the user globs lifts no bound. Throws UsageError for a missing value
// or one that is not a whole number.
XML::sLimits TakeLimits(std::vector<std::string>& args, const std::vector<std::string>& valued);

// The options that raise a bound or widen what a load reads (--huge, --max-..., --resources):
// taken before the first operand only.
std::vector<std::string> LeadingOptions();

// The limits every document the tool opens gets.
void SetLoadLimits(const XML::sLimits& limits);
const XML::sLimits& LoadLimits();
// The XPath bounds among them, for the expressions the tool compiles itself.
XML::sXPathLimits XPathLimits();

}  // namespace kelxml

#endif
