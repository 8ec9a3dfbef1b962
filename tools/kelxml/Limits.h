// The load-limit options every kelxml command takes: --huge, and --max-... for each bound.
#ifndef KELXML_TOOL_LIMITS_H
#define KELXML_TOOL_LIMITS_H

#include "Arguments.h"

#include <XML/CKelXML.h>

#include <string>
#include <vector>

namespace kelxml {

// Removes the limit options (up to "--") from args and returns the limits they ask for: the
// library's defaults, or sLimits::Huge() with --huge, then each --max-... given. Throws
// UsageError for a missing value or one that is not a whole number.
XML::sLimits TakeLimits(std::vector<std::string>& args);

// The limits every document the tool opens gets.
void SetLoadLimits(const XML::sLimits& limits);
const XML::sLimits& LoadLimits();
// The XPath bounds among them, for the expressions the tool compiles itself.
XML::sXPathLimits XPathLimits();

}  // namespace kelxml

#endif
