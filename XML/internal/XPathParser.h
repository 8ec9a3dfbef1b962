// XPathParser: compiles the tokens of an XPath 1.0 expression into its tree (XPathAst.h):
// abbreviations expanded, prefixes resolved to namespace URIs by the caller's bindings,
// function names and argument counts checked, static types worked out, and "//name" without a
// positional predicate turned into one descendant step. Internal to the library.
#ifndef KELXML_INTERNAL_XPATHPARSER_H
#define KELXML_INTERNAL_XPATHPARSER_H

#include "XML/internal/XPathAst.h"

#include <cstddef>
#include <map>
#include <string>

namespace XML::internal::xpath {

// Expressions nested deeper than this (parentheses, predicates, operands, arguments) are refused.
inline constexpr std::size_t kMaxNesting = 256;
// Trees deeper than this (a long chain of operators counts one level per operator) are refused.
inline constexpr std::size_t kMaxDepth = 1024;

// The tree of expr (UTF-16); null with error and column (in characters, from 1) set when expr
// does not parse, names an unbound prefix or an unknown function, or nests too deep.
// namespaces maps each prefix the expression may use to its namespace URI. Never throws but
// for allocation failures.
ExprPtr Compile(const XString& expr, const std::map<XString, XString>& namespaces, std::string& error,
                std::size_t& column);

}  // namespace XML::internal::xpath

#endif
