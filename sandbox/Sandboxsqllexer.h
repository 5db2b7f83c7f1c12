#pragma once
// Splits T-SQL text into tokens the way the server reads it: comments dropped, string
// literals unquoted (doubled quotes undone), bracketed and double-quoted identifiers
// unwrapped. Keeps each token's source text for "Incorrect syntax near" messages.

#include <string>
#include <vector>

namespace sandbox {

enum class TokenKind
{
    Identifier, // plain or [bracketed] or "quoted"; text is the name
    Variable,   // @name; text includes the @
    GlobalVar,  // @@name; text includes the @@
    String,     // 'text' or N'text'; text is the unescaped content
    Integer,
    Float,
    Binary, // 0x...; text is the raw bytes
    Symbol, // operators and punctuation: ( ) , . ; = <> != <= >= < > + - * / % & | ^ ~ ::
    End,
};

struct Token
{
    TokenKind kind = TokenKind::End;
    std::string text;
    bool unicode = false;   // N'...'
    bool bracketed = false; // [name] or "name": never a keyword
    std::size_t offset = 0;
    std::string lower; // lower-case text of identifiers and symbols, for keyword tests

    bool Is(const char* keyword) const; // an unbracketed identifier or symbol, any case
};

// Throws TSqlError 105 for an unclosed string literal.
std::vector<Token> Tokenize(const std::string& sql);

std::string ToLower(std::string text);

} // namespace sandbox
