// XPathParser: recursive descent over the tokens, one function per grammar level.
#include "XML/internal/XPathParser.h"

#include "XML/internal/XPathLexer.h"

#include <algorithm>
#include <utility>

namespace XML::internal::xpath {

namespace {

struct SyntaxError {
    std::string message;
    std::size_t column;
};

struct FunctionInfo {
    const char16_t* name;
    Fn fn;
    int minArgs;
    int maxArgs;  // -1: any number
    Type result;
};

constexpr FunctionInfo kFunctions[] = {
    {u"last", Fn::Last, 0, 0, Type::Number},
    {u"position", Fn::Position, 0, 0, Type::Number},
    {u"count", Fn::Count, 1, 1, Type::Number},
    {u"id", Fn::Id, 1, 1, Type::NodeSet},
    {u"local-name", Fn::LocalName, 0, 1, Type::String},
    {u"namespace-uri", Fn::NamespaceUri, 0, 1, Type::String},
    {u"name", Fn::Name, 0, 1, Type::String},
    {u"string", Fn::String, 0, 1, Type::String},
    {u"concat", Fn::Concat, 2, -1, Type::String},
    {u"starts-with", Fn::StartsWith, 2, 2, Type::Boolean},
    {u"contains", Fn::Contains, 2, 2, Type::Boolean},
    {u"substring-before", Fn::SubstringBefore, 2, 2, Type::String},
    {u"substring-after", Fn::SubstringAfter, 2, 2, Type::String},
    {u"substring", Fn::Substring, 2, 3, Type::String},
    {u"string-length", Fn::StringLength, 0, 1, Type::Number},
    {u"normalize-space", Fn::NormalizeSpace, 0, 1, Type::String},
    {u"translate", Fn::Translate, 3, 3, Type::String},
    {u"boolean", Fn::Boolean, 1, 1, Type::Boolean},
    {u"not", Fn::Not, 1, 1, Type::Boolean},
    {u"true", Fn::True, 0, 0, Type::Boolean},
    {u"false", Fn::False, 0, 0, Type::Boolean},
    {u"lang", Fn::Lang, 1, 1, Type::Boolean},
    {u"number", Fn::Number, 0, 1, Type::Number},
    {u"sum", Fn::Sum, 1, 1, Type::Number},
    {u"floor", Fn::Floor, 1, 1, Type::Number},
    {u"ceiling", Fn::Ceiling, 1, 1, Type::Number},
    {u"round", Fn::Round, 1, 1, Type::Number},
};

struct AxisInfo {
    const char16_t* name;
    Axis axis;
};

constexpr AxisInfo kAxes[] = {
    {u"ancestor", Axis::Ancestor},
    {u"ancestor-or-self", Axis::AncestorOrSelf},
    {u"attribute", Axis::Attribute},
    {u"child", Axis::Child},
    {u"descendant", Axis::Descendant},
    {u"descendant-or-self", Axis::DescendantOrSelf},
    {u"following", Axis::Following},
    {u"following-sibling", Axis::FollowingSibling},
    {u"namespace", Axis::Namespace},
    {u"parent", Axis::Parent},
    {u"preceding", Axis::Preceding},
    {u"preceding-sibling", Axis::PrecedingSibling},
    {u"self", Axis::Self},
};

bool IsNodeType(const XString& name) {
    return name == u"node" || name == u"text" || name == u"comment" || name == u"processing-instruction";
}

bool CanBeNodeSet(Type type) { return type == Type::NodeSet || type == Type::Any; }

// Whether e calls position() or last() for its own context: not inside the predicates of a
// step or a filter, which have contexts of their own.
bool UsesPosition(const Expr& e) {
    if (e.op == Op::Call && (e.fn == Fn::Position || e.fn == Fn::Last)) return true;
    const std::size_t own = e.op == Op::Filter ? 1 : e.args.size();
    for (std::size_t i = 0; i < own; ++i)
        if (UsesPosition(*e.args[i])) return true;
    return false;
}

// Whether a predicate's value depends on the position of the node it filters: a number (or a
// variable, which may hold one) is compared with the position.
bool Positional(const Expr& e) { return e.type == Type::Number || e.type == Type::Any || UsesPosition(e); }

class Parser {
public:
    Parser(std::vector<Token> tokens, const std::map<XString, XString>& namespaces)
        : m_tokens(std::move(tokens)), m_namespaces(namespaces) {}

