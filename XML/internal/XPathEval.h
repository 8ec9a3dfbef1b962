// XPathEval: evaluates a compiled XPath expression (XPathAst.h) against a context node of the
// data model (XPathTree.h): the axes, node tests, predicates, operators, the comparison and
// conversion rules, and the core functions (XPathFunctions.cpp). Every evaluation keeps its
// state on its own, so one compiled tree serves any number of threads. Walks over the document
// are iterative; only the expression's own nesting (at most the parser's bound) recurses.
// Internal to the library.
#ifndef KELXML_INTERNAL_XPATHEVAL_H
#define KELXML_INTERNAL_XPATHEVAL_H

#include "XML/internal/NodeIndex.h"
#include "XML/internal/XPathAst.h"
#include "XML/internal/XPathBudget.h"
#include "XML/internal/XPathTree.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace XML::internal::xpath {

// How a walk of a document's descendants uses its index: reads it, records it, or neither.
struct IndexUse {
    const NodeIndex* read = nullptr;
    NodeIndex::Recorder* record = nullptr;
};

// A value: one of the four types (never Any); node-sets in document order without duplicates.
struct Value {
    Type type = Type::Boolean;
    bool boolean = false;
    double number = 0;
    XString string;
    std::vector<Node> nodes;
};

using Variables = std::map<XString, Value>;

// The conversions of the expression language (node-sets and strings need the evaluator's budget).
bool ToBoolean(const Value& v);
double NumberOf(const XMLCh* text);

// One evaluation: its variables, budget, recycled buffers, document order and the values of the
// sub-expressions that do not depend on their context. Not shared between threads.
class Evaluator {
public:
    // context: the node evaluations start from; sharing values needs it to be in a document, and
    // so does the document's index (kept between evaluations when its owner registered it).
    // buildIndex: false to use only an index built before, never to build one.
    Evaluator(const Variables* variables, const BudgetLimits& limits, const Node& context, bool buildIndex = true);
    ~Evaluator();
    Evaluator(const Evaluator&) = delete;
    Evaluator& operator=(const Evaluator&) = delete;

    // Whether this evaluation built the document's index and charged it to its steps: a failure
    // for the steps is then retried without building (the index built stays for later ones).
    bool BuiltIndex() const { return m_builtIndex; }

    // The value of e with context node, position and size; throws EvalError.
    Value Eval(const Expr& e, const Node& context, std::size_t position, std::size_t size);
    bool EvalBoolean(const Expr& e, const Node& context, std::size_t position, std::size_t size);
    double EvalNumber(const Expr& e, const Node& context, std::size_t position, std::size_t size);
    void EvalString(const Expr& e, const Node& context, std::size_t position, std::size_t size, XString& out);
    // The node-set e gives (e must be of type NodeSet or Any); throws EvalError otherwise.
    void EvalNodes(const Expr& e, const Node& context, std::vector<Node>& out);

    // Buffers handed back and reused, so that predicates do not allocate for every node; the
    // nodes a buffer held are given back to the budget with it.
    std::vector<Node> TakeBuffer();
    void GiveBack(std::vector<Node>&& buffer);
    void Recycle(Value& v) { GiveBack(std::move(v.nodes)); }

    double ToNumber(const Value& v);
    void ToString(const Value& v, XString& out);

private:
    // A context-free sub-expression's value, computed once, with what comparisons derive from it.
    struct Shared {
        Value value;
        bool ready = false;                                    // false while the value is being computed
        std::unique_ptr<std::unordered_set<XString>> strings;  // the string values of its nodes
        bool ranged = false;
        bool anyNumber = false;  // some node's value is a number (min and max then hold)
        double min = 0, max = 0;
    };
    // The shared entry for e, or null when e depends on its context (or sharing is off).
    Shared* SharedFor(const Expr& e, const Node& context);
    bool ContextFree(const Expr& e);
    const std::unordered_set<XString>& StringsOf(const std::vector<Node>& nodes, Shared* shared,
                                                 std::unordered_set<XString>& local);
    void RangeOf(const std::vector<Node>& nodes, Shared* shared, bool& any, double& min, double& max);
    Value EvalDirect(const Expr& e, const Node& context, std::size_t position, std::size_t size);
    void Hold(std::vector<Node>& out, const Node& n) {
        m_budget.Hold(1);
        out.push_back(n);
    }
    void Append(std::vector<Node>& out, const std::vector<Node>& nodes);
    void StepFromAll(const Step& step, const std::vector<Node>& current, std::vector<Node>& next);

