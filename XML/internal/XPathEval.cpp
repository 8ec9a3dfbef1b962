// XPathEval: axes, node tests, predicates, operators and comparisons.
#include "XML/internal/XPathEval.h"

#include "XML/internal/NodeIndex.h"
#include "XML/internal/TreeWalk.h"
#include "XML/internal/XPathNumber.h"

#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMNamedNodeMap.hpp>
#include <xercesc/util/XMLString.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>
#include <unordered_set>

namespace XML::internal::xpath {

using xercesc::DOMNode;
using xercesc::XMLString;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr XMLCh kTrue[] = {'t', 'r', 'u', 'e', 0};
constexpr XMLCh kFalse[] = {'f', 'a', 'l', 's', 'e', 0};

// --- Node tests ------------------------------------------------------------------------------

// The kind of a node as a walk gives it: known when the walk read it already (or has it from the
// document's index), so that a node a test rejects by kind is not read at all.
constexpr int kUnknownKind = -1;
Kind KindOf(const Node& n, int kind) { return kind == kUnknownKind ? n.dom->getNodeType() : static_cast<Kind>(kind); }

bool IsPrincipal(Axis axis, const Node& n, int kind) {
    if (axis == Axis::Namespace) return n.IsNamespace();
    if (n.IsNamespace()) return false;
    const Kind k = KindOf(n, kind);
    return axis == Axis::Attribute ? k == DOMNode::ATTRIBUTE_NODE : k == DOMNode::ELEMENT_NODE;
}

bool Matches(const Step& s, const Node& n, int kind = kUnknownKind) {
    switch (s.test) {
    case Test::Node: return true;
    case Test::Text: {
        if (n.IsNamespace()) return false;
        const Kind k = KindOf(n, kind);
        return k == DOMNode::TEXT_NODE || k == DOMNode::CDATA_SECTION_NODE;
    }
    case Test::Comment: return !n.IsNamespace() && KindOf(n, kind) == DOMNode::COMMENT_NODE;
    case Test::PI:
        return !n.IsNamespace() && KindOf(n, kind) == DOMNode::PROCESSING_INSTRUCTION_NODE &&
               (s.local.empty() || XMLString::equals(n.dom->getNodeName(), s.local.c_str()));
    case Test::Any: return IsPrincipal(s.axis, n, kind);
    case Test::AnyLocal: return IsPrincipal(s.axis, n, kind) && XMLString::equals(NamespaceUri(n), s.uri.c_str());
    case Test::Name: {
        if (s.axis == Axis::Namespace || n.IsNamespace())
            return IsPrincipal(s.axis, n, kind) && XMLString::equals(LocalName(n), s.local.c_str()) &&
                   XMLString::equals(NamespaceUri(n), s.uri.c_str());
        // The kind read once: every node of a descendant walk meets this test.
        const DOMNode* d = n.dom;
        if (KindOf(n, kind) != (s.axis == Axis::Attribute ? DOMNode::ATTRIBUTE_NODE : DOMNode::ELEMENT_NODE))
            return false;
        const XMLCh* local = d->getLocalName();
        return XMLString::equals(local ? local : d->getNodeName(), s.local.c_str()) &&
               XMLString::equals(d->getNamespaceURI(), s.uri.c_str());
    }
    }
    return false;
}

// --- Axes: each calls emit(node, kind) in the axis's order while emit returns true ---------------

bool IsAttribute(const Node& n) { return !n.IsNamespace() && n.dom->getNodeType() == DOMNode::ATTRIBUTE_NODE; }
// Attributes and namespace nodes have no children or siblings.
bool IsOutsideContent(const Node& n) { return n.IsNamespace() || IsAttribute(n); }

// What a walk of descendants tells as it goes down into a node's children and back up.
struct NoDescent {
    void Down(const DOMNode*, int) const {}
    void Up() const {}
};

// The descendants of the document in document order, read from its index: the same nodes, kinds
// and descents as the walk of the DOM below recorded them, without visiting a node the caller
// does not read.
template <class Emit, class Descent>
bool IndexedDescendants(const NodeIndex& index, Emit&& emit, Descent&& descent) {
    constexpr bool kDescends = !std::is_same_v<std::decay_t<Descent>, NoDescent>;
    const std::vector<NodeIndex::Entry>& entries = index.Entries();
    std::vector<std::uint32_t> ends;  // of the subtrees gone down into, innermost last
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const NodeIndex::Entry& e = entries[i];
        if constexpr (kDescends) {
            while (!ends.empty() && ends.back() <= i) {
                ends.pop_back();
                descent.Up();
            }
        }
        if ((e.flags & NodeIndex::kGiven) != 0 && !emit(Node{e.node}, static_cast<int>(e.kind))) return false;
        if constexpr (kDescends) {
            if ((e.flags & NodeIndex::kOpens) != 0) {
                ends.push_back(e.end);
                descent.Down(e.node, static_cast<int>(e.kind));
            }
        }
    }
    if constexpr (kDescends) {
        for (; !ends.empty(); ends.pop_back()) descent.Up();  // as the walk of the tree climbs back
    }
    return true;
}

