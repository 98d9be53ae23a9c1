#pragma once

// The tokens of a resource script. Only the reader of resource_script.h uses
// them: its parser of statements (resource_script_parser.cpp) and, for the
// compare of resource words, its look-ups (resource_script.cpp).

#include <cstddef>
#include <string>
#include <string_view>

namespace sim::script_tokens {

enum class TokenKind { Word, Number, String, Punct, Directive, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;  // words and directives as written, strings unescaped
    long long number = 0;
    int line = 0;
};

// How a message names a token: "'BEGIN'", "the string \"OK\"", ...
std::string quoted(const Token& token);

// Splits the script into tokens. Comments vanish; a line starting with '#'
// becomes one directive token.
class Lexer {
  public:
    explicit Lexer(std::string_view text) : text_(text) {}

    // False with `error` set for what cannot be a token.
    bool next(Token& token, std::string& error);

  private:
    void skipBlanksAndComments();
    bool readDirective(Token& token);
    bool readString(Token& token, std::string& error);
    bool readNumber(Token& token, std::string& error);
    bool readWord(Token& token);

    std::string_view text_;
    std::size_t at_ = 0;
    int line_ = 1;
    bool atLineStart_ = true;
    std::string error_;
    int errorLine_ = 0;
};

}  // namespace sim::script_tokens
