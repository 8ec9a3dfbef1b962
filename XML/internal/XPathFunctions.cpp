// XPathFunctions: the core function library of XPath 1.0 (node-set, string, boolean and number
// functions), as Evaluator::Call. Strings are counted in characters: a surrogate pair is one.
#include "XML/internal/XPathEval.h"

#include "XML/internal/XPathNumber.h"

#include <xercesc/dom/DOMAttr.hpp>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <cmath>
#include <unordered_map>
#include <vector>

namespace XML::internal::xpath {

using xercesc::DOMNode;
using xercesc::XMLString;

namespace {

bool IsSpace(XMLCh c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsHigh(XMLCh c) { return (c & 0xFC00) == 0xD800; }

// The length in UTF-16 units of the character starting at text[i].
std::size_t CharLength(const XString& text, std::size_t i) { return IsHigh(text[i]) && i + 1 < text.size() ? 2 : 1; }

std::size_t CharCount(const XString& text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); i += CharLength(text, i)) ++count;
    return count;
}

char16_t Lower(char16_t c) { return c >= 'A' && c <= 'Z' ? static_cast<char16_t>(c - 'A' + 'a') : c; }

// lang(): the xml:lang in scope is want, or a sub-language of it, ignoring ASCII case.
bool LangMatches(const XMLCh* lang, const XString& want) {
    std::size_t i = 0;
    for (; i < want.size(); ++i)
        if (lang[i] == 0 || Lower(lang[i]) != Lower(want[i])) return false;
    return lang[i] == 0 || lang[i] == '-';
}

// Where needle first occurs in text (npos when nowhere), in time linear in both: the
// Knuth-Morris-Pratt search, so that a near miss is not searched again from every position.
std::size_t Find(const XString& text, const XString& needle, Budget& budget) {
    if (needle.empty()) return 0;
    if (needle.size() > text.size()) return XString::npos;
    budget.Step((text.size() + needle.size()) / 64);
    std::vector<std::size_t> border(needle.size(), 0);
    for (std::size_t i = 1, k = 0; i < needle.size(); ++i) {
        while (k > 0 && needle[i] != needle[k]) k = border[k - 1];
        if (needle[i] == needle[k]) ++k;
        border[i] = k;
    }
    for (std::size_t i = 0, k = 0; i < text.size(); ++i) {
        while (k > 0 && text[i] != needle[k]) k = border[k - 1];
        if (text[i] == needle[k]) ++k;
        if (k == needle.size()) return i + 1 - k;
    }
    return XString::npos;
}

Value StringValue(XString text) {
    Value v;
    v.type = Type::String;
    v.string = std::move(text);
    return v;
}
Value NumberValue(double n) {
    Value v;
    v.type = Type::Number;
    v.number = n;
    return v;
}
Value BooleanValue(bool b) {
    Value v;
    v.type = Type::Boolean;
    v.boolean = b;
    return v;
}

}  // namespace

