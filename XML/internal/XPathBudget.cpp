// XPathBudget: the counters of one evaluation and their bounds.
#include "XML/internal/XPathBudget.h"

#include "XML/internal/Messages.h"

namespace XML::internal::xpath {

void Budget::StepsExceeded() { throw EvalError{msg::kXPathSteps}; }

void Budget::Hold(std::size_t n) {
    m_nodes += n;
    if (m_nodes > m_limits.nodes) throw EvalError{msg::kXPathNodes};
}

void Budget::Build(std::size_t n) {
    m_characters += n;
    if (m_characters > m_limits.characters) throw EvalError{msg::kXPathCharacters};
}

bool IsBudgetMessage(const std::string& reason) {
    return reason == msg::kXPathSteps || reason == msg::kXPathNodes || reason == msg::kXPathCharacters;
}

}  // namespace XML::internal::xpath
