// XPathEval: axes, node tests, predicates, operators and comparisons.
#include "XML/internal/XPathEval.h"

#include "XML/internal/TreeWalk.h"
#include "XML/internal/XPathNumber.h"

#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/util/XMLString.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>

namespace XML::internal::xpath {

using xercesc::DOMNode;
using xercesc::XMLString;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr XMLCh kTrue[] = {'t', 'r', 'u', 'e', 0};
constexpr XMLCh kFalse[] = {'f', 'a', 'l', 's', 'e', 0};

// --- Node tests ------------------------------------------------------------------------------

bool IsPrincipal(Axis axis, const Node& n) {
    if (axis == Axis::Namespace) return n.IsNamespace();
    if (n.IsNamespace()) return false;
    const Kind k = n.dom->getNodeType();
    return axis == Axis::Attribute ? k == DOMNode::ATTRIBUTE_NODE : k == DOMNode::ELEMENT_NODE;
}

bool Matches(const Step& s, const Node& n) {
    switch (s.test) {
    case Test::Node: return true;
    case Test::Text: return !n.IsNamespace() && IsText(n.dom);
    case Test::Comment: return !n.IsNamespace() && n.dom->getNodeType() == DOMNode::COMMENT_NODE;
    case Test::PI:
        return !n.IsNamespace() && n.dom->getNodeType() == DOMNode::PROCESSING_INSTRUCTION_NODE &&
               (s.local.empty() || XMLString::equals(n.dom->getNodeName(), s.local.c_str()));
    case Test::Any: return IsPrincipal(s.axis, n);
    case Test::AnyLocal: return IsPrincipal(s.axis, n) && XMLString::equals(NamespaceUri(n), s.uri.c_str());
    case Test::Name:
        return IsPrincipal(s.axis, n) && XMLString::equals(LocalName(n), s.local.c_str()) &&
               XMLString::equals(NamespaceUri(n), s.uri.c_str());
    }
    return false;
}

// --- Axes: each calls emit(node) in the axis's order while emit returns true -----------------

bool IsAttribute(const Node& n) { return !n.IsNamespace() && n.dom->getNodeType() == DOMNode::ATTRIBUTE_NODE; }
// Attributes and namespace nodes have no children or siblings.
bool IsOutsideContent(const Node& n) { return n.IsNamespace() || IsAttribute(n); }

bool IsEntityReference(const DOMNode* n) { return n->getNodeType() == DOMNode::ENTITY_REFERENCE_NODE; }

// Whether text node n, met in a walk, continues a run of text. Outside entity references only
// its previous sibling tells: climbing to the parent (getParentNode costs a dynamic_cast) is
// needed inside one or after one.
bool ContinuesRun(const DOMNode* n, bool inEntity) {
    if (inEntity) return ContinuesText(n);
    const DOMNode* p = n->getPreviousSibling();
    if (!p) return false;
    return IsText(p) || (IsEntityReference(p) && ContinuesText(n));
}

// The descendants of root in document order; false when emit stopped the walk. Its own stack of
// ancestors, so that no step climbs through getParentNode.
template <class Emit>
bool Descendants(const DOMNode* root, Emit&& emit) {
    AncestorStack above;
    std::size_t entities = 0;  // entity references open around n
    const DOMNode* n = root->getFirstChild();
    while (n) {
        const Kind k = n->getNodeType();
        switch (k) {
        case DOMNode::ELEMENT_NODE:
        case DOMNode::COMMENT_NODE:
        case DOMNode::PROCESSING_INSTRUCTION_NODE:
            if (!emit(Node{n})) return false;
            break;
        case DOMNode::TEXT_NODE:
        case DOMNode::CDATA_SECTION_NODE:
            if (!ContinuesRun(n, entities != 0) && !emit(Node{n})) return false;
            break;
        default: break;  // entity references are walked through; document types hold no content
        }
        if (k != DOMNode::DOCUMENT_TYPE_NODE) {
            if (const DOMNode* child = n->getFirstChild()) {
                above.Push(n);
                entities += k == DOMNode::ENTITY_REFERENCE_NODE;
                n = child;
                continue;
            }
        }
        for (;;) {
            if (const DOMNode* sibling = n->getNextSibling()) {
                n = sibling;
                break;
            }
            if (above.Empty()) return true;
            n = above.Pop();
            entities -= IsEntityReference(n);
        }
    }
    return true;
}

// The children of parent in the data model (entity references opened, a run of text given once
// by its first node); false when emit stopped the walk.
template <class Emit>
bool Children(const DOMNode* parent, Emit&& emit) {
    const Kind pk = parent->getNodeType();
    if (pk != DOMNode::ELEMENT_NODE && pk != DOMNode::DOCUMENT_NODE && pk != DOMNode::DOCUMENT_FRAGMENT_NODE)
        return true;
    AncestorStack entities;
    bool afterText = false;
    const DOMNode* n = parent->getFirstChild();
    for (;;) {
        if (!n) {
            if (entities.Empty()) return true;
            n = entities.Pop()->getNextSibling();
            continue;
        }
        const Kind k = n->getNodeType();
        if (k == DOMNode::ENTITY_REFERENCE_NODE) {
            entities.Push(n);
            n = n->getFirstChild();
            continue;
        }
        if (k == DOMNode::ELEMENT_NODE || k == DOMNode::COMMENT_NODE || k == DOMNode::PROCESSING_INSTRUCTION_NODE ||
            k == DOMNode::TEXT_NODE || k == DOMNode::CDATA_SECTION_NODE) {
            const bool text = k == DOMNode::TEXT_NODE || k == DOMNode::CDATA_SECTION_NODE;
            if (!(text && afterText) && !emit(Node{n})) return false;
            afterText = text;
        }
        n = n->getNextSibling();
    }
}

// The subtree of s (s included) in reverse document order; false when emit stopped the walk.
template <class Emit>
bool ReverseSubtree(const DOMNode* s, Emit&& emit) {
    const DOMNode* n = s;
    while (const DOMNode* last = LastChild(n)) n = last;
    for (;;) {
        if (!emit(Node{n})) return false;
        if (n == s) return true;
        if (const DOMNode* p = PreviousSibling(n)) {
            n = p;
            while (const DOMNode* last = LastChild(n)) n = last;
        } else {
            n = Parent(Node{n});
        }
    }
}

template <class Emit>
void WalkAxis(Axis axis, const Node& c, std::vector<Node>& scratch, Emit&& emit) {
    switch (axis) {
    case Axis::Self: emit(c); return;
    case Axis::Child:
        if (!IsOutsideContent(c)) Children(c.dom, emit);
        return;
    case Axis::DescendantOrSelf:
        if (!emit(c)) return;
        [[fallthrough]];
    case Axis::Descendant:
        if (!IsOutsideContent(c)) Descendants(c.dom, emit);
        return;
    case Axis::Parent:
        if (const DOMNode* p = Parent(c)) emit(Node{p});
        return;
    case Axis::AncestorOrSelf:
        if (!emit(c)) return;
        [[fallthrough]];
    case Axis::Ancestor:
        for (const DOMNode* p = Parent(c); p; p = Parent(Node{p}))
            if (!emit(Node{p})) return;
        return;
    case Axis::FollowingSibling:
        if (IsOutsideContent(c)) return;
        for (const DOMNode* n = NextSibling(c.dom); n; n = NextSibling(n))
            if (!emit(Node{n})) return;
        return;
    case Axis::PrecedingSibling:
        if (IsOutsideContent(c)) return;
        for (const DOMNode* n = PreviousSibling(c.dom); n; n = PreviousSibling(n))
            if (!emit(Node{n})) return;
        return;
    case Axis::Following: {
        const DOMNode* start = c.dom;
        if (IsOutsideContent(c)) {
            start = Parent(c);
            // After an attribute come its element's descendants.
            if (!start || !Descendants(start, emit)) return;
        }
        for (const DOMNode* cur = start; cur; cur = Parent(Node{cur}))
            for (const DOMNode* s = NextSibling(cur); s; s = NextSibling(s))
                if (!emit(Node{s}) || !Descendants(s, emit)) return;
        return;
    }
    case Axis::Preceding: {
        const DOMNode* start = IsOutsideContent(c) ? Parent(c) : c.dom;
        for (const DOMNode* cur = start; cur; cur = Parent(Node{cur}))
            for (const DOMNode* s = PreviousSibling(cur); s; s = PreviousSibling(s))
                if (!ReverseSubtree(s, emit)) return;
        return;
    }
    case Axis::Attribute: {
        if (c.IsNamespace() || !IsElement(c.dom)) return;
        const xercesc::DOMNamedNodeMap* attributes = c.dom->getAttributes();
        const XMLSize_t count = attributes ? attributes->getLength() : 0;
        for (XMLSize_t i = 0; i < count; ++i) {
            const DOMNode* a = attributes->item(i);
            if (!IsNamespaceDeclaration(a) && !emit(Node{a})) return;
        }
        return;
    }
    case Axis::Namespace: {
        if (c.IsNamespace() || !IsElement(c.dom)) return;
        scratch.clear();
        NamespacesOf(c.dom, scratch);
        for (const Node& n : scratch)
            if (!emit(n)) return;
        return;
    }
    }
}

const DOMNode* RootOf(const Node& n) {
    const DOMNode* r = n.dom;
    for (const DOMNode* p = Parent(n); p; p = Parent(Node{p})) r = p;
    return r;
}

// --- Comparisons ---------------------------------------------------------------------------

// A comparison's operand without copying a literal: a view of a value or of the expression.
struct Operand {
    Type type = Type::Boolean;
    bool boolean = false;
    double number = 0;
    const XMLCh* string = nullptr;
    const std::vector<Node>* nodes = nullptr;
};

bool Equal(const XMLCh* a, const XMLCh* b) { return XMLString::equals(a, b); }

template <class T>
bool Relate(Op op, T a, T b) {
    switch (op) {
    case Op::Eq: return a == b;
    case Op::Ne: return a != b;
    case Op::Lt: return a < b;
    case Op::Le: return a <= b;
    case Op::Gt: return a > b;
    case Op::Ge: return a >= b;
    default: return false;
    }
}

Op Flipped(Op op) {
    switch (op) {
    case Op::Lt: return Op::Gt;
    case Op::Le: return Op::Ge;
    case Op::Gt: return Op::Lt;
    case Op::Ge: return Op::Le;
    default: return op;
    }
}

bool IsEquality(Op op) { return op == Op::Eq || op == Op::Ne; }

}  // namespace

