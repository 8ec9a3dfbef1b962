// XPathAst: a compiled XPath expression as a tree: operators, literals, function calls and
// location paths with their steps, node tests and predicates. Built by XPathParser, read by
// XPathEval; never changed after compiling, so one tree serves many threads. Internal.
#ifndef KELXML_INTERNAL_XPATHAST_H
#define KELXML_INTERNAL_XPATHAST_H

#include "XML/internal/Transcode.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace XML::internal::xpath {

enum class Axis {
    Ancestor,
    AncestorOrSelf,
    Attribute,
    Child,
    Descendant,
    DescendantOrSelf,
    Following,
    FollowingSibling,
    Namespace,
    Parent,
    Preceding,
    PrecedingSibling,
    Self
};

inline bool IsReverse(Axis axis) {
    return axis == Axis::Ancestor || axis == Axis::AncestorOrSelf || axis == Axis::Preceding ||
           axis == Axis::PrecedingSibling;
}

enum class Test {
    Name,      // uri + local: an expanded name
    AnyLocal,  // prefix:*: any local name in uri
    Any,       // *: any node of the axis's principal type
    Node,      // node()
    Text,      // text()
    Comment,   // comment()
    PI,        // processing-instruction() or processing-instruction('target') (local)
};

// The static type of an expression; Any for a variable.
enum class Type { NodeSet, Boolean, Number, String, Any };

enum class Fn {
    Last,
    Position,
    Count,
    Id,
    LocalName,
    NamespaceUri,
    Name,
    String,
    Concat,
    StartsWith,
    Contains,
    SubstringBefore,
    SubstringAfter,
    Substring,
    StringLength,
    NormalizeSpace,
    Translate,
    Boolean,
    Not,
    True,
    False,
    Lang,
    Number,
    Sum,
    Floor,
    Ceiling,
    Round
};

enum class Op {
    Or,
    And,
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    Add,
    Sub,
    Mul,
    Div,
    Mod,
    Neg,
    Union,
    Literal,
    Number,
    Variable,
    Call,
    Filter,  // args[0] filtered by the predicates args[1..]
    Path,    // from args[0] (when start), else the root (absolute) or the context, through steps
};

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Step {
    Axis axis = Axis::Child;
    Test test = Test::Node;
    XString uri;    // Name, AnyLocal: the namespace URI (empty: none)
    XString local;  // Name: the local name; PI: the target (empty: any)
    std::vector<ExprPtr> predicates;
    bool positional = false;  // a predicate depends on the position or the size
};

struct Expr {
    Op op = Op::Literal;
    Type type = Type::Any;
    std::vector<ExprPtr> args;
    XString text;           // Literal; Variable: its name as written
    double number = 0;      // Number
    std::size_t depth = 1;  // levels of the tree from here down (predicates included)
    Fn fn = Fn::True;       // Call
    // Path
    bool absolute = false;
    bool start = false;  // args[0] is the filter expression the steps start from
    std::vector<Step> steps;
};

}  // namespace XML::internal::xpath

#endif