// The descendants of root in the DOM in document order; false when emit stopped the walk. Its own
// stack of ancestors, so that no step climbs through getParentNode, and the kind of the sibling
// it comes from, so that a text node needs no getPreviousSibling to tell whether it continues a run.
template <class Emit, class Descent>
bool WalkDescendants(const DOMNode* root, Emit&& emit, Descent&& descent) {
    AncestorStack above;
    std::size_t entities = 0;  // entity references open around n
    int previous = -1;         // the kind of n's previous sibling, -1 for none
    const DOMNode* n = root->getFirstChild();
    while (n) {
        const Kind k = n->getNodeType();
        switch (k) {
        case DOMNode::ELEMENT_NODE:
        case DOMNode::COMMENT_NODE:
        case DOMNode::PROCESSING_INSTRUCTION_NODE:
            if (!emit(Node{n}, static_cast<int>(k))) return false;
            break;
        case DOMNode::TEXT_NODE:
        case DOMNode::CDATA_SECTION_NODE: {
            const bool continues = entities != 0
                                       ? ContinuesText(n)
                                       : previous == DOMNode::TEXT_NODE || previous == DOMNode::CDATA_SECTION_NODE ||
                                             (previous == DOMNode::ENTITY_REFERENCE_NODE && ContinuesText(n));
            if (!continues && !emit(Node{n}, static_cast<int>(k))) return false;
            break;
        }
        default: break;  // entity references are walked through; document types hold no content
        }
        if (k != DOMNode::DOCUMENT_TYPE_NODE) {
            if (const DOMNode* child = n->getFirstChild()) {
                above.Push(n);
                descent.Down(n, static_cast<int>(k));
                entities += k == DOMNode::ENTITY_REFERENCE_NODE;
                previous = -1;
                n = child;
                continue;
            }
        }
        int kind = k;  // of n, read again only for an ancestor climbed back to
        for (;;) {
            if (const DOMNode* sibling = n->getNextSibling()) {
                previous = kind;
                n = sibling;
                break;
            }
            if (above.Empty()) return true;
            n = above.Pop();
            descent.Up();
            kind = n->getNodeType();
            entities -= kind == DOMNode::ENTITY_REFERENCE_NODE;
        }
    }
    return true;
}

// The walk of the DOM, recorded into recorder as it goes. A walk that emit stops keeps no
// record: going on for the record alone would make a search that ends early walk everything.
template <class Emit, class Descent>
bool RecordDescendants(const DOMNode* root, Emit&& emit, Descent&& descent, NodeIndex::Recorder& recorder) {
    const auto both = [&](const Node& n, int kind) {
        recorder.Give(n.dom, kind);  // past its cap the recorder keeps nothing more
        return emit(n, kind);
    };
    struct Both {
        Descent& descent;
        NodeIndex::Recorder& recorder;
        void Down(const DOMNode* n, int kind) const {
            if (!recorder.Stopped()) recorder.Down(n, kind);
            descent.Down(n, kind);
        }
        void Up() const {
            if (!recorder.Stopped()) recorder.Up();
            descent.Up();
        }
    };
    if (!WalkDescendants(root, both, Both{descent, recorder})) return false;
    recorder.End();
    return true;
}