// --- Conversions -----------------------------------------------------------------------------

double NumberOf(const XMLCh* text) {
    char inline_[64];
    std::string spill;
    const std::size_t length = XMLString::stringLen(text);
    char* out = inline_;
    if (length >= sizeof inline_) {
        spill.resize(length);
        out = spill.data();
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] >= 0x80) return kNaN;
        out[i] = static_cast<char>(text[i]);
    }
    return ParseXPathNumber(std::string_view(out, length));
}

bool ToBoolean(const Value& v) {
    switch (v.type) {
    case Type::NodeSet: return !v.nodes.empty();
    case Type::Number: return v.number != 0 && !std::isnan(v.number);
    case Type::String: return !v.string.empty();
    default: return v.boolean;
    }
}

double ToNumber(const Value& v) {
    switch (v.type) {
    case Type::NodeSet: {
        if (v.nodes.empty()) return kNaN;
        if (const XMLCh* direct = DirectStringValue(v.nodes.front())) return NumberOf(direct);
        XString text;
        AppendStringValue(v.nodes.front(), text);
        return NumberOf(text.c_str());
    }
    case Type::Number: return v.number;
    case Type::String: return NumberOf(v.string.c_str());
    default: return v.boolean ? 1 : 0;
    }
}

void ToString(const Value& v, XString& out) {
    switch (v.type) {
    case Type::NodeSet:
        if (!v.nodes.empty()) AppendStringValue(v.nodes.front(), out);
        return;
    case Type::Number: {
        const std::string text = FormatXPathNumber(v.number);
        out.append(text.begin(), text.end());
        return;
    }
    case Type::String: out += v.string; return;
    default: out += v.boolean ? kTrue : kFalse;
    }
}