    ExprPtr Parse() {
        ExprPtr e = ParseExpr();
        if (Peek().kind != Tok::End) Fail("unexpected token after the expression");
        return e;
    }

private:
    const Token& Peek(std::size_t ahead = 0) const { return m_tokens[std::min(m_pos + ahead, m_tokens.size() - 1)]; }
    const Token& Take() {
        const Token& t = m_tokens[m_pos];
        if (m_pos + 1 < m_tokens.size()) ++m_pos;
        return t;
    }
    [[noreturn]] void Fail(const std::string& message) const { throw SyntaxError{message, Peek().column}; }
    void Expect(Tok kind, const char* what) {
        if (Peek().kind != kind) Fail(std::string("expected ") + what);
        Take();
    }

    // Counts nesting while a level is open, refusing the expression past kMaxNesting.
    struct Nest {
        explicit Nest(Parser& p) : parser(p) {
            if (++parser.m_depth > kMaxNesting) parser.Fail("expression nested too deeply");
        }
        ~Nest() { --parser.m_depth; }
        Parser& parser;
    };

    static ExprPtr Make(Op op, Type type) {
        auto e = std::make_unique<Expr>();
        e->op = op;
        e->type = type;
        return e;
    }
    ExprPtr Binary(Op op, Type type, ExprPtr left, ExprPtr right) {
        ExprPtr e = Make(op, type);
        Adopt(*e, std::move(left));
        Adopt(*e, std::move(right));
        return e;
    }
    // Evaluation recurses once per level of the tree: a chain of operators (1+1+...+1) is as deep
    // as it is long, so the tree's depth is bounded as well as the parser's nesting.
    void Deepen(Expr& parent, std::size_t childDepth) {
        parent.depth = std::max(parent.depth, childDepth + 1);
        if (parent.depth > kMaxDepth) Fail("expression nested too deeply");
    }
    void Adopt(Expr& parent, ExprPtr child) {
        Deepen(parent, child->depth);
        parent.args.push_back(std::move(child));
    }

    ExprPtr ParseExpr() {
        Nest nest(*this);  // every nested expression passes here: parentheses, predicates, arguments
        ExprPtr left = ParseAnd();
        while (Peek().kind == Tok::Or) {
            Take();
            left = Binary(Op::Or, Type::Boolean, std::move(left), ParseAnd());
        }
        return left;
    }
    ExprPtr ParseAnd() {
        ExprPtr left = ParseEquality();
        while (Peek().kind == Tok::And) {
            Take();
            left = Binary(Op::And, Type::Boolean, std::move(left), ParseEquality());
        }
        return left;
    }
    ExprPtr ParseEquality() {
        ExprPtr left = ParseRelational();
        while (Peek().kind == Tok::Eq || Peek().kind == Tok::Ne) {
            const Op op = Take().kind == Tok::Eq ? Op::Eq : Op::Ne;
            left = Binary(op, Type::Boolean, std::move(left), ParseRelational());
        }
        return left;
    }
    ExprPtr ParseRelational() {
        ExprPtr left = ParseAdditive();
        for (;;) {
            Op op;
            switch (Peek().kind) {
            case Tok::Lt: op = Op::Lt; break;
            case Tok::Le: op = Op::Le; break;
            case Tok::Gt: op = Op::Gt; break;
            case Tok::Ge: op = Op::Ge; break;
            default: return left;
            }
            Take();
            left = Binary(op, Type::Boolean, std::move(left), ParseAdditive());
        }
    }
    ExprPtr ParseAdditive() {
        ExprPtr left = ParseMultiplicative();
        while (Peek().kind == Tok::Plus || Peek().kind == Tok::Minus) {
            const Op op = Take().kind == Tok::Plus ? Op::Add : Op::Sub;
            left = Binary(op, Type::Number, std::move(left), ParseMultiplicative());
        }
        return left;
    }
    ExprPtr ParseMultiplicative() {
        ExprPtr left = ParseUnary();
        for (;;) {
            Op op;
            switch (Peek().kind) {
            case Tok::Multiply: op = Op::Mul; break;
            case Tok::Div: op = Op::Div; break;
            case Tok::Mod: op = Op::Mod; break;
            default: return left;
            }
            Take();
            left = Binary(op, Type::Number, std::move(left), ParseUnary());
        }
    }
    ExprPtr ParseUnary() {
        if (Peek().kind != Tok::Minus) return ParseUnion();
        Nest nest(*this);
        Take();
        ExprPtr e = Make(Op::Neg, Type::Number);
        Adopt(*e, ParseUnary());
        return e;
    }
    ExprPtr ParseUnion() {
        const std::size_t column = Peek().column;
        ExprPtr left = ParsePath();
        while (Peek().kind == Tok::Pipe) {
            if (!CanBeNodeSet(left->type)) throw SyntaxError{"'|' needs node-sets", column};
            Take();
            const std::size_t rightColumn = Peek().column;
            ExprPtr right = ParsePath();
            if (!CanBeNodeSet(right->type)) throw SyntaxError{"'|' needs node-sets", rightColumn};
            left = Binary(Op::Union, Type::NodeSet, std::move(left), std::move(right));
        }
        return left;
    }

