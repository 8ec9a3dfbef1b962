// XPathLexer: cuts an XPath expression into tokens, each with its column (in characters, from 1),
// applying the expression language's rules that tell a '*' or a name used as an operator from
// a name test. Internal to the library.
#ifndef KELXML_INTERNAL_XPATHLEXER_H
#define KELXML_INTERNAL_XPATHLEXER_H

#include "XML/internal/Transcode.h"

#include <cstddef>
#include <string>
#include <vector>

namespace XML::internal::xpath {

enum class Tok {
    LParen,
    RParen,
    LBracket,
    RBracket,
    Dot,
    DotDot,
    At,
    Comma,
    ColonColon,
    Slash,
    DoubleSlash,
    Pipe,
    Plus,
    Minus,
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    Multiply,
    And,
    Or,
    Mod,
    Div,   // operators
    Star,  // the name test '*'
    Name,  // NCName or QName (prefix set), or prefix:* (star set)
    Literal,
    Number,
    Variable,
    End
};

struct Token {
    Tok kind = Tok::End;
    XString prefix;  // Name, Variable
    XString local;   // Name, Variable; Literal: its text
    bool star = false;
    double number = 0;
    std::size_t column = 1;
};

// The tokens of expr, ending with End; false with error and column set at the first character
// that starts no token.
bool Tokenize(const XString& expr, std::vector<Token>& tokens, std::string& error, std::size_t& column);

}  // namespace XML::internal::xpath

#endif