// --- Evaluator -------------------------------------------------------------------------------

std::vector<Node> Evaluator::TakeBuffer() {
    if (m_spare.empty()) return {};
    std::vector<Node> buffer = std::move(m_spare.back());
    m_spare.pop_back();
    buffer.clear();
    return buffer;
}

void Evaluator::GiveBack(std::vector<Node>&& buffer) {
    if (buffer.capacity() != 0 && m_spare.size() < 64) m_spare.push_back(std::move(buffer));
}

const Value& Evaluator::Variable(const Expr& e) const {
    if (m_variables) {
        const auto it = m_variables->find(e.text);
        if (it != m_variables->end()) return it->second;
    }
    throw EvalError{"unbound variable"};
}

Value Evaluator::Eval(const Expr& e, const Node& context, std::size_t position, std::size_t size) {
    Value v;
    switch (e.op) {
    case Op::Literal:
        v.type = Type::String;
        v.string = e.text;
        return v;
    case Op::Number:
        v.type = Type::Number;
        v.number = e.number;
        return v;
    case Op::Variable: {
        const Value& bound = Variable(e);
        v = bound;
        return v;
    }
    case Op::Call: return Call(e, context, position, size);
    case Op::Path:
    case Op::Filter:
    case Op::Union:
        v.type = Type::NodeSet;
        v.nodes = TakeBuffer();
        EvalNodes(e, context, v.nodes);
        return v;
    case Op::Add:
    case Op::Sub:
    case Op::Mul:
    case Op::Div:
    case Op::Mod:
    case Op::Neg:
        v.type = Type::Number;
        v.number = EvalNumber(e, context, position, size);
        return v;
    default:
        v.type = Type::Boolean;
        v.boolean = EvalBoolean(e, context, position, size);
        return v;
    }
}

