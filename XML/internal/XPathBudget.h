// XPathBudget: what one XPath evaluation may cost (steps taken, nodes held in node-sets,
// characters of strings built) and the counters the evaluator charges as it works. Past a bound
// the evaluation stops with an EvalError naming it. Internal to the library.
#ifndef KELXML_INTERNAL_XPATHBUDGET_H
#define KELXML_INTERNAL_XPATHBUDGET_H

#include <cstddef>
#include <string>

namespace XML::internal::xpath {

// Evaluation failures that no compile-time check can see (an unbound variable, a variable of
// the wrong type, a bound of the budget); the message is the one to record.
struct EvalError {
    const char* message;
};

struct BudgetLimits {
    std::size_t steps = 0;
    std::size_t nodes = 0;
    std::size_t characters = 0;
};

class Budget {
public:
    explicit Budget(const BudgetLimits& limits) : m_limits(limits) {}

    // A node visited, an expression or predicate evaluated, a node sorted: n steps.
    void Step(std::size_t n = 1) {
        m_steps += n;
        if (m_steps > m_limits.steps) StepsExceeded();
    }
    // The steps that can still be taken.
    std::size_t StepsLeft() const { return m_steps < m_limits.steps ? m_limits.steps - m_steps : 0; }
    // n more nodes held in node-sets; Release gives them back when a set is dropped.
    void Hold(std::size_t n);
    void Release(std::size_t n) { m_nodes -= n < m_nodes ? n : m_nodes; }
    // n more characters of strings built in the evaluation (copies of values included).
    void Build(std::size_t n);

private:
    [[noreturn]] static void StepsExceeded();

    BudgetLimits m_limits;
    std::size_t m_steps = 0;
    std::size_t m_nodes = 0;
    std::size_t m_characters = 0;
};

// Whether an evaluation's failure reason is one of the budget's bounds.
bool IsBudgetMessage(const std::string& reason);

}  // namespace XML::internal::xpath

#endif
