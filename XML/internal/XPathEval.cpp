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

// --- Axes: each calls emit(node) in the axis's order ------------------------------------------

bool IsAttribute(const Node& n) { return !n.IsNamespace() && n.dom->getNodeType() == DOMNode::ATTRIBUTE_NODE; }
// Attributes and namespace nodes have no children or siblings.
bool IsOutsideContent(const Node& n) { return n.IsNamespace() || IsAttribute(n); }

template <class Emit>
void Descendants(const DOMNode* root, Emit&& emit) {
    for (PreOrderWalk walk(root); walk.Current(); walk.Next()) {
        const DOMNode* c = walk.Current();
        switch (c->getNodeType()) {
        case DOMNode::ELEMENT_NODE:
        case DOMNode::COMMENT_NODE:
        case DOMNode::PROCESSING_INSTRUCTION_NODE: emit(Node{c}); break;
        case DOMNode::TEXT_NODE:
        case DOMNode::CDATA_SECTION_NODE:
            if (!ContinuesText(c)) emit(Node{c});
            break;
        default: break;  // entity references are walked through; document types hold no content
        }
    }
}

// The subtree of s (s included) in reverse document order.
template <class Emit>
void ReverseSubtree(const DOMNode* s, Emit&& emit) {
    const DOMNode* n = s;
    while (const DOMNode* last = LastChild(n)) n = last;
    for (;;) {
        emit(Node{n});
        if (n == s) return;
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
        if (IsOutsideContent(c)) return;
        for (const DOMNode* n = FirstChild(c.dom); n; n = NextSibling(n)) emit(Node{n});
        return;
    case Axis::DescendantOrSelf: emit(c); [[fallthrough]];
    case Axis::Descendant:
        if (!IsOutsideContent(c)) Descendants(c.dom, emit);
        return;
    case Axis::Parent:
        if (const DOMNode* p = Parent(c)) emit(Node{p});
        return;
    case Axis::AncestorOrSelf: emit(c); [[fallthrough]];
    case Axis::Ancestor:
        for (const DOMNode* p = Parent(c); p; p = Parent(Node{p})) emit(Node{p});
        return;
    case Axis::FollowingSibling:
        if (IsOutsideContent(c)) return;
        for (const DOMNode* n = NextSibling(c.dom); n; n = NextSibling(n)) emit(Node{n});
        return;
    case Axis::PrecedingSibling:
        if (IsOutsideContent(c)) return;
        for (const DOMNode* n = PreviousSibling(c.dom); n; n = PreviousSibling(n)) emit(Node{n});
        return;
    case Axis::Following: {
        const DOMNode* start = c.dom;
        if (IsOutsideContent(c)) {
            start = Parent(c);
            if (!start) return;
            Descendants(start, emit);  // after an attribute come its element's descendants
        }
        for (const DOMNode* cur = start; cur; cur = Parent(Node{cur}))
            for (const DOMNode* s = NextSibling(cur); s; s = NextSibling(s)) {
                emit(Node{s});
                Descendants(s, emit);
            }
        return;
    }
    case Axis::Preceding: {
        const DOMNode* start = IsOutsideContent(c) ? Parent(c) : c.dom;
        for (const DOMNode* cur = start; cur; cur = Parent(Node{cur}))
            for (const DOMNode* s = PreviousSibling(cur); s; s = PreviousSibling(s)) ReverseSubtree(s, emit);
        return;
    }
    case Axis::Attribute: {
        if (c.IsNamespace() || !IsElement(c.dom)) return;
        const xercesc::DOMNamedNodeMap* attributes = c.dom->getAttributes();
        const XMLSize_t count = attributes ? attributes->getLength() : 0;
        for (XMLSize_t i = 0; i < count; ++i) {
            const DOMNode* a = attributes->item(i);
            if (!IsNamespaceDeclaration(a)) emit(Node{a});
        }
        return;
    }
    case Axis::Namespace: {
        if (c.IsNamespace() || !IsElement(c.dom)) return;
        scratch.clear();
        NamespacesOf(c.dom, scratch);
        for (const Node& n : scratch) emit(n);
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
            if (!Matches(step, n)) return;
            for (const ExprPtr& p : step.predicates)
                if (!EvalBoolean(*p, n, 1, 1)) return;
            out.push_back(n);
        });
        if (IsReverse(step.axis)) std::reverse(out.begin() + static_cast<std::ptrdiff_t>(begin), out.end());
        return;
    }
    WalkAxis(step.axis, context, scratch, [&](const Node& n) {
        if (Matches(step, n)) out.push_back(n);
    });
    ApplyPredicates(step.predicates, 0, out, begin);
    if (IsReverse(step.axis)) std::reverse(out.begin() + static_cast<std::ptrdiff_t>(begin), out.end());
}

void Evaluator::EvalPath(const Expr& e, const Node& context, std::vector<Node>& out) {
    std::vector<Node> current = TakeBuffer();
    // Whether no node of current is an ancestor of another: then child steps stay in order.
    bool flat = true;
    if (e.start) {
        EvalNodes(*e.args[0], context, current);
        flat = current.size() <= 1;
    } else if (e.absolute) {
        current.push_back(Node{RootOf(context)});
    } else {
        current.push_back(context);
    }
    for (const Step& step : e.steps) {
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
        GiveBack(std::move(current));
        current = std::move(next);
        if (current.empty()) break;
    }
    out.insert(out.end(), current.begin(), current.end());
    GiveBack(std::move(current));
}

void Evaluator::EvalFilter(const Expr& e, const Node& context, std::vector<Node>& out) {
    const std::size_t begin = out.size();
    EvalNodes(*e.args[0], context, out);
    // Predicates of a filter count positions along the child axis: in document order.
    ApplyPredicates(e.args, 1, out, begin);
}

bool Evaluator::Compare(const Expr& e, const Node& context, std::size_t position, std::size_t size) {
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
    auto valueOf = [&](const Node& n) -> const XMLCh* {
        if (const XMLCh* direct = DirectStringValue(n)) return direct;
        m_scratch.clear();
        AppendStringValue(n, m_scratch);
        return m_scratch.c_str();
    };
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
        if (!IsEquality(op))
            result = Relate(op, number(a), number(b));
        else if (a.type == Type::Boolean || b.type == Type::Boolean)
            result = Relate(op, boolean(a), boolean(b));
        else if (a.type == Type::Number || b.type == Type::Number)
            result = Relate(op, number(a), number(b));
        else
            result = Equal(a.string, b.string) == (op == Op::Eq);
    }
    Recycle(held[0]);
    Recycle(held[1]);
    return result;
}

}  // namespace XML::internal::xpath