// The descendants of root in document order; false when emit stopped the walk. Read from the
// document's index, or recorded into it, as use says.
template <class Emit, class Descent = NoDescent>
bool Descendants(const DOMNode* root, Emit&& emit, Descent&& descent = NoDescent{}, const IndexUse& use = {}) {
    if (use.read && use.read->Root() == root) return IndexedDescendants(*use.read, emit, descent);
    if (use.record) return RecordDescendants(root, emit, descent, *use.record);
    return WalkDescendants(root, emit, descent);
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

// use: the document's index, for a walk of the descendants of the document.
template <class KindedEmit>
void WalkAxis(Axis axis, const Node& c, std::vector<Node>& scratch, Budget& budget, KindedEmit&& kindedEmit,
              const IndexUse& use = {}) {
    const auto emit = [&kindedEmit](const Node& n) { return kindedEmit(n, kUnknownKind); };
    switch (axis) {
    case Axis::Self: emit(c); return;
    case Axis::Child:
        if (!IsOutsideContent(c)) Children(c.dom, emit);
        return;
    case Axis::DescendantOrSelf:
        if (!emit(c)) return;
        [[fallthrough]];
    case Axis::Descendant:
        if (!IsOutsideContent(c)) Descendants(c.dom, kindedEmit, NoDescent{}, use);
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
            if (!start || !Descendants(start, kindedEmit)) return;
        }
        for (const DOMNode* cur = start; cur; cur = Parent(Node{cur}))
            for (const DOMNode* s = NextSibling(cur); s; s = NextSibling(s))
                if (!emit(Node{s}) || !Descendants(s, kindedEmit)) return;
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
        NamespacesOf(c.dom, scratch, budget);
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

double Evaluator::ToNumber(const Value& v) {
    switch (v.type) {
    case Type::NodeSet: return v.nodes.empty() ? kNaN : NumberOf(StringValueOf(v.nodes.front()));
    case Type::Number: return v.number;
    case Type::String: return NumberOf(v.string.c_str());
    default: return v.boolean ? 1 : 0;
    }
}

void Evaluator::ToString(const Value& v, XString& out) {
    switch (v.type) {
    case Type::NodeSet:
        if (!v.nodes.empty()) AppendStringValue(v.nodes.front(), out, m_budget);
        return;
    case Type::Number: {
        const std::string text = FormatXPathNumber(v.number);
        out.append(text.begin(), text.end());
        return;
    }
    case Type::String:
        m_budget.Build(v.string.size());
        out += v.string;
        return;
    default: out += v.boolean ? kTrue : kFalse;
    }
}

// --- Evaluator -------------------------------------------------------------------------------

Evaluator::Evaluator(const Variables* variables, const BudgetLimits& limits, const Node& context, bool buildIndex)
    : m_variables(variables), m_budget(limits), m_buildIndex(buildIndex) {
    // A context-free value is the same for every context of one tree: the document's, when the
    // evaluation starts in it and no variable brings nodes of another.
    const DOMNode* root = context.dom ? RootOf(context) : nullptr;
    if (root && root->getNodeType() == DOMNode::DOCUMENT_NODE) m_document = root;
    m_sharing = m_document != nullptr;
    if (variables)
        for (const auto& entry : *variables) m_sharing = m_sharing && entry.second.type != Type::NodeSet;
}

Evaluator::~Evaluator() = default;

template <class Walk>
void Evaluator::OverDocument(Axis axis, const Node& context, Walk&& walk) {
    if (!m_document || context.dom != m_document || context.IsNamespace() ||
        (axis != Axis::Descendant && axis != Axis::DescendantOrSelf) || m_build) {
        walk(IndexUse{});  // a walk inside the one recording goes through the tree
        return;
    }
    if (!m_indexAsked) {
        m_indexAsked = true;
        const auto* document = static_cast<const xercesc::DOMDocument*>(m_document);
        if (m_buildIndex) {
            // A node recorded is a step: at most the steps left are recorded.
            IndexAccess access = AccessIndex(document, m_budget.StepsLeft());
            m_index = std::move(access.index);
            m_build = std::move(access.build);
        } else {
            m_index = CurrentIndex(document);
        }
    }
    if (!m_build) {
        walk(IndexUse{m_index.get(), nullptr});
        return;
    }
    NodeIndex::Recorder& recorder = m_build->Recorder();
    try {
        walk(IndexUse{nullptr, &recorder});
    } catch (...) {
        m_build.reset();  // nothing published
        throw;
    }
    const std::size_t recorded = recorder.Recorded();
    m_index = m_build->Finish();
    m_build.reset();
    m_builtIndex = true;
    m_budget.Step(std::min(recorded, m_budget.StepsLeft()));
}

std::vector<Node> Evaluator::TakeBuffer() {
    if (m_spare.empty()) return {};
    std::vector<Node> buffer = std::move(m_spare.back());
    m_spare.pop_back();
    buffer.clear();
    return buffer;
}

void Evaluator::GiveBack(std::vector<Node>&& buffer) {
    m_budget.Release(buffer.size());
    buffer.clear();
    if (buffer.capacity() != 0 && m_spare.size() < 64) m_spare.push_back(std::move(buffer));
}

const Value& Evaluator::Variable(const Expr& e) const {
    if (m_variables) {
        const auto it = m_variables->find(e.text);
        if (it != m_variables->end()) return it->second;
    }
    throw EvalError{"unbound variable"};
}

void Evaluator::Append(std::vector<Node>& out, const std::vector<Node>& nodes) {
    m_budget.Hold(nodes.size());
    out.insert(out.end(), nodes.begin(), nodes.end());
}

bool Evaluator::ContextFree(const Expr& e) {
    if (const auto it = m_contextFree.find(&e); it != m_contextFree.end()) return it->second;
    bool free = true;
    switch (e.op) {
    case Op::Literal:
    case Op::Number:
    case Op::Variable: break;
    case Op::Path: free = e.start ? ContextFree(*e.args[0]) : e.absolute; break;
    case Op::Filter: free = ContextFree(*e.args[0]); break;  // its predicates have contexts of their own
    case Op::Call:
        switch (e.fn) {
        case Fn::Last:
        case Fn::Position:
        case Fn::Lang: free = false; break;
        case Fn::LocalName:
        case Fn::NamespaceUri:
        case Fn::Name:
        case Fn::String:
        case Fn::StringLength:
        case Fn::NormalizeSpace:
        case Fn::Number: free = !e.args.empty(); break;  // without an argument: the context node
        default: break;
        }
        [[fallthrough]];
    default:
        for (const ExprPtr& arg : e.args) free = free && ContextFree(*arg);
    }
    m_contextFree.emplace(&e, free);
    return free;
}

// Inside a predicate, an expression that does not depend on its context (an absolute path, a
// count of one, a comparison of two) is evaluated once: every later context reads the value.
Evaluator::Shared* Evaluator::SharedFor(const Expr& e, const Node& context) {
    if (!m_sharing || m_predicates == 0 || e.op == Op::Literal || e.op == Op::Number || e.op == Op::Variable)
        return nullptr;
    if (const auto it = m_shared.find(&e); it != m_shared.end()) return it->second.ready ? &it->second : nullptr;
    if (!ContextFree(e)) return nullptr;
    m_shared[&e];  // not ready: the evaluation below computes e itself
    Value v = EvalDirect(e, context, 1, 1);
    Shared& shared = m_shared[&e];
    shared.value = std::move(v);
    shared.ready = true;
    return &shared;
}

Value Evaluator::Eval(const Expr& e, const Node& context, std::size_t position, std::size_t size) {
    if (Shared* shared = SharedFor(e, context)) {
        m_budget.Hold(shared->value.nodes.size());
        return shared->value;
    }
    return EvalDirect(e, context, position, size);
}

Value Evaluator::EvalDirect(const Expr& e, const Node& context, std::size_t position, std::size_t size) {
    m_budget.Step();
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
        m_budget.Hold(bound.nodes.size());
        v = bound;
        return v;
    }
    case Op::Call: {
        v = Call(e, context, position, size);
        m_budget.Build(v.string.size());
        return v;
    }
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
    if (const Shared* shared = SharedFor(e, context)) return ToBoolean(shared->value);
    m_budget.Step();
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
        if (Walkable(e)) return AnyNode(e, context, [](const Node&) { return true; });
        [[fallthrough]];
    case Op::Filter:
    case Op::Union: {
        // A union of paths that cannot fail on a type is not empty when one side is not.
        if (e.op == Op::Union && Walkable(*e.args[0]) && Walkable(*e.args[1]))
            return EvalBoolean(*e.args[0], context, position, size) || EvalBoolean(*e.args[1], context, position, size);
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
    if (const Shared* shared = SharedFor(e, context)) return ToNumber(shared->value);
    m_budget.Step();
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
        m_budget.Build(e.text.size());
        out += e.text;
        return;
    }
    if (const Shared* shared = SharedFor(e, context)) {
        ToString(shared->value, out);
        return;
    }
    Value v = Eval(e, context, position, size);
    ToString(v, out);
    Recycle(v);
}

void Evaluator::EvalNodes(const Expr& e, const Node& context, std::vector<Node>& out) {
    if (const Shared* shared = SharedFor(e, context)) {
        if (shared->value.type != Type::NodeSet) throw EvalError{"the expression does not give a node-set"};
        Append(out, shared->value.nodes);
        return;
    }
    m_budget.Step();
    switch (e.op) {
    case Op::Path: EvalPath(e, context, out); return;
    case Op::Filter: EvalFilter(e, context, out); return;
    case Op::Union: {
        // Both sides are in document order: merged, not sorted again.
        const std::size_t begin = out.size();
        std::vector<Node> left = TakeBuffer();
        EvalNodes(*e.args[0], context, left);
        std::vector<Node> right = TakeBuffer();
        EvalNodes(*e.args[1], context, right);
        Append(out, left);
        m_order.Merge(out, begin, right, m_budget);
        m_budget.Hold(out.size() - begin - left.size());
        GiveBack(std::move(left));
        GiveBack(std::move(right));
        return;
    }
    case Op::Variable: {
        const Value& bound = Variable(e);
        if (bound.type != Type::NodeSet) throw EvalError{"a variable used as a node-set does not hold one"};
        Append(out, bound.nodes);
        return;
    }
    default: {
        Value v = Eval(e, context, 1, 1);
        if (v.type != Type::NodeSet) throw EvalError{"the expression does not give a node-set"};
        Append(out, v.nodes);
        Recycle(v);
    }
    }
}

namespace {
// Counts the predicates open around an expression while one is evaluated.
class InPredicate {
public:
    explicit InPredicate(std::size_t& count) : m_count(++count) {}
    ~InPredicate() { --m_count; }
    InPredicate(const InPredicate&) = delete;
    InPredicate& operator=(const InPredicate&) = delete;

private:
    std::size_t& m_count;
};
}  // namespace

bool Evaluator::PredicateHolds(const Expr& predicate, const Node& node, std::size_t position, std::size_t size) {
    m_budget.Step();
    const InPredicate open(m_predicates);
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
        OverDocument(step.axis, context, [&](const IndexUse& use) {
            WalkAxis(
                step.axis, context, scratch, m_budget,
                [&](const Node& n, int kind) {
                    m_budget.Step();
                    if (Matches(step, n, kind) && AllHold(step, n)) Hold(out, n);
                    return true;
                },
                use);
        });
        if (IsReverse(step.axis)) std::reverse(out.begin() + static_cast<std::ptrdiff_t>(begin), out.end());
        return;
    }
    OverDocument(step.axis, context, [&](const IndexUse& use) {
        WalkAxis(
            step.axis, context, scratch, m_budget,
            [&](const Node& n, int kind) {
                m_budget.Step();
                if (Matches(step, n, kind)) Hold(out, n);
                return true;
            },
            use);
    });
    ApplyPredicates(step.predicates, 0, out, begin);
    if (IsReverse(step.axis)) std::reverse(out.begin() + static_cast<std::ptrdiff_t>(begin), out.end());
}