bool Evaluator::EvalBoolean(const Expr& e, const Node& context, std::size_t position, std::size_t size) {
    switch (e.op) {
    case Op::Or:
        return EvalBoolean(*e.args[0], context, position, size) || EvalBoolean(*e.args[1], context, position, size);
    case Op::And:
        return EvalBoolean(*e.args[0], context, position, size) && EvalBoolean(*e.args[1], context, position, size);
    case Op::Eq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge: return Compare(e, context, position, size);
    case Op::Path:
        if (Streamable(e)) return AnyNode(e, context, [](const Node&) { return true; });
        [[fallthrough]];
    case Op::Filter:
    case Op::Union: {
        std::vector<Node> nodes = TakeBuffer();
        EvalNodes(e, context, nodes);
        const bool any = !nodes.empty();
        GiveBack(std::move(nodes));
        return any;
    }
    default: {
        Value v = Eval(e, context, position, size);
        const bool b = ToBoolean(v);
        Recycle(v);
        return b;
    }
    }
}

double Evaluator::EvalNumber(const Expr& e, const Node& context, std::size_t position, std::size_t size) {
    switch (e.op) {
    case Op::Number: return e.number;
    case Op::Neg: return -EvalNumber(*e.args[0], context, position, size);
    case Op::Add:
    case Op::Sub:
    case Op::Mul:
    case Op::Div:
    case Op::Mod: {
        const double a = EvalNumber(*e.args[0], context, position, size);
        const double b = EvalNumber(*e.args[1], context, position, size);
        switch (e.op) {
        case Op::Add: return a + b;
        case Op::Sub: return a - b;
        case Op::Mul: return a * b;
        case Op::Div: return a / b;
        default: return std::fmod(a, b);
        }
    }
    default: {
        Value v = Eval(e, context, position, size);
        const double n = ToNumber(v);
        Recycle(v);
        return n;
    }
    }
}

void Evaluator::EvalString(const Expr& e, const Node& context, std::size_t position, std::size_t size, XString& out) {
    if (e.op == Op::Literal) {
        out += e.text;
        return;
    }
    Value v = Eval(e, context, position, size);
    ToString(v, out);
    Recycle(v);
}

void Evaluator::EvalNodes(const Expr& e, const Node& context, std::vector<Node>& out) {
    switch (e.op) {
    case Op::Path: EvalPath(e, context, out); return;
    case Op::Filter: EvalFilter(e, context, out); return;
    case Op::Union: {
        EvalNodes(*e.args[0], context, out);
        std::vector<Node> right = TakeBuffer();
        EvalNodes(*e.args[1], context, right);
        out.insert(out.end(), right.begin(), right.end());
        GiveBack(std::move(right));
        SortDocumentOrder(out);
        return;
    }
    case Op::Variable: {
        const Value& bound = Variable(e);
        if (bound.type != Type::NodeSet) throw EvalError{"a variable used as a node-set does not hold one"};
        out.insert(out.end(), bound.nodes.begin(), bound.nodes.end());
        return;
    }
    default: {
        Value v = Eval(e, context, 1, 1);
        if (v.type != Type::NodeSet) throw EvalError{"the expression does not give a node-set"};
        out.insert(out.end(), v.nodes.begin(), v.nodes.end());
        Recycle(v);
    }
    }
}