Value Evaluator::Call(const Expr& e, const Node& context, std::size_t position, std::size_t size) {
    const auto& args = e.args;
    auto string = [&](std::size_t i) {
        XString s;
        EvalString(*args[i], context, position, size, s);
        return s;
    };
    // The argument string, or the context node's string value when there is none.
    auto stringOrContext = [&]() {
        XString s;
        if (args.empty())
            AppendStringValue(context, s, m_budget);
        else
            EvalString(*args[0], context, position, size, s);
        return s;
    };
    auto number = [&](std::size_t i) { return EvalNumber(*args[i], context, position, size); };
    // The first node of the argument (or the context node), or null when the set is empty.
    auto firstNode = [&](Node& node) {
        if (args.empty()) {
            node = context;
            return true;
        }
        std::vector<Node> nodes = TakeBuffer();
        EvalNodes(*args[0], context, nodes);
        const bool any = !nodes.empty();
        if (any) node = nodes.front();
        GiveBack(std::move(nodes));
        return any;
    };

    switch (e.fn) {
    case Fn::Last: return NumberValue(static_cast<double>(size));
    case Fn::Position: return NumberValue(static_cast<double>(position));
    case Fn::Count: return NumberValue(CountNodes(*args[0], context));
    case Fn::Id: {
        Value result;
        result.type = Type::NodeSet;
        result.nodes = TakeBuffer();
        const DOMNode* dom = context.dom;
        const xercesc::DOMDocument* document = dom->getNodeType() == DOMNode::DOCUMENT_NODE
                                                   ? static_cast<const xercesc::DOMDocument*>(dom)
                                                   : dom->getOwnerDocument();
        XString id;
        const auto lookUp = [&](std::u16string_view token) {
            m_budget.Step();
            id.assign(token);
            if (document)
                if (const DOMNode* found = document->getElementById(id.c_str())) Hold(result.nodes, Node{found});
        };
        Value arg = Eval(*args[0], context, position, size);
        if (arg.type == Type::NodeSet) {
            // Nested nodes share their text: each is read once, not once per ancestor in the set.
            StringValueTokens(arg.nodes, m_budget, lookUp);
        } else {
            XString tokens;
            ToString(arg, tokens);
            for (std::size_t i = 0; i < tokens.size();) {
                while (i < tokens.size() && IsSpace(tokens[i])) ++i;
                const std::size_t begin = i;
                while (i < tokens.size() && !IsSpace(tokens[i])) ++i;
                if (i > begin) lookUp(std::u16string_view(tokens).substr(begin, i - begin));
            }
        }
        Recycle(arg);
        m_order.Sort(result.nodes, 0, m_budget);
        return result;
    }
    case Fn::LocalName:
    case Fn::NamespaceUri:
    case Fn::Name: {
        Node node;
        XString text;
        if (firstNode(node)) {
            if (e.fn == Fn::LocalName)
                text = LocalName(node);
            else if (e.fn == Fn::NamespaceUri)
                text = NamespaceUri(node);
            else
                QualifiedName(node, text);
        }
        return StringValue(std::move(text));
    }
    case Fn::String: return StringValue(stringOrContext());
    case Fn::Concat: {
        XString text;
        for (const ExprPtr& arg : args) EvalString(*arg, context, position, size, text);
        return StringValue(std::move(text));
    }
    case Fn::StartsWith: {
        const XString s = string(0), prefix = string(1);
        return BooleanValue(s.compare(0, prefix.size(), prefix) == 0);
    }
    case Fn::Contains: return BooleanValue(Find(string(0), string(1), m_budget) != XString::npos);
    case Fn::SubstringBefore: {
        const XString s = string(0), what = string(1);
        const std::size_t at = Find(s, what, m_budget);
        return StringValue(at == XString::npos ? XString() : s.substr(0, at));
    }
    case Fn::SubstringAfter: {
        const XString s = string(0), what = string(1);
        const std::size_t at = Find(s, what, m_budget);
        return StringValue(at == XString::npos ? XString() : s.substr(at + what.size()));
    }
    case Fn::Substring: {
        const XString s = string(0);
        const double start = RoundXPath(number(1));
        const double end = args.size() > 2 ? start + RoundXPath(number(2)) : HUGE_VAL;
        XString text;
        double p = 1;
        for (std::size_t i = 0; i < s.size(); p += 1) {
            const std::size_t length = CharLength(s, i);
            if (p >= start && p < end) text.append(s, i, length);
            i += length;
        }
        return StringValue(std::move(text));
    }
    case Fn::StringLength:
        // A node's string value is measured where it lies, not copied, each subtree once.
        if (args.empty()) return NumberValue(static_cast<double>(m_lengths.Of(context, m_budget)));
        if (args[0]->type == Type::NodeSet) {
            Node node;
            return NumberValue(firstNode(node) ? static_cast<double>(m_lengths.Of(node, m_budget)) : 0.0);
        }
        return NumberValue(static_cast<double>(CharCount(stringOrContext())));
    case Fn::NormalizeSpace: {
        const XString s = stringOrContext();
        XString text;
        bool space = false;
        for (const XMLCh c : s) {
            if (IsSpace(c)) {
                space = !text.empty();
                continue;
            }
            if (space) text += u' ';
            space = false;
            text += c;
        }
        return StringValue(std::move(text));
    }
    case Fn::Translate: {
        const XString s = string(0), from = string(1), to = string(2);
        // A map from each character of from (its first occurrence wins) to its replacement in to,
        // empty when to is shorter; characters as UTF-16 pieces, so that surrogate pairs map whole.
        std::unordered_map<XString, XString> map;
        for (std::size_t j = 0, k = 0; j < from.size(); j += CharLength(from, j)) {
            const std::size_t kLength = k < to.size() ? CharLength(to, k) : 0;
            map.emplace(from.substr(j, CharLength(from, j)), to.substr(k, kLength));
            k += kLength;
        }
        XString text;
        for (std::size_t i = 0; i < s.size();) {
            const std::size_t length = CharLength(s, i);
            const auto it = map.find(s.substr(i, length));
            if (it == map.end())
                text.append(s, i, length);
            else
                text += it->second;
            i += length;
        }
        return StringValue(std::move(text));
    }
    case Fn::Boolean: return BooleanValue(EvalBoolean(*args[0], context, position, size));
    case Fn::Not: return BooleanValue(!EvalBoolean(*args[0], context, position, size));
    case Fn::True: return BooleanValue(true);
    case Fn::False: return BooleanValue(false);
    case Fn::Lang: {
        const XString want = string(0);
        static const XMLCh kLang[] = {'l', 'a', 'n', 'g', 0};
        for (const DOMNode* n = context.IsNamespace() || context.dom->getNodeType() == DOMNode::ATTRIBUTE_NODE
                                    ? Parent(context)
                                    : context.dom;
             n; n = Parent(Node{n})) {
            if (!IsElement(n)) continue;
            const auto* element = static_cast<const xercesc::DOMElement*>(n);
            if (const xercesc::DOMAttr* lang = element->getAttributeNodeNS(xercesc::XMLUni::fgXMLURIName, kLang))
                return BooleanValue(LangMatches(lang->getValue(), want));
        }
        return BooleanValue(false);
    }
    case Fn::Number: {
        if (!args.empty()) return NumberValue(number(0));
        XString s;
        AppendStringValue(context, s, m_budget);
        return NumberValue(NumberOf(s.c_str()));
    }
    case Fn::Sum: return NumberValue(SumNodes(*args[0], context));
    case Fn::Floor: return NumberValue(std::floor(number(0)));
    case Fn::Ceiling: return NumberValue(std::ceil(number(0)));
    case Fn::Round: return NumberValue(RoundXPath(number(0)));
    }
    return BooleanValue(false);
}

}  // namespace XML::internal::xpath
