#include "sandbox/Sandboxsqllexer.h"

#include "sandbox/Sandboxsqlerror.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace sandbox {

std::string ToLower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool Token::Is(const char* keyword) const
{
    return (kind == TokenKind::Identifier && !bracketed) || kind == TokenKind::Symbol ? lower == keyword
                                                                                      : false;
}

namespace {

bool IsNameStart(unsigned char c)
{
    return std::isalpha(c) || c == '_' || c == '#' || c >= 0x80;
}

bool IsNamePart(unsigned char c)
{
    return std::isalnum(c) || c == '_' || c == '#' || c == '$' || c == '@' || c >= 0x80;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Reads a quoted run ending at `close`, where a doubled `close` stands for one.
// Returns false when the text ends first.
bool ReadQuoted(const std::string& sql, std::size_t& pos, char close, std::string& out)
{
    while (pos < sql.size()) {
        const char c = sql[pos++];
        if (c == close) {
            if (pos < sql.size() && sql[pos] == close) {
                out += close;
                ++pos;
                continue;
            }
            return true;
        }
        out += c;
    }
    return false;
}

} // namespace

std::vector<Token> Tokenize(const std::string& sql)
{
    static const char* const twoCharSymbols[] = {"<>", "!=", "<=", ">=", "::", "!<", "!>"};
    std::vector<Token> tokens;
    std::size_t pos = 0;
    while (pos < sql.size()) {
        const unsigned char c = static_cast<unsigned char>(sql[pos]);
        if (std::isspace(c)) {
            ++pos;
            continue;
        }
        if (sql.compare(pos, 2, "--") == 0) {
            pos = sql.find('\n', pos);
            if (pos == std::string::npos)
                break;
            continue;
        }
        if (sql.compare(pos, 2, "/*") == 0) {
            int depth = 0;
            while (pos < sql.size()) {
                if (sql.compare(pos, 2, "/*") == 0) {
                    ++depth;
                    pos += 2;
                } else if (sql.compare(pos, 2, "*/") == 0) {
                    pos += 2;
                    if (--depth == 0)
                        break;
                } else {
                    ++pos;
                }
            }
            if (depth != 0)
                throw TSqlError(113, "Missing end comment mark '*/'.", 15);
            continue;
        }
        Token token;
        token.offset = pos;
        if (c == '\'' || ((c == 'N' || c == 'n') && pos + 1 < sql.size() && sql[pos + 1] == '\'')) {
            token.kind = TokenKind::String;
            token.unicode = c != '\'';
            pos += token.unicode ? 2 : 1;
            if (!ReadQuoted(sql, pos, '\'', token.text))
                throw TSqlError(
                    105, "Unclosed quotation mark after the character string '" + token.text + "'.", 15);
        } else if (c == '[' || c == '"') {
            token.kind = TokenKind::Identifier;
            token.bracketed = true;
            ++pos;
            if (!ReadQuoted(sql, pos, c == '[' ? ']' : '"', token.text))
                throw TSqlError(
                    105, "Unclosed quotation mark after the character string '" + token.text + "'.", 15);
        } else if (c == '0' && pos + 1 < sql.size() && (sql[pos + 1] == 'x' || sql[pos + 1] == 'X')) {
            token.kind = TokenKind::Binary;
            pos += 2;
            std::string hex;
            while (pos < sql.size() && HexDigit(sql[pos]) >= 0)
                hex += sql[pos++];
            if (hex.size() % 2)
                hex.insert(hex.begin(), '0');
            for (std::size_t i = 0; i < hex.size(); i += 2)
                token.text += static_cast<char>(HexDigit(hex[i]) * 16 + HexDigit(hex[i + 1]));
        } else if (std::isdigit(c) || (c == '.' && pos + 1 < sql.size() &&
                                       std::isdigit(static_cast<unsigned char>(sql[pos + 1])))) {
            token.kind = TokenKind::Integer;
            while (pos < sql.size() &&
                   (std::isdigit(static_cast<unsigned char>(sql[pos])) || sql[pos] == '.')) {
                if (sql[pos] == '.')
                    token.kind = TokenKind::Float;
                token.text += sql[pos++];
            }
            if (pos < sql.size() && (sql[pos] == 'e' || sql[pos] == 'E')) {
                token.kind = TokenKind::Float;
                token.text += sql[pos++];
                if (pos < sql.size() && (sql[pos] == '+' || sql[pos] == '-'))
                    token.text += sql[pos++];
                while (pos < sql.size() && std::isdigit(static_cast<unsigned char>(sql[pos])))
                    token.text += sql[pos++];
            }
        } else if (c == '@') {
            const bool global = pos + 1 < sql.size() && sql[pos + 1] == '@';
            token.kind = global ? TokenKind::GlobalVar : TokenKind::Variable;
            token.text = global ? "@@" : "@";
            pos += global ? 2 : 1;
            while (pos < sql.size() && IsNamePart(static_cast<unsigned char>(sql[pos])))
                token.text += sql[pos++];
            if (token.text.size() == (global ? 2u : 1u))
                throw SyntaxError(token.text);
        } else if (IsNameStart(c)) {
            token.kind = TokenKind::Identifier;
            while (pos < sql.size() && IsNamePart(static_cast<unsigned char>(sql[pos])))
                token.text += sql[pos++];
        } else {
            token.kind = TokenKind::Symbol;
            token.text = std::string(1, static_cast<char>(c));
            for (const char* symbol : twoCharSymbols) {
                if (sql.compare(pos, 2, symbol) == 0) {
                    token.text = symbol;
                    break;
                }
            }
            pos += token.text.size();
            if (!std::strchr("(),.;=<>!+-*/%&|^~:", c))
                throw SyntaxError(token.text);
        }
        token.lower = token.kind == TokenKind::String || token.kind == TokenKind::Binary
                          ? std::string()
                          : ToLower(token.text);
        tokens.push_back(std::move(token));
    }
    Token end;
    end.offset = sql.size();
    tokens.push_back(end);
    return tokens;
}

} // namespace sandbox
