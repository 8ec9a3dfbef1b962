// XPathReads: compiling a one-shot expression with the object's bounds, and its records.
#include "XML/internal/XPathReads.h"

#include "XML/HandlerError.h"
#include "XML/internal/Messages.h"
#include "XML/internal/XPathBudget.h"

#include <xercesc/dom/DOM.hpp>

using xercesc::DOMNode;

namespace XML::internal {

const DOMNode* PrepareXPath(const Held& held, const char* expr, const DOMNode* context,
                            const std::map<std::string, std::string>& namespaces, CXPath& xpath) {
    if (!Running(held) || (!context && !RequireDocument(held))) return nullptr;
    if (!Require(held, expr, msg::kNoExpression)) return nullptr;
    const sLimits& bounds = held.state->limits;
    sXPathLimits limits;
    limits.maxSteps = bounds.maxXPathSteps;
    limits.maxNodes = bounds.maxXPathNodes;
    limits.maxCharacters = bounds.maxXPathCharacters;
    limits.maxExpressionLength = bounds.maxXPathExpressionLength;
    xpath.SetLimits(limits);
    if (xpath.Compile(expr, namespaces)) return context ? context : held.document;
    Guarded(held, [&] {
        MakeErrors(held);
        for (const sError& record : xpath.GetErrors()->GetAllErrors()) held.errors->AddError(record);
    });
    return nullptr;
}

void RecordEvaluation(const Held& held, const std::string& reason) {
    // A bound of the budget is named; other failures keep their one general text.
    Record(held, E_EXCEPTION, xpath::IsBudgetMessage(reason) ? reason.c_str() : msg::kXPathEvaluation);
}

}  // namespace XML::internal