    Value Call(const Expr& e, const Node& context, std::size_t position, std::size_t size);
    bool Compare(const Expr& e, const Node& context, std::size_t position, std::size_t size);
    bool CompareStreamed(Op op, const Expr& path, const Expr& other, const Node& context, std::size_t position,
                         std::size_t size);
    // The string value of n, in the node or in m_scratch (valid until the next call).
    const XMLCh* StringValueOf(const Node& n);
    void EvalPath(const Expr& e, const Node& context, std::vector<Node>& out);
    bool StartPath(const Expr& e, const Node& context, std::vector<Node>& current);
    // Runs steps [first, end) from current; whether no node of the result is an ancestor of another.
    bool RunSteps(const Expr& e, std::size_t first, std::size_t end, std::vector<Node>& current, bool flat);
    static bool Streamable(const Expr& e);
    static bool Walkable(const Expr& e);
    static std::size_t NestedSteps(const Expr& e, bool distinct);
    template <class Test>
    bool AnyNode(const Expr& e, const Node& context, Test&& test, bool distinct = false);
    // Calls each(node) once for every node of e, as the path is walked where its last steps cannot
    // meet a node twice (no set held); ordered: in document order, as the set would give them.
    template <class Each>
    void EachNode(const Expr& e, const Node& context, bool ordered, Each&& each);
    // A descendant step then a child step, neither positional, from one node (//a/b): calls
    // each(node) for every node of e in document order, in one walk of the tree. False (nothing
    // called) for a path of another shape.
    template <class Each>
    bool DescendantThenChild(const Expr& e, const Node& context, Each&& each);
    double CountNodes(const Expr& e, const Node& context);
    double SumNodes(const Expr& e, const Node& context);
    template <class Test>
    bool AnyFrom(const Expr& e, std::size_t index, const Node& context, Test& test);
    bool AllHold(const Step& step, const Node& node);
    void EvalFilter(const Expr& e, const Node& context, std::vector<Node>& out);
    void ApplyPredicates(const std::vector<ExprPtr>& predicates, std::size_t first, std::vector<Node>& nodes,
                         std::size_t begin);
    bool PredicateHolds(const Expr& predicate, const Node& node, std::size_t position, std::size_t size);
    void StepFrom(const Step& step, const Node& context, std::vector<Node>& out);
    const Value& Variable(const Expr& e) const;
    // Runs walk(use) for a walk of axis from context: with the document's index to read when
    // axis walks the descendants of the document, or to record by the first such walk of the
    // evaluation (charged to the steps once it ends); with neither otherwise.
    template <class Walk>
    void OverDocument(Axis axis, const Node& context, Walk&& walk);

    const Variables* m_variables;
    Budget m_budget;
    DocumentOrder m_order;
    StringLengths m_lengths;
    std::vector<std::vector<Node>> m_spare;
    XString m_scratch;
    // Sharing needs one tree for the whole evaluation: off when a variable brings nodes.
    bool m_sharing = true;
    std::size_t m_predicates = 0;  // predicates open around the current expression
    std::unordered_map<const Expr*, bool> m_contextFree;
    std::unordered_map<const Expr*, Shared> m_shared;
    const xercesc::DOMNode* m_document = nullptr;  // the context's document node, if it is in one
    std::shared_ptr<const NodeIndex> m_index;
    std::unique_ptr<IndexBuild> m_build;  // while the first walk records the index
    bool m_indexAsked = false;
    bool m_buildIndex = true;
    bool m_builtIndex = false;
};

}  // namespace XML::internal::xpath

#endif