// A step without positional predicates from every node of current (in document order), each node
// of the axes that overlap (descendants, ancestors, siblings, following, preceding) walked once:
// a walk stops at the first node an earlier walk met, as all that comes after it was met too.
// Preceding walks run from the last context back, so that the first covers the others.
void Evaluator::StepFromAll(const Step& step, const std::vector<Node>& current, std::vector<Node>& next) {
    std::unordered_set<const DOMNode*> seen;
    std::vector<Node> scratch;
    const bool backward = step.axis == Axis::Preceding || step.axis == Axis::PrecedingSibling;
    const bool below = step.axis == Axis::Descendant || step.axis == Axis::DescendantOrSelf;
    for (std::size_t k = 0; k < current.size(); ++k) {
        const Node& c = current[backward ? current.size() - 1 - k : k];
        if (below && !c.IsNamespace() && seen.count(c.dom)) continue;  // inside a subtree already walked
        const std::size_t begin = next.size();
        WalkAxis(step.axis, c, scratch, m_budget, [&](const Node& n, int kind) {
            m_budget.Step();
            if (!n.IsNamespace() && !seen.insert(n.dom).second) return false;
            if (Matches(step, n, kind) && AllHold(step, n)) Hold(next, n);
            return true;
        });
        if (IsReverse(step.axis)) std::reverse(next.begin() + static_cast<std::ptrdiff_t>(begin), next.end());
    }
    if (!below) m_order.Sort(next, 0, m_budget);
}