bool Evaluator::PredicateHolds(const Expr& predicate, const Node& node, std::size_t position, std::size_t size) {
    if (predicate.op == Op::Number) return predicate.number == static_cast<double>(position);
    if (predicate.type == Type::Number)
        return EvalNumber(predicate, node, position, size) == static_cast<double>(position);
    if (predicate.type != Type::Any) return EvalBoolean(predicate, node, position, size);
    Value v = Eval(predicate, node, position, size);
    const bool holds = v.type == Type::Number ? v.number == static_cast<double>(position) : ToBoolean(v);
    Recycle(v);
    return holds;
}

// Filters nodes[begin..) by predicates[first..), each in turn, positions counted in the order the
// nodes are held.
void Evaluator::ApplyPredicates(const std::vector<ExprPtr>& predicates, std::size_t first, std::vector<Node>& nodes,
                                std::size_t begin) {
    for (std::size_t p = first; p < predicates.size(); ++p) {
        const std::size_t size = nodes.size() - begin;
        std::size_t kept = begin;
        for (std::size_t i = begin; i < nodes.size(); ++i)
            if (PredicateHolds(*predicates[p], nodes[i], i - begin + 1, size)) nodes[kept++] = nodes[i];
        nodes.resize(kept);
    }
}

void Evaluator::StepFrom(const Step& step, const Node& context, std::vector<Node>& out) {
    const std::size_t begin = out.size();
    std::vector<Node> scratch;
    if (!step.positional) {
        // Predicates that ignore position are tested as the axis is walked: nothing is held.
        WalkAxis(step.axis, context, scratch, [&](const Node& n) {
            if (Matches(step, n) && AllHold(step, n)) out.push_back(n);
            return true;
        });
        if (IsReverse(step.axis)) std::reverse(out.begin() + static_cast<std::ptrdiff_t>(begin), out.end());
        return;
    }
    WalkAxis(step.axis, context, scratch, [&](const Node& n) {
        if (Matches(step, n)) out.push_back(n);
        return true;
    });
    ApplyPredicates(step.predicates, 0, out, begin);
    if (IsReverse(step.axis)) std::reverse(out.begin() + static_cast<std::ptrdiff_t>(begin), out.end());
}

bool Evaluator::AllHold(const Step& step, const Node& node) {
    for (const ExprPtr& p : step.predicates)
        if (!EvalBoolean(*p, node, 1, 1)) return false;
    return true;
}

// current = where the path starts; flat tells whether no node of it is an ancestor of another
// (then child steps stay in document order).
bool Evaluator::StartPath(const Expr& e, const Node& context, std::vector<Node>& current) {
    if (e.start) {
        EvalNodes(*e.args[0], context, current);
        return current.size() <= 1;
    }
    current.push_back(e.absolute ? Node{RootOf(context)} : context);
    return true;
}

void Evaluator::RunSteps(const Expr& e, std::size_t count, std::vector<Node>& current, bool flat) {
    for (std::size_t i = 0; i < count && !current.empty(); ++i) {
        const Step& step = e.steps[i];
        std::vector<Node> next = TakeBuffer();
        std::size_t producing = 0;
        for (const Node& c : current) {
            const std::size_t before = next.size();
            StepFrom(step, c, next);
            if (next.size() != before) ++producing;
        }
        const Axis a = step.axis;
        const bool keepsOrder = a == Axis::Attribute || a == Axis::Namespace || a == Axis::Self ||
                                (flat && (a == Axis::Child || a == Axis::Descendant || a == Axis::DescendantOrSelf));
        if (producing > 1 && !keepsOrder) SortDocumentOrder(next);
        flat = next.size() <= 1 ||
               (flat && (a == Axis::Child || a == Axis::Attribute || a == Axis::Namespace || a == Axis::Self));
        std::swap(current, next);
        GiveBack(std::move(next));
    }
}

