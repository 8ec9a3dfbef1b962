// CXPath: an XPath 1.0 expression compiled once and evaluated against any node of any document.
#ifndef KELXML_CXPATH_H
#define KELXML_CXPATH_H

#include <XML/CError.h>
#include <XML/KelXMLExport.h>
#include <XML/Options.h>

#include <xercesc/util/XercesDefs.hpp>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

XERCES_CPP_NAMESPACE_BEGIN
class DOMNode;
XERCES_CPP_NAMESPACE_END

namespace XML {

namespace internal::xpath {
struct Expr;
}  // namespace internal::xpath

// The four types of an XPath value.
enum E_XPATH_TYPE : std::int32_t { E_XPATH_NODESET = 0, E_XPATH_BOOLEAN = 1, E_XPATH_NUMBER = 2, E_XPATH_STRING = 3 };

// A value: a result, or a variable given to an evaluation. Only the field of eType is read.
// Strings are in the local code page; nodes belong to their document.
struct KELXML_EXPORT sXPathValue {
    E_XPATH_TYPE eType = E_XPATH_BOOLEAN;
    bool bValue = false;
    double dValue = 0;
    std::string strValue{};
    std::vector<xercesc::DOMNode*> vNodes{};

    static sXPathValue Boolean(bool value);
    static sXPathValue Number(double value);
    static sXPathValue String(std::string value);
    static sXPathValue NodeSet(std::vector<xercesc::DOMNode*> nodes);
};

// Variables by name as written after '$' ("x", or "p:x" with its prefix).
using XPathVariables = std::map<std::string, sXPathValue>;
// Namespace URIs by the prefix an expression names them with.
using XPathNamespaces = std::map<std::string, std::string>;

// Compile records its failures in the object's own list; evaluation never changes the object, so
// one compiled expression may be evaluated by several threads at once (each on a document no
// other thread changes). Copies share the compiled form. Nothing throws.
//
// The data model: adjacent text and CDATA siblings are one text node (the first DOM node of the
// run stands for it in results; its string value is the whole run), entity references are
// transparent, xmlns attributes are not attributes but namespace nodes. A namespace node in a
// node-set result is given as the xmlns attribute that declares it (nodes of the same declaration
// once); the implicit xml namespace has none and is left out of node-set results.
class KELXML_EXPORT CXPath {
public:
    CXPath();
    // Compiles expr at once (see Compile).
    explicit CXPath(const std::string& expr, const std::map<std::string, std::string>& namespaces = {});
    ~CXPath();
    CXPath(const CXPath& other);
    CXPath& operator=(const CXPath& other);
    CXPath(CXPath&& other) noexcept;
    CXPath& operator=(CXPath&& other) noexcept;

    // Compiles expr (local code page); namespaces binds the prefixes it may use to namespace URIs:
    // a name test matches by URI and local name, whatever prefix names the URI; "xml" is always
    // bound to its namespace, and an unprefixed name has no namespace. False, with one
    // kind-3 record "XPath expression error at column N: ..." (nLine 1, nColumn N, counted in
    // characters from 1) for an expression that does not parse, an unbound prefix, an unknown
    // function or a wrong argument count; kind 3 "XPath expression longer than the limit allows
    // (maxXPathExpressionLength)" past sXPathLimits::maxExpressionLength bytes, nothing read.
    // The previous compiled form and the records of earlier compiles are gone either way.
    bool Compile(const std::string& expr, const std::map<std::string, std::string>& namespaces = {});
    bool IsCompiled() const { return static_cast<bool>(m_pExpr); }
    // The bounds later Compile and evaluation calls apply (the defaults until set); copies keep them.
    void SetLimits(const sXPathLimits& limits) { SetLimitsSized(detail::LayoutOf(limits)); }
    // What SetLimits calls, with the caller's layout of sXPathLimits (CONTRIBUTING, "ABI policy"):
    // the fields its size covers, the defaults for the rest; a size this library does not know
    // leaves the bounds as they were, with one kind-3 record in GetErrors(). Not for direct use.
    void SetLimitsSized(detail::Layout<sXPathLimits> limits);
    const sXPathLimits& GetLimits() const;
    // The expression as last given to Compile.
    const std::string& GetExpression() const { return m_strExpression; }
    // This object's error list (owned by it; never null): the records of the last Compile.
    const CError* GetErrors() const { return &m_errors; }

    // result = the value with context (any node of any document) as the context node, position
    // and size 1. False, result untouched, when nothing is compiled, context is null, a variable
    // is unbound or is not a node-set where one is needed, or a text cannot be converted to the
    // local code page, or a bound of GetLimits() is reached ("XPath evaluation stopped: ...",
    // naming the bound); *reason (when given) then says which.
    bool Evaluate(const xercesc::DOMNode* context, sXPathValue& result, const XPathVariables& variables = {},
                  std::string* reason = nullptr) const;
    // The nodes selected, in document order; empty when the value is not a node-set or on failure.
    std::vector<xercesc::DOMNode*> SelectNodes(const xercesc::DOMNode* context,
                                               const XPathVariables& variables = {}) const;
    // The first node selected in document order, or null.
    xercesc::DOMNode* SelectNode(const xercesc::DOMNode* context, const XPathVariables& variables = {}) const;
    // The value converted as string(), number() and boolean() convert it; false, output untouched,
    // on failure.
    bool EvaluateString(const xercesc::DOMNode* context, std::string& value,
                        const XPathVariables& variables = {}) const;
    bool EvaluateNumber(const xercesc::DOMNode* context, double& value, const XPathVariables& variables = {}) const;
    bool EvaluateBoolean(const xercesc::DOMNode* context, bool& value, const XPathVariables& variables = {}) const;
    // The same, *reason (when given) saying why on failure, as Evaluate does.
    bool EvaluateString(const xercesc::DOMNode* context, std::string& value, const XPathVariables& variables,
                        std::string* reason) const;
    bool EvaluateNumber(const xercesc::DOMNode* context, double& value, const XPathVariables& variables,
                        std::string* reason) const;
    bool EvaluateBoolean(const xercesc::DOMNode* context, bool& value, const XPathVariables& variables,
                         std::string* reason) const;

    // A number written as XPath's string() writes it: "NaN", "Infinity", "-Infinity", integers
    // without a fraction, other values in plain decimal (no exponent).
    static std::string NumberText(double value);

private:
    std::shared_ptr<const internal::xpath::Expr> m_pExpr;
    std::string m_strExpression;
    CError m_errors;
    // Held apart, so that the object's size stays when sXPathLimits grows; null: the defaults.
    std::shared_ptr<const sXPathLimits> m_pLimits;
};

}  // namespace XML

#endif