    bool StartsFilter() const {
        switch (Peek().kind) {
        case Tok::Variable:
        case Tok::LParen:
        case Tok::Literal:
        case Tok::Number: return true;
        case Tok::Name:
            return !Peek().star && Peek(1).kind == Tok::LParen && !(Peek().prefix.empty() && IsNodeType(Peek().local));
        default: return false;
        }
    }
    bool StartsStep() const {
        switch (Peek().kind) {
        case Tok::Dot:
        case Tok::DotDot:
        case Tok::At:
        case Tok::Star:
        case Tok::Name: return true;
        default: return false;
        }
    }

    ExprPtr ParsePath() {
        if (StartsFilter()) {
            const std::size_t column = Peek().column;
            ExprPtr filter = ParseFilter();
            if (Peek().kind != Tok::Slash && Peek().kind != Tok::DoubleSlash) return filter;
            if (!CanBeNodeSet(filter->type)) throw SyntaxError{"a path needs a node-set to start from", column};
            ExprPtr path = Make(Op::Path, Type::NodeSet);
            path->start = true;
            Adopt(*path, std::move(filter));
            ParseSteps(*path);
            return path;
        }
        ExprPtr path = Make(Op::Path, Type::NodeSet);
        if (Peek().kind == Tok::Slash) {
            path->absolute = true;
            Take();
            if (!StartsStep()) return path;  // the root alone
            ParseStep(*path);
        } else if (Peek().kind == Tok::DoubleSlash) {
            path->absolute = true;
            Take();
            AddDescendantOrSelf(*path);
            ParseStep(*path);
        } else {
            ParseStep(*path);
        }
        if (Peek().kind == Tok::Slash || Peek().kind == Tok::DoubleSlash) ParseSteps(*path);
        Simplify(*path);
        return path;
    }

    // Any number of "/step" and "//step" after a path's start.
    void ParseSteps(Expr& path) {
        while (Peek().kind == Tok::Slash || Peek().kind == Tok::DoubleSlash) {
            if (Take().kind == Tok::DoubleSlash) AddDescendantOrSelf(path);
            ParseStep(path);
        }
        Simplify(path);
    }

    static void AddDescendantOrSelf(Expr& path) {
        Step step;
        step.axis = Axis::DescendantOrSelf;
        step.test = Test::Node;
        path.steps.push_back(std::move(step));
    }