void Evaluator::EvalPath(const Expr& e, const Node& context, std::vector<Node>& out) {
    std::vector<Node> current = TakeBuffer();
    const bool flat = StartPath(e, context, current);
    RunSteps(e, e.steps.size(), current, flat);
    out.insert(out.end(), current.begin(), current.end());
    GiveBack(std::move(current));
}

bool Evaluator::Streamable(const Expr& e) {
    return e.op == Op::Path && !e.start && !e.steps.empty() && !e.steps.back().positional;
}

// The most steps walked one inside the other (each one a frame of the call stack).
constexpr std::size_t kMaxNestedSteps = 32;

// Whether test holds for some node of e (Streamable), in no particular order: the steps after
// the last positional one are walked depth first without keeping their nodes, and the walk stops
// at the first node that passes. Steps before the last that could meet a node many times (the
// descendant and document-order axes) are evaluated as a set first, so that nothing is walked twice.
template <class Test>
bool Evaluator::AnyNode(const Expr& e, const Node& context, Test&& test) {
    std::size_t nested = e.steps.size() - 1;
    while (nested > 0 && e.steps.size() - nested < kMaxNestedSteps) {
        const Step& s = e.steps[nested - 1];
        const bool local = s.axis == Axis::Child || s.axis == Axis::Attribute || s.axis == Axis::Self ||
                           s.axis == Axis::Parent || s.axis == Axis::Namespace;
        if (!local || s.positional) break;
        --nested;
    }
    if (nested == 0 && !e.absolute) return AnyFrom(e, 0, context, test);  // no set to hold at all
    std::vector<Node> current = TakeBuffer();
    const bool flat = StartPath(e, context, current);
    RunSteps(e, nested, current, flat);
    bool found = false;
    for (const Node& c : current)
        if ((found = AnyFrom(e, nested, c, test))) break;
    GiveBack(std::move(current));
    return found;
}

template <class Test>
bool Evaluator::AnyFrom(const Expr& e, std::size_t index, const Node& context, Test& test) {
    const Step& step = e.steps[index];
    const bool last = index + 1 == e.steps.size();
    std::vector<Node> scratch;
    bool found = false;
    WalkAxis(step.axis, context, scratch, [&](const Node& n) {
        if (!Matches(step, n) || !AllHold(step, n)) return true;
        found = last ? test(n) : AnyFrom(e, index + 1, n, test);
        return !found;
    });
    return found;
}

void Evaluator::EvalFilter(const Expr& e, const Node& context, std::vector<Node>& out) {
    const std::size_t begin = out.size();
    EvalNodes(*e.args[0], context, out);
    // Predicates of a filter count positions along the child axis: in document order.
    ApplyPredicates(e.args, 1, out, begin);
}

const XMLCh* Evaluator::StringValueOf(const Node& n) {
    if (const XMLCh* direct = DirectStringValue(n)) return direct;
    m_scratch.clear();
    AppendStringValue(n, m_scratch);
    return m_scratch.c_str();
}

// A comparison of a path with one value: each node is tested as the path is walked, and the
// first that holds ends the walk.
bool Evaluator::CompareStreamed(Op op, const Expr& path, const Expr& other, const Node& context, std::size_t position,
                                std::size_t size) {
    Value held;
    if (other.op != Op::Literal && other.op != Op::Number) held = Eval(other, context, position, size);
    const Type type = other.op == Op::Literal ? Type::String : other.op == Op::Number ? Type::Number : held.type;
    const XMLCh* text = other.op == Op::Literal ? other.text.c_str() : held.string.c_str();
    if (type == Type::Boolean) {
        const bool any = AnyNode(path, context, [](const Node&) { return true; });
        return IsEquality(op) ? Relate(op, any, held.boolean) : Relate(op, any ? 1.0 : 0.0, held.boolean ? 1.0 : 0.0);
    }
    if (type == Type::String && IsEquality(op))
        return AnyNode(path, context, [&](const Node& n) { return Equal(StringValueOf(n), text) == (op == Op::Eq); });
    const double y = other.op == Op::Number ? other.number : type == Type::Number ? held.number : NumberOf(text);
    return AnyNode(path, context, [&](const Node& n) { return Relate(op, NumberOf(StringValueOf(n)), y); });
}