namespace {
bool Overlapping(Axis a) {
    return a != Axis::Child && a != Axis::Attribute && a != Axis::Namespace && a != Axis::Self && a != Axis::Parent;
}

// Whether no node of nodes (in document order) is an ancestor of another: then a node's
// descendants come right after it, so only the node before it can hold it, and a climb that meets
// that node's parent first shows it does not. Undecided (false) past a bound linear in the size.
bool Disjoint(const std::vector<Node>& nodes) {
    std::size_t climbs = 8 * nodes.size() + 1024;
    const DOMNode* above = nodes.empty() ? nullptr : Parent(nodes[0]);  // the parent of the node before
    for (std::size_t i = 1; i < nodes.size(); ++i) {
        const DOMNode* parent = Parent(nodes[i]);
        for (const DOMNode* p = parent; p && p != above; p = Parent(Node{p}))
            if (p == nodes[i - 1].dom || climbs-- == 0) return false;
        above = parent;
    }
    return true;
}
}  // namespace

bool Evaluator::AllHold(const Step& step, const Node& node) {
    const InPredicate open(m_predicates);
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

bool Evaluator::RunSteps(const Expr& e, std::size_t first, std::size_t end, std::vector<Node>& current, bool flat) {
    for (std::size_t i = first; i < end && !current.empty(); ++i) {
        const Step& step = e.steps[i];
        std::vector<Node> next = TakeBuffer();
        const Axis a = step.axis;
        if (current.size() > 1 && !step.positional && Overlapping(a)) {
            StepFromAll(step, current, next);
        } else {
            std::size_t producing = 0;
            for (const Node& c : current) {
                const std::size_t before = next.size();
                StepFrom(step, c, next);
                if (next.size() != before) ++producing;
            }
            const bool keepsOrder = a == Axis::Attribute || a == Axis::Namespace || a == Axis::Self ||
                                    (flat &&
                                     (a == Axis::Child || a == Axis::Descendant || a == Axis::DescendantOrSelf));
            if (producing > 1 && !keepsOrder) m_order.Sort(next, 0, m_budget);
        }
        // The nodes of a descendant step seldom nest (records in a list): a child step after them then
        // needs no sort.
        flat = next.size() <= 1 ||
               (flat && (a == Axis::Child || a == Axis::Attribute || a == Axis::Namespace || a == Axis::Self)) ||
               ((a == Axis::Descendant || a == Axis::DescendantOrSelf) && Disjoint(next));
        std::swap(current, next);
        GiveBack(std::move(next));
    }
    return flat || current.size() <= 1;
}

void Evaluator::EvalPath(const Expr& e, const Node& context, std::vector<Node>& out) {
    if (DescendantThenChild(e, context, [&](const Node& n) { Hold(out, n); })) return;
    std::vector<Node> current = TakeBuffer();
    const bool flat = StartPath(e, context, current);
    RunSteps(e, 0, e.steps.size(), current, flat);
    Append(out, current);
    GiveBack(std::move(current));
}

bool Evaluator::Streamable(const Expr& e) {
    return e.op == Op::Path && !e.start && !e.steps.empty() && !e.steps.back().positional;
}

// A path that can be walked with its start evaluated as a set: a start that is a path itself (or
// a union of them) cannot fail for its type, so stopping early changes no outcome.
bool Evaluator::Walkable(const Expr& e) {
    if (e.op == Op::Union) return Walkable(*e.args[0]) && Walkable(*e.args[1]);
    if (e.op != Op::Path || e.steps.empty() || e.steps.back().positional) return false;
    return !e.start || Walkable(*e.args[0]);
}

// The most steps walked one inside the other (each one a frame of the call stack).
constexpr std::size_t kMaxNestedSteps = 32;

// Whether test holds for some node of e (Streamable), in no particular order: the steps after
// the last positional one are walked depth first without keeping their nodes, and the walk stops
// at the first node that passes. Steps before the last that could meet a node many times (the
// descendant and document-order axes) are evaluated as a set first, so that nothing is walked twice.
// distinct: the nested steps must give each node once (no parent step: siblings share theirs).
// The first of the steps of e (Walkable) that are walked one inside the other from each node the
// steps before it give.
std::size_t Evaluator::NestedSteps(const Expr& e, bool distinct) {
    std::size_t nested = e.steps.size() - 1;
    while (nested > 0 && e.steps.size() - nested < kMaxNestedSteps) {
        const Step& s = e.steps[nested - 1];
        const bool local = s.axis == Axis::Child || s.axis == Axis::Attribute || s.axis == Axis::Self ||
                           (s.axis == Axis::Parent && !distinct) || s.axis == Axis::Namespace;
        if (!local || s.positional) break;
        --nested;
    }
    return nested;
}

template <class Test>
bool Evaluator::AnyNode(const Expr& e, const Node& context, Test&& test, bool distinct) {
    const std::size_t nested = NestedSteps(e, distinct);
    if (nested == 0 && !e.absolute && !e.start) return AnyFrom(e, 0, context, test);  // no set to hold at all
    std::vector<Node> current = TakeBuffer();
    const bool flat = StartPath(e, context, current);
    RunSteps(e, 0, nested, current, flat);
    bool found = false;
    for (const Node& c : current)
        if ((found = AnyFrom(e, nested, c, test))) break;
    GiveBack(std::move(current));
    return found;
}

template <class Each>
bool Evaluator::DescendantThenChild(const Expr& e, const Node& context, Each&& each) {
    if (e.op != Op::Path || e.start || e.steps.size() != 2) return false;
    const Step& above = e.steps[0];
    const Step& below = e.steps[1];
    if (above.positional || below.positional || below.axis != Axis::Child ||
        (above.axis != Axis::Descendant && above.axis != Axis::DescendantOrSelf))
        return false;
    const Node start = e.absolute ? Node{RootOf(context)} : context;
    const auto first = [&](const Node& n) { return Matches(above, n) && AllHold(above, n); };
    // Whether each open node (the start, then the ancestors of the walk's node) is a node of the
    // first step, so that its children are candidates of the second; entity references are
    // transparent and take their parent's.
    std::vector<char> open;
    if (above.axis == Axis::DescendantOrSelf) m_budget.Step();
    open.push_back(above.axis == Axis::DescendantOrSelf && first(start));
    if (IsOutsideContent(start)) return true;
    const DOMNode* last = nullptr;  // the last element met, and whether it is of the first step
    bool lastIsFirst = false;
    struct Descent {
        std::vector<char>& open;
        const DOMNode*& last;
        bool& lastIsFirst;
        void Down(const DOMNode* n, int) const { open.push_back(n == last ? lastIsFirst : open.back()); }
        void Up() const { open.pop_back(); }
    };
    OverDocument(Axis::Descendant, start, [&](const IndexUse& use) {
        Descendants(
            start.dom,
            [&](const Node& n, int kind) {
                m_budget.Step();
                if (open.back() && Matches(below, n, kind) && AllHold(below, n)) each(n);
                if (kind == DOMNode::ELEMENT_NODE) {
                    last = n.dom;
                    lastIsFirst = first(n);
                }
                return true;
            },
            Descent{open, last, lastIsFirst}, use);
    });
    return true;
}

template <class Each>
void Evaluator::EachNode(const Expr& e, const Node& context, bool ordered, Each&& each) {
    if (DescendantThenChild(e, context, each)) return;
    std::vector<Node> current = TakeBuffer();
    if (e.op != Op::Path || !Walkable(e)) {
        EvalNodes(e, context, current);
    } else {
        const std::size_t nested = NestedSteps(e, true);
        bool flat = StartPath(e, context, current);
        flat = RunSteps(e, 0, nested, current, flat);
        const Axis a = e.steps.back().axis;
        const bool local = a == Axis::Child || a == Axis::Attribute || a == Axis::Self || a == Axis::Namespace;
        // From one node, a forward axis gives each node once and in document order; from several,
        // the local axes give each once, and in document order when no context holds another.
        const bool single = nested + 1 == e.steps.size() && current.size() <= 1 && !IsReverse(a);
        if (single || (local && (flat || !ordered))) {
            auto test = [&each](const Node& n) {
                each(n);
                return false;
            };
            for (const Node& c : current) AnyFrom(e, nested, c, test);
            GiveBack(std::move(current));
            return;
        }
        RunSteps(e, nested, e.steps.size(), current, flat);
    }
    for (const Node& n : current) each(n);
    GiveBack(std::move(current));
}

double Evaluator::CountNodes(const Expr& e, const Node& context) {
    double count = 0;
    EachNode(e, context, false, [&count](const Node&) { ++count; });
    return count;
}

// Added in document order, as the set would be: the same rounding.
double Evaluator::SumNodes(const Expr& e, const Node& context) {
    double sum = 0;
    EachNode(e, context, true, [&](const Node& n) { sum += NumberOf(StringValueOf(n)); });
    return sum;
}

template <class Test>
bool Evaluator::AnyFrom(const Expr& e, std::size_t index, const Node& context, Test& test) {
    const Step& step = e.steps[index];
    const bool last = index + 1 == e.steps.size();
    std::vector<Node> scratch;
    bool found = false;
    OverDocument(step.axis, context, [&](const IndexUse& use) {
        WalkAxis(
            step.axis, context, scratch, m_budget,
            [&](const Node& n, int kind) {
                m_budget.Step();
                if (!Matches(step, n, kind) || !AllHold(step, n)) return true;
                found = last ? test(n) : AnyFrom(e, index + 1, n, test);
                return !found;
            },
            use);
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
    AppendStringValue(n, m_scratch, m_budget);
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

const std::unordered_set<XString>& Evaluator::StringsOf(const std::vector<Node>& nodes, Shared* shared,
                                                        std::unordered_set<XString>& local) {
    if (shared && shared->strings) return *shared->strings;
    std::unordered_set<XString> values;
    for (const Node& n : nodes) {
        m_budget.Step();
        const XMLCh* value = StringValueOf(n);
        if (values.emplace(value).second) m_budget.Build(XMLString::stringLen(value));
    }
    if (!shared) return local = std::move(values);
    shared->strings = std::make_unique<std::unordered_set<XString>>(std::move(values));
    return *shared->strings;
}

void Evaluator::RangeOf(const std::vector<Node>& nodes, Shared* shared, bool& any, double& min, double& max) {
    if (!shared || !shared->ranged) {
        any = false;
        for (const Node& n : nodes) {
            m_budget.Step();
            const double x = NumberOf(StringValueOf(n));
            if (std::isnan(x)) continue;
            min = any ? std::min(min, x) : x;
            max = any ? std::max(max, x) : x;
            any = true;
        }
        if (!shared) return;
        shared->ranged = true;
        shared->anyNumber = any;
        shared->min = min;
        shared->max = max;
    }
    any = shared->anyNumber;
    min = shared->min;
    max = shared->max;
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
    Shared* shared[2] = {nullptr, nullptr};
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
        // A shared value is read where it is kept, not copied for every context.
        shared[i] = SharedFor(arg, context);
        if (!shared[i]) held[i] = Eval(arg, context, position, size);
        const Value& v = shared[i] ? shared[i]->value : held[i];
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
        std::swap(shared[0], shared[1]);
        op = Flipped(op);
    }
    const Operand& a = operand[0];
    const Operand& b = operand[1];
    auto valueOf = [&](const Node& n) { return StringValueOf(n); };
    if (a.type == Type::NodeSet && b.type == Type::NodeSet) {
        if (IsEquality(op)) {
            // The hash set on the shared side when there is one (else on the right).
            const bool swap = shared[0] && !shared[1];
            std::unordered_set<XString> local;
            const std::unordered_set<XString>& values = StringsOf(swap ? *a.nodes : *b.nodes,
                                                                  swap ? shared[0] : shared[1], local);
            for (const Node& n : swap ? *b.nodes : *a.nodes) {
                const XMLCh* value = valueOf(n);
                m_budget.Step();
                if (op == Op::Eq ? values.count(value) != 0
                                 : (values.size() > 1 || (values.size() == 1 && !values.count(value)))) {
                    result = true;
                    break;
                }
            }
        } else {
            // Some x of a and y of b relate exactly when the extremes do (NaN relates to nothing).
            bool anyA = false, anyB = false;
            double minA = 0, maxA = 0, minB = 0, maxB = 0;
            RangeOf(*a.nodes, shared[0], anyA, minA, maxA);
            RangeOf(*b.nodes, shared[1], anyB, minB, maxB);
            if (anyA && anyB) result = op == Op::Lt || op == Op::Le ? Relate(op, minA, maxB) : Relate(op, maxA, minB);
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
