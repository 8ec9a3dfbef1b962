// XPathLexer: the tokens of an XPath expression.
#include "XML/internal/XPathLexer.h"

#include "XML/internal/XPathNumber.h"

namespace XML::internal::xpath {

namespace {

bool IsSpace(XMLCh c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsDigit(XMLCh c) { return c >= '0' && c <= '9'; }
// Names: ASCII letters and '_' start them, and every character past ASCII is taken as a name
// character (the parser of the document already checked the names the expression can match).
bool IsNameStart(XMLCh c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80; }
bool IsNameChar(XMLCh c) { return IsNameStart(c) || IsDigit(c) || c == '-' || c == '.'; }

// Whether a '*' or a name at this point is an operator: after a token that can end an operand.
bool OperatorExpected(const std::vector<Token>& tokens) {
    if (tokens.empty()) return false;
    switch (tokens.back().kind) {
    case Tok::At:
    case Tok::ColonColon:
    case Tok::LParen:
    case Tok::LBracket:
    case Tok::Comma:
    case Tok::Slash:
    case Tok::DoubleSlash:
    case Tok::Pipe:
    case Tok::Plus:
    case Tok::Minus:
    case Tok::Eq:
    case Tok::Ne:
    case Tok::Lt:
    case Tok::Le:
    case Tok::Gt:
    case Tok::Ge:
    case Tok::Multiply:
    case Tok::And:
    case Tok::Or:
    case Tok::Mod:
    case Tok::Div: return false;
    default: return true;
    }
}

}  // namespace

bool Tokenize(const XString& expr, std::vector<Token>& tokens, std::string& error, std::size_t& column) {
    tokens.clear();
    const std::size_t n = expr.size();
    std::size_t i = 0;
    std::size_t col = 1;  // column of expr[i], in characters
    auto advance = [&](std::size_t count) {
        for (std::size_t k = 0; k < count && i < n; ++k, ++i)
            if ((expr[i] & 0xFC00) != 0xDC00) ++col;  // a low surrogate shares its pair's column
    };
    auto fail = [&](const char* message) {
        error = message;
        column = col;
        return false;
    };
    auto name = [&](XString& out) {
        const std::size_t begin = i;
        while (i < n && IsNameChar(expr[i])) advance(1);
        out.assign(expr, begin, i - begin);
    };
    while (true) {
        while (i < n && IsSpace(expr[i])) advance(1);
        Token token;
        token.column = col;
        if (i >= n) {
            tokens.push_back(std::move(token));
            return true;
        }
        const XMLCh c = expr[i];
        const XMLCh next = i + 1 < n ? expr[i + 1] : 0;
        std::size_t length = 1;
        switch (c) {
        case '(': token.kind = Tok::LParen; break;
        case ')': token.kind = Tok::RParen; break;
        case '[': token.kind = Tok::LBracket; break;
        case ']': token.kind = Tok::RBracket; break;
        case '@': token.kind = Tok::At; break;
        case ',': token.kind = Tok::Comma; break;
        case '|': token.kind = Tok::Pipe; break;
        case '+': token.kind = Tok::Plus; break;
        case '-': token.kind = Tok::Minus; break;
        case '=': token.kind = Tok::Eq; break;
        case '/':
            token.kind = next == '/' ? Tok::DoubleSlash : Tok::Slash;
            length = next == '/' ? 2 : 1;
            break;
        case ':':
            if (next != ':') return fail("unexpected ':'");
            token.kind = Tok::ColonColon;
            length = 2;
            break;
        case '!':
            if (next != '=') return fail("unexpected '!'");
            token.kind = Tok::Ne;
            length = 2;
            break;
        case '<':
            token.kind = next == '=' ? Tok::Le : Tok::Lt;
            length = next == '=' ? 2 : 1;
            break;
        case '>':
            token.kind = next == '=' ? Tok::Ge : Tok::Gt;
            length = next == '=' ? 2 : 1;
            break;
        case '*': token.kind = OperatorExpected(tokens) ? Tok::Multiply : Tok::Star; break;
        case '"':
        case '\'': {
            const std::size_t end = expr.find(c, i + 1);
            if (end == XString::npos) return fail("unterminated string literal");
            token.kind = Tok::Literal;
            token.local.assign(expr, i + 1, end - i - 1);
            length = end - i + 1;
            break;
        }
        case '$': {
            advance(1);
            if (i >= n || !IsNameStart(expr[i])) return fail("expected a variable name after '$'");
            token.kind = Tok::Variable;
            name(token.local);
            if (i + 1 < n && expr[i] == ':' && IsNameStart(expr[i + 1])) {
                advance(1);
                token.prefix = std::move(token.local);
                name(token.local);
            }
            tokens.push_back(std::move(token));
            continue;
        }
        default:
            if (c == '.' && next == '.') {
                token.kind = Tok::DotDot;
                length = 2;
            } else if (IsDigit(c) || (c == '.' && IsDigit(next))) {
                const std::size_t begin = i;
                while (i < n && IsDigit(expr[i])) advance(1);
                if (i < n && expr[i] == '.') {
                    advance(1);
                    while (i < n && IsDigit(expr[i])) advance(1);
                }
                token.kind = Tok::Number;
                token.number = ParseXPathNumber(std::string(expr.begin() + static_cast<std::ptrdiff_t>(begin),
                                                            expr.begin() + static_cast<std::ptrdiff_t>(i)));
                tokens.push_back(std::move(token));
                continue;
            } else if (c == '.') {
                token.kind = Tok::Dot;
            } else if (IsNameStart(c)) {
                name(token.local);
                if (OperatorExpected(tokens)) {
                    const XString& w = token.local;
                    if (w == u"and")
                        token.kind = Tok::And;
                    else if (w == u"or")
                        token.kind = Tok::Or;
                    else if (w == u"mod")
                        token.kind = Tok::Mod;
                    else if (w == u"div")
                        token.kind = Tok::Div;
                    else {
                        column = token.column;
                        error = "expected an operator";
                        return false;
                    }
                    tokens.push_back(std::move(token));
                    continue;
                }
                token.kind = Tok::Name;
                if (i + 1 < n && expr[i] == ':' && expr[i + 1] == '*') {
                    advance(2);
                    token.prefix = std::move(token.local);
                    token.local.clear();
                    token.star = true;
                } else if (i + 1 < n && expr[i] == ':' && IsNameStart(expr[i + 1])) {
                    advance(1);
                    token.prefix = std::move(token.local);
                    name(token.local);
                }
                tokens.push_back(std::move(token));
                continue;
            } else {
                return fail("unexpected character");
            }
        }
        advance(length);
        tokens.push_back(std::move(token));
    }
}

}  // namespace XML::internal::xpath