bool Evaluator::Compare(const Expr& e, const Node& context, std::size_t position, std::size_t size) {
    for (std::size_t side = 0; side < 2; ++side) {
        const Expr& path = *e.args[side];
        const Expr& other = *e.args[1 - side];
        if (Streamable(path) && other.type != Type::NodeSet && other.type != Type::Any)
            return CompareStreamed(side == 0 ? e.op : Flipped(e.op), path, other, context, position, size);
    }
    Value held[2];
    Operand operand[2];
    for (int i = 0; i < 2; ++i) {
        const Expr& arg = *e.args[static_cast<std::size_t>(i)];
        Operand& o = operand[i];
        if (arg.op == Op::Literal) {
            o.type = Type::String;
            o.string = arg.text.c_str();
            continue;
        }
        if (arg.op == Op::Number) {
            o.type = Type::Number;
            o.number = arg.number;
            continue;
        }
        held[i] = Eval(arg, context, position, size);
        const Value& v = held[i];
        o.type = v.type;
        o.boolean = v.boolean;
        o.number = v.number;
        o.string = v.string.c_str();
        o.nodes = &v.nodes;
    }
    Op op = e.op;
    bool result = false;
    if (operand[1].type == Type::NodeSet && operand[0].type != Type::NodeSet) {
        std::swap(operand[0], operand[1]);
        op = Flipped(op);
    }
    const Operand& a = operand[0];
    const Operand& b = operand[1];
    auto valueOf = [&](const Node& n) { return StringValueOf(n); };
    if (a.type == Type::NodeSet && b.type == Type::NodeSet) {
        if (IsEquality(op)) {
            std::unordered_set<XString> values;
            for (const Node& n : *b.nodes) values.insert(valueOf(n));
            for (const Node& n : *a.nodes) {
                const XString value = valueOf(n);
                if (op == Op::Eq ? values.count(value) != 0
                                 : (values.size() > 1 || (values.size() == 1 && !values.count(value)))) {
                    result = true;
                    break;
                }
            }
        } else {
            std::vector<double> right;
            for (const Node& n : *b.nodes) right.push_back(NumberOf(valueOf(n)));
            for (const Node& n : *a.nodes) {
                const double x = NumberOf(valueOf(n));
                if (std::any_of(right.begin(), right.end(), [&](double y) { return Relate(op, x, y); })) {
                    result = true;
                    break;
                }
            }
        }
    } else if (a.type == Type::NodeSet) {
        if (b.type == Type::Boolean) {
            result = IsEquality(op) ? Relate(op, !a.nodes->empty(), b.boolean)
                                    : Relate(op, a.nodes->empty() ? 0.0 : 1.0, b.boolean ? 1.0 : 0.0);
        } else if (b.type == Type::String && IsEquality(op)) {
            for (const Node& n : *a.nodes)
                if (Equal(valueOf(n), b.string) == (op == Op::Eq)) {
                    result = true;
                    break;
                }
        } else {
            const double y = b.type == Type::Number ? b.number : NumberOf(b.string);
            for (const Node& n : *a.nodes)
                if (Relate(op, NumberOf(valueOf(n)), y)) {
                    result = true;
                    break;
                }
        }
    } else {
        auto number = [](const Operand& o) {
            switch (o.type) {
            case Type::Number: return o.number;
            case Type::String: return NumberOf(o.string);
            default: return o.boolean ? 1.0 : 0.0;
            }
        };
        auto boolean = [](const Operand& o) {
            switch (o.type) {
            case Type::Number: return o.number != 0 && !std::isnan(o.number);
            case Type::String: return *o.string != 0;
            default: return o.boolean;
            }
        };
        // Relational operators compare numbers; = and != compare as booleans when either side is
        // one, else as numbers when either side is one, else as strings.
        const bool asBooleans = IsEquality(op) && (a.type == Type::Boolean || b.type == Type::Boolean);
        const bool asStrings = IsEquality(op) && !asBooleans && a.type == Type::String && b.type == Type::String;
        if (asBooleans)
            result = Relate(op, boolean(a), boolean(b));
        else if (asStrings)
            result = Equal(a.string, b.string) == (op == Op::Eq);
        else
            result = Relate(op, number(a), number(b));
    }
    Recycle(held[0]);
    Recycle(held[1]);
    return result;
}

}  // namespace XML::internal::xpath