    // descendant-or-self::node()/child::T[P] selects what descendant::T[P] does when no P
    // depends on position: one walk instead of a child step per node, already in order.
    static void Simplify(Expr& path) {
        std::vector<Step>& steps = path.steps;
        for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
            Step& first = steps[i];
            Step& second = steps[i + 1];
            if (first.axis != Axis::DescendantOrSelf || first.test != Test::Node || !first.predicates.empty()) continue;
            if (second.axis != Axis::Child) continue;
            if (second.positional) continue;
            second.axis = Axis::Descendant;
            steps.erase(steps.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }

    void ParseStep(Expr& path) {
        if (!StartsStep()) Fail("expected a location step");
        Step step;
        if (Peek().kind == Tok::Dot || Peek().kind == Tok::DotDot) {
            step.axis = Take().kind == Tok::Dot ? Axis::Self : Axis::Parent;
            step.test = Test::Node;
            if (Peek().kind == Tok::LBracket) Fail("a predicate cannot follow '.' or '..'");
            path.steps.push_back(std::move(step));
            return;
        }
        if (Peek().kind == Tok::At) {
            Take();
            step.axis = Axis::Attribute;
        } else if (Peek().kind == Tok::Name && Peek(1).kind == Tok::ColonColon) {
            const Token& axisName = Peek();
            bool known = false;
            if (axisName.prefix.empty() && !axisName.star)
                for (const AxisInfo& info : kAxes)
                    if (axisName.local == info.name) {
                        step.axis = info.axis;
                        known = true;
                    }
            if (!known) Fail("unknown axis");
            Take();
            Take();
        }
        ParseNodeTest(step);
        while (Peek().kind == Tok::LBracket) {
            Take();
            step.predicates.push_back(ParseExpr());
            Deepen(path, step.predicates.back()->depth);
            Expect(Tok::RBracket, "']'");
            step.positional = step.positional || Positional(*step.predicates.back());
        }
        path.steps.push_back(std::move(step));
    }

    void ParseNodeTest(Step& step) {
        const Token& t = Peek();
        if (t.kind == Tok::Star) {
            Take();
            step.test = Test::Any;
            return;
        }
        if (t.kind != Tok::Name) Fail("expected a node test");
        if (t.prefix.empty() && !t.star && Peek(1).kind == Tok::LParen && IsNodeType(t.local)) {
            const XString type = t.local;
            Take();
            Take();
            if (type == u"node")
                step.test = Test::Node;
            else if (type == u"text")
                step.test = Test::Text;
            else if (type == u"comment")
                step.test = Test::Comment;
            else {
                step.test = Test::PI;
                if (Peek().kind == Tok::Literal) step.local = Take().local;
            }
            Expect(Tok::RParen, "')'");
            return;
        }
        if (!t.prefix.empty()) {
            const auto bound = m_namespaces.find(t.prefix);
            if (bound == m_namespaces.end()) Fail("unbound namespace prefix");
            step.uri = bound->second;
        }
        step.test = t.star ? Test::AnyLocal : Test::Name;
        step.local = t.local;
        Take();
    }

    ExprPtr ParseFilter() {
        ExprPtr primary = ParsePrimary();
        if (Peek().kind != Tok::LBracket) return primary;
        if (!CanBeNodeSet(primary->type)) Fail("a predicate needs a node-set to filter");
        ExprPtr filter = Make(Op::Filter, Type::NodeSet);
        Adopt(*filter, std::move(primary));
        while (Peek().kind == Tok::LBracket) {
            Take();
            Adopt(*filter, ParseExpr());
            Expect(Tok::RBracket, "']'");
        }
        return filter;
    }

    ExprPtr ParsePrimary() {
        const Token& t = Peek();
        switch (t.kind) {
        case Tok::Variable: {
            ExprPtr e = Make(Op::Variable, Type::Any);
            e->text = t.prefix.empty() ? t.local : t.prefix + u":" + t.local;
            Take();
            return e;
        }
        case Tok::Literal: {
            ExprPtr e = Make(Op::Literal, Type::String);
            e->text = t.local;
            Take();
            return e;
        }
        case Tok::Number: {
            ExprPtr e = Make(Op::Number, Type::Number);
            e->number = t.number;
            Take();
            return e;
        }
        case Tok::LParen: {
            Take();
            ExprPtr e = ParseExpr();
            Expect(Tok::RParen, "')'");
            return e;
        }
        default: return ParseCall();
        }
    }

    ExprPtr ParseCall() {
        const Token& t = Peek();
        const FunctionInfo* info = nullptr;
        if (t.prefix.empty())
            for (const FunctionInfo& f : kFunctions)
                if (t.local == f.name) info = &f;
        if (!info) Fail("unknown function");
        Take();
        Take();  // '('
        ExprPtr call = Make(Op::Call, info->result);
        call->fn = info->fn;
        if (Peek().kind != Tok::RParen) {
            for (;;) {
                const std::size_t column = Peek().column;
                Adopt(*call, ParseExpr());
                const bool nodeSetArg = info->fn == Fn::Count || info->fn == Fn::Sum || info->fn == Fn::LocalName ||
                                        info->fn == Fn::NamespaceUri || info->fn == Fn::Name;
                if (nodeSetArg && !CanBeNodeSet(call->args.back()->type))
                    throw SyntaxError{"this function needs a node-set argument", column};
                if (Peek().kind != Tok::Comma) break;
                Take();
            }
        }
        const int count = static_cast<int>(call->args.size());
        if (count < info->minArgs || (info->maxArgs >= 0 && count > info->maxArgs))
            Fail("wrong number of arguments to the function");
        Expect(Tok::RParen, "')'");
        return call;
    }

    std::vector<Token> m_tokens;
    std::size_t m_pos = 0;
    std::size_t m_depth = 0;
    const std::map<XString, XString>& m_namespaces;
};

}  // namespace

ExprPtr Compile(const XString& expr, const std::map<XString, XString>& namespaces, std::string& error,
                std::size_t& column) {
    std::vector<Token> tokens;
    if (!Tokenize(expr, tokens, error, column)) return nullptr;
    try {
        return Parser(std::move(tokens), namespaces).Parse();
    } catch (const SyntaxError& e) {
        error = e.message;
        column = e.column;
        return nullptr;
    }
}

}  // namespace XML::internal::xpath
