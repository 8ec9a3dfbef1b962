// CXPath: the public face of the XPath engine (XML/internal/XPath*).
#include <XML/CXPath.h>

#include "XML/internal/Messages.h"
#include "XML/internal/OptionsLayout.h"
#include "XML/internal/Transcode.h"
#include "XML/internal/XPathEval.h"
#include "XML/internal/XPathNumber.h"
#include "XML/internal/XPathParser.h"

#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <new>
#include <string_view>
#include <unordered_set>

namespace XML {

using namespace internal::xpath;
using internal::XString;

sXPathValue sXPathValue::Boolean(bool value) {
    sXPathValue v;
    v.eType = E_XPATH_BOOLEAN;
    v.bValue = value;
    return v;
}
sXPathValue sXPathValue::Number(double value) {
    sXPathValue v;
    v.eType = E_XPATH_NUMBER;
    v.dValue = value;
    return v;
}
sXPathValue sXPathValue::String(std::string value) {
    sXPathValue v;
    v.eType = E_XPATH_STRING;
    v.strValue = std::move(value);
    return v;
}
sXPathValue sXPathValue::NodeSet(std::vector<xercesc::DOMNode*> nodes) {
    sXPathValue v;
    v.eType = E_XPATH_NODESET;
    v.vNodes = std::move(nodes);
    return v;
}

namespace {

struct Failure {
    const char* reason;
};

XString Utf16(const std::string& text) {
    XString out;
    if (!internal::AppendUtf16(text.data(), text.size(), out)) throw Failure{internal::msg::kUnconvertibleText};
    return out;
}

std::string Local(const XString& text) {
    std::string out;
    if (!internal::AppendLocal(text.data(), text.size(), out)) throw Failure{internal::msg::kUnconvertibleText};
    return out;
}

Variables ToInternal(const XPathVariables& variables) {
    Variables out;
    for (const auto& [name, value] : variables) {
        Value v;
        switch (value.eType) {
        case E_XPATH_NODESET:
            v.type = Type::NodeSet;
            for (const xercesc::DOMNode* n : value.vNodes)
                if (n) v.nodes.push_back(FromDom(n));
            SortDocumentOrder(v.nodes);
            break;
        case E_XPATH_NUMBER:
            v.type = Type::Number;
            v.number = value.dValue;
            break;
        case E_XPATH_STRING:
            v.type = Type::String;
            v.string = Utf16(value.strValue);
            break;
        default: v.type = Type::Boolean; v.boolean = value.bValue;
        }
        out.emplace(Utf16(name), std::move(v));
    }
    return out;
}

// The DOM node a result node is given as: a namespace node as the xmlns attribute declaring it
// (null for the implicit xml namespace).
xercesc::DOMNode* ToDom(const Node& n) {
    if (!n.IsNamespace()) return const_cast<xercesc::DOMNode*>(n.dom);
    for (const xercesc::DOMNode* e = n.dom; e && IsElement(e); e = Parent(Node{e})) {
        const xercesc::DOMNamedNodeMap* attributes = e->getAttributes();
        const XMLSize_t count = attributes ? attributes->getLength() : 0;
        for (XMLSize_t i = 0; i < count; ++i) {
            xercesc::DOMNode* a = attributes->item(i);
            if (!IsNamespaceDeclaration(a)) continue;
            const XMLCh* name = a->getNodeName();
            const XMLCh* prefix = name[5] == ':' ? name + 6 : u"";
            if (xercesc::XMLString::equals(prefix, n.prefix)) return a;
        }
    }
    return nullptr;
}

void ToDom(const std::vector<Node>& nodes, std::vector<xercesc::DOMNode*>& out) {
    bool namespaces = false;
    out.reserve(nodes.size());
    for (const Node& n : nodes) {
        namespaces = namespaces || n.IsNamespace();
        if (xercesc::DOMNode* dom = ToDom(n)) out.push_back(dom);
    }
    if (!namespaces) return;
    std::unordered_set<const xercesc::DOMNode*> seen;
    std::size_t kept = 0;
    for (xercesc::DOMNode* dom : out)
        if (seen.insert(dom).second) out[kept++] = dom;
    out.resize(kept);
}

// Runs work(evaluator, context node) for one evaluation, turning every failure into false.
template <class Work>
bool Run(const Expr* expr, const sXPathLimits& limits, const xercesc::DOMNode* context, const XPathVariables& variables,
         std::string* reason, Work&& work) {
    const char* why = nullptr;
    try {
        if (!expr) {
            why = "no XPath expression compiled";
        } else if (!context || !FromDom(context).dom) {  // a detached entity reference stands for nothing
            why = internal::msg::kNoNode;
        } else {
            const Variables bound = ToInternal(variables);
            const Node start = FromDom(context);
            const BudgetLimits budget{limits.maxSteps, limits.maxNodes, limits.maxCharacters};
            Evaluator evaluator(bound.empty() ? nullptr : &bound, budget, start);
            try {
                work(evaluator, *expr, start);
            } catch (const EvalError& e) {
                // The document's index never makes an evaluation fail: one that ran out of steps
                // after paying for it runs again as it would have without it.
                if (!evaluator.BuiltIndex() || std::string_view(e.message) != internal::msg::kXPathSteps) throw;
                Evaluator again(bound.empty() ? nullptr : &bound, budget, start, false);
                work(again, *expr, start);
            }
            return true;
        }
    } catch (const EvalError& e) {
        why = e.message;
    } catch (const Failure& f) {
        why = f.reason;
    } catch (const std::bad_alloc&) {
        why = internal::msg::kOutOfMemory;
    } catch (...) {
        why = internal::msg::kUnknownError;
    }
    if (reason) *reason = why;
    return false;
}

}  // namespace

CXPath::CXPath() = default;

void CXPath::SetLimitsSized(detail::Layout<sXPathLimits> layout) {
    const std::optional<sXPathLimits> limits = internal::KnownPrefix(layout);
    try {
        if (limits)
            m_pLimits = std::make_shared<const sXPathLimits>(*limits);
        else
            m_errors.AddError(E_EXCEPTION, internal::msg::kUnknownOptionsLayout);
    } catch (const std::bad_alloc&) {
        // The bounds stay as they were.
    }
}

const sXPathLimits& CXPath::GetLimits() const {
    static const sXPathLimits defaults;
    return m_pLimits ? *m_pLimits : defaults;
}
CXPath::CXPath(const std::string& expr, const std::map<std::string, std::string>& namespaces) {
    Compile(expr, namespaces);
}
CXPath::~CXPath() = default;
CXPath::CXPath(const CXPath& other) = default;
CXPath& CXPath::operator=(const CXPath& other) = default;
CXPath::CXPath(CXPath&& other) noexcept = default;
CXPath& CXPath::operator=(CXPath&& other) noexcept = default;

bool CXPath::Compile(const std::string& expr, const std::map<std::string, std::string>& namespaces) {
    m_pExpr.reset();
    m_errors.ResetError();  // the list speaks of this compile only
    try {
        m_strExpression = expr;
        if (expr.size() > GetLimits().maxExpressionLength) {
            m_errors.AddError(E_EXCEPTION, internal::msg::kXPathTooLong);
            return false;
        }
        std::map<XString, XString> bindings;
        for (const auto& [prefix, uri] : namespaces) bindings.emplace(Utf16(prefix), Utf16(uri));
        bindings.emplace(u"xml", xercesc::XMLUni::fgXMLURIName);  // bound in every document
        std::string error;
        std::size_t column = 0;
        ExprPtr compiled = internal::xpath::Compile(Utf16(expr), bindings, error, column);
        if (!compiled) {
            const std::string message = std::string(internal::msg::kXPathError) + std::to_string(column) + ": " + error;
            m_errors.AddError(sError(E_EXCEPTION, message, 1, column));
            return false;
        }
        m_pExpr = std::move(compiled);
        return true;
    } catch (const Failure& f) {
        m_errors.AddError(E_EXCEPTION, f.reason);
    } catch (const std::bad_alloc&) {
        m_errors.AddError(E_EXCEPTION, internal::msg::kOutOfMemory);
    } catch (...) {
        m_errors.AddError(E_EXCEPTION, internal::msg::kUnknownError);
    }
    return false;
}

bool CXPath::Evaluate(const xercesc::DOMNode* context, sXPathValue& result, const XPathVariables& variables,
                      std::string* reason) const {
    sXPathValue value;
    const bool ok = Run(m_pExpr.get(), GetLimits(), context, variables, reason,
                        [&](Evaluator& ev, const Expr& e, const Node& c) {
                            Value v = ev.Eval(e, c, 1, 1);
                            switch (v.type) {
                            case Type::NodeSet:
                                value.eType = E_XPATH_NODESET;
                                ToDom(v.nodes, value.vNodes);
                                break;
                            case Type::Number:
                                value.eType = E_XPATH_NUMBER;
                                value.dValue = v.number;
                                break;
                            case Type::String:
                                value.eType = E_XPATH_STRING;
                                value.strValue = Local(v.string);
                                break;
                            default: value.eType = E_XPATH_BOOLEAN; value.bValue = v.boolean;
                            }
                        });
    if (ok) result = std::move(value);
    return ok;
}

std::vector<xercesc::DOMNode*> CXPath::SelectNodes(const xercesc::DOMNode* context,
                                                   const XPathVariables& variables) const {
    std::vector<xercesc::DOMNode*> result;
    if (m_pExpr && m_pExpr->type != Type::NodeSet && m_pExpr->type != Type::Any) return result;
    Run(m_pExpr.get(), GetLimits(), context, variables, nullptr, [&](Evaluator& ev, const Expr& e, const Node& c) {
        Value v = ev.Eval(e, c, 1, 1);
        if (v.type == Type::NodeSet) ToDom(v.nodes, result);
    });
    return result;
}

xercesc::DOMNode* CXPath::SelectNode(const xercesc::DOMNode* context, const XPathVariables& variables) const {
    const std::vector<xercesc::DOMNode*> nodes = SelectNodes(context, variables);
    return nodes.empty() ? nullptr : nodes.front();
}

bool CXPath::EvaluateString(const xercesc::DOMNode* context, std::string& value,
                            const XPathVariables& variables) const {
    return EvaluateString(context, value, variables, nullptr);
}

bool CXPath::EvaluateNumber(const xercesc::DOMNode* context, double& value, const XPathVariables& variables) const {
    return EvaluateNumber(context, value, variables, nullptr);
}

bool CXPath::EvaluateBoolean(const xercesc::DOMNode* context, bool& value, const XPathVariables& variables) const {
    return EvaluateBoolean(context, value, variables, nullptr);
}

bool CXPath::EvaluateString(const xercesc::DOMNode* context, std::string& value, const XPathVariables& variables,
                            std::string* reason) const {
    std::string text;
    const bool ok = Run(m_pExpr.get(), GetLimits(), context, variables, reason,
                        [&](Evaluator& ev, const Expr& e, const Node& c) {
                            XString s;
                            ev.EvalString(e, c, 1, 1, s);
                            text = Local(s);
                        });
    if (ok) value = std::move(text);
    return ok;
}

bool CXPath::EvaluateNumber(const xercesc::DOMNode* context, double& value, const XPathVariables& variables,
                            std::string* reason) const {
    double n = 0;
    const bool ok = Run(m_pExpr.get(), GetLimits(), context, variables, reason,
                        [&](Evaluator& ev, const Expr& e, const Node& c) { n = ev.EvalNumber(e, c, 1, 1); });
    if (ok) value = n;
    return ok;
}

bool CXPath::EvaluateBoolean(const xercesc::DOMNode* context, bool& value, const XPathVariables& variables,
                             std::string* reason) const {
    bool b = false;
    const bool ok = Run(m_pExpr.get(), GetLimits(), context, variables, reason,
                        [&](Evaluator& ev, const Expr& e, const Node& c) { b = ev.EvalBoolean(e, c, 1, 1); });
    if (ok) value = b;
    return ok;
}

std::string CXPath::NumberText(double value) { return internal::FormatXPathNumber(value); }

}  // namespace XML
