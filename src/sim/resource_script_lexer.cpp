#include "sim/resource_script_lexer.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace sim::script_tokens {

namespace {

bool isWordStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_';
}
bool isWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}
bool isDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

std::string quoted(const Token& token) {
    switch (token.kind) {
        case TokenKind::End:
            return "the end of the file";
        case TokenKind::String:
            return "the string \"" + token.text + "\"";
        case TokenKind::Directive:
            return "the directive '" + token.text + "'";
        default:
            return "'" + token.text + "'";
    }
}

bool Lexer::next(Token& token, std::string& error) {
    skipBlanksAndComments();
    token = Token{};
    token.line = line_;
    if (!error_.empty()) {
        token.line = errorLine_;
        error = error_;
        return false;
    }
    if (at_ >= text_.size()) return true;
    const char c = text_[at_];
    if (c == '#' && atLineStart_) return readDirective(token);
    atLineStart_ = false;
    if (c == '"') return readString(token, error);
    if (isDigit(c)) return readNumber(token, error);
    if (isWordStart(c)) return readWord(token);
    if (std::string_view(",|{}()-").find(c) != std::string_view::npos) {
        token.kind = TokenKind::Punct;
        token.text = std::string(1, c);
        ++at_;
        return true;
    }
    error = std::string("unexpected character '") + c + "'";
    return false;
}

void Lexer::skipBlanksAndComments() {
    while (at_ < text_.size()) {
        const char c = text_[at_];
        if (c == '\n') {
            ++line_;
            ++at_;
            atLineStart_ = true;
        } else if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            ++at_;
        } else if (text_.substr(at_, 2) == "//") {
            while (at_ < text_.size() && text_[at_] != '\n') ++at_;
        } else if (text_.substr(at_, 2) == "/*") {
            const int opened = line_;
            at_ += 2;
            while (at_ < text_.size() && text_.substr(at_, 2) != "*/") {
                if (text_[at_] == '\n') ++line_;
                ++at_;
            }
            if (at_ >= text_.size()) {
                error_ = "comment is never closed";
                errorLine_ = opened;
                return;
            }
            at_ += 2;
        } else if (at_ == 0 && text_.substr(0, 3) == "\xEF\xBB\xBF") {
            at_ += 3;  // a byte-order mark some editors put in UTF-8 files
        } else {
            return;
        }
    }
}

bool Lexer::readDirective(Token& token) {
    const std::size_t end = std::min(text_.find('\n', at_), text_.size());
    std::string_view directive = text_.substr(at_, end - at_);
    while (!directive.empty() && std::isspace(static_cast<unsigned char>(directive.back())))
        directive.remove_suffix(1);
    token.kind = TokenKind::Directive;
    token.text = std::string(directive);
    at_ = end;
    return true;
}

bool Lexer::readString(Token& token, std::string& error) {
    token.kind = TokenKind::String;
    ++at_;
    while (true) {
        if (at_ >= text_.size() || text_[at_] == '\n') {
            error = "string is not closed before the end of the line";
            return false;
        }
        const char c = text_[at_++];
        if (c == '"') {
            if (at_ < text_.size() && text_[at_] == '"') {
                token.text += '"';  // "" stands for one quote
                ++at_;
                continue;
            }
            return true;
        }
        if (c != '\\') {
            token.text += c;
            continue;
        }
        if (at_ >= text_.size()) {
            error = "string ends in a backslash";
            return false;
        }
        const char escaped = text_[at_++];
        switch (escaped) {
            case 'n':
                token.text += '\n';
                break;
            case 't':
                token.text += '\t';
                break;
            case 'r':
                token.text += '\r';
                break;
            case '\\':
                token.text += '\\';
                break;
            case '"':
                token.text += '"';
                break;
            default:
                error = std::string("unknown escape '\\") + escaped + "' in a string";
                return false;
        }
    }
}

bool Lexer::readNumber(Token& token, std::string& error) {
    const std::size_t start = at_;
    int base = 10;
    if (text_.substr(at_, 2) == "0x" || text_.substr(at_, 2) == "0X") {
        base = 16;
        at_ += 2;
    }
    const std::size_t digits = at_;
    while (at_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[at_])) != 0) ++at_;
    const std::string_view spelled = text_.substr(digits, at_ - digits);
    while (at_ < text_.size() &&
           (text_[at_] == 'L' || text_[at_] == 'l' || text_[at_] == 'U' || text_[at_] == 'u'))
        ++at_;
    token.kind = TokenKind::Number;
    token.text = std::string(text_.substr(start, at_ - start));
    const auto parsed =
        std::from_chars(spelled.data(), spelled.data() + spelled.size(), token.number, base);
    if (spelled.empty() || parsed.ec != std::errc{} ||
        parsed.ptr != spelled.data() + spelled.size() ||
        (at_ < text_.size() && isWordChar(text_[at_]))) {
        while (at_ < text_.size() && isWordChar(text_[at_])) ++at_;
        token.text = std::string(text_.substr(start, at_ - start));
        error = "'" + token.text + "' is not a number";
        return false;
    }
    return true;
}

bool Lexer::readWord(Token& token) {
    const std::size_t start = at_;
    while (at_ < text_.size() && isWordChar(text_[at_])) ++at_;
    token.kind = TokenKind::Word;
    token.text = std::string(text_.substr(start, at_ - start));
    return true;
}

}  // namespace sim::script_tokens
