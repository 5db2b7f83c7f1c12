#include "sandbox/Sandboxsqlerror.h"
#include "sandbox/Sandboxsqlsyntax.h"
#include "sandbox/Tdsbuffer.h"

#include <set>

namespace sandbox {

namespace {

// Words that end an expression or a select list instead of naming a column alias.
const std::set<std::string>& ReservedWords()
{
    static const std::set<std::string> words = {
        "from",      "where",  "if",     "else",       "begin",       "end",     "select",     "set",
        "declare",   "and",    "or",     "not",        "as",          "when",    "then",       "case",
        "open",      "fetch",  "close",  "deallocate", "kill",        "exec",    "execute",    "use",
        "dbcc",      "while",  "order",  "group",      "union",       "into",    "commit",     "rollback",
        "print",     "return", "insert", "update",     "delete",      "having",  "go",         "with",
        "on",        "is",     "null",   "like",       "in",          "exists",  "between",    "distinct",
        "top",       "by",     "cursor", "for",        "save",        "create",  "drop",       "alter",
        "truncate",  "grant",  "revoke", "deny",       "backup",      "restore", "checkpoint", "waitfor",
        "raiserror", "goto",   "break",  "continue",   "transaction", "tran",    "values",     "join",
        "inner",     "outer",  "left",   "right",      "cross",       "full",
    };
    return words;
}

// Words that begin a statement; an expression or a SET option stops before them.
const std::set<std::string>& StatementWords()
{
    static const std::set<std::string> words = {
        "select", "set",    "declare",  "if",         "else",     "begin",      "end",     "while",
        "open",   "fetch",  "close",    "deallocate", "kill",     "exec",       "execute", "use",
        "dbcc",   "commit", "rollback", "print",      "return",   "insert",     "update",  "delete",
        "create", "drop",   "alter",    "save",       "truncate", "grant",      "waitfor", "raiserror",
        "goto",   "break",  "continue", "backup",     "restore",  "checkpoint",
    };
    return words;
}

class TParser
{
public:
    explicit TParser(const std::vector<Token>& tokens) : Tokens(tokens) {}

    std::vector<TStatementPtr> Batch()
    {
        std::vector<TStatementPtr> statements;
        while (!AtEnd()) {
            if (Peek().Is(";")) {
                ++Pos;
                continue;
            }
            statements.push_back(Statement());
        }
        return statements;
    }

private:
    const std::vector<Token>& Tokens;
    std::size_t Pos = 0;
    int Depth = 0;

    // Nesting is bounded as on a real server, so that no batch can exhaust the stack.
    class TNesting
    {
    public:
        explicit TNesting(int& depth) : Depth(depth)
        {
            if (++Depth > 256)
                throw TSqlError(191,
                                "Some part of your SQL statement is nested too deeply. Rewrite the query or "
                                "break it up into smaller queries.",
                                15);
        }
        ~TNesting() { --Depth; }
        TNesting(const TNesting&) = delete;
        TNesting& operator=(const TNesting&) = delete;

    private:
        int& Depth;
    };

    const Token& Peek(std::size_t ahead = 0) const
    {
        return Tokens[std::min(Pos + ahead, Tokens.size() - 1)];
    }
    bool AtEnd() const { return Peek().kind == TokenKind::End; }
    const Token& Next() { return Tokens[std::min(Pos++, Tokens.size() - 1)]; }

    [[noreturn]] void Fail() const
    {
        const Token& token = Peek();
        if (token.kind == TokenKind::End) {
            const Token& last = Tokens[Pos > 0 ? std::min(Pos, Tokens.size() - 1) - 1 : 0];
            throw SyntaxError(last.kind == TokenKind::String ? last.text : last.text);
        }
        throw SyntaxError(token.text);
    }

    bool Accept(const char* word)
    {
        if (Peek().Is(word)) {
            ++Pos;
            return true;
        }
        return false;
    }

    void Expect(const char* word)
    {
        if (!Accept(word))
            Fail();
    }

    std::string Name()
    {
        if (Peek().kind != TokenKind::Identifier)
            Fail();
        return Next().text;
    }

    bool AtStatementWord() const
    {
        const Token& token = Peek();
        return token.kind == TokenKind::Identifier && !token.bracketed && StatementWords().count(token.lower);
    }

    TTypeInfo TypeName()
    {
        const std::string name = Name();
        int length = 0;
        bool given = false;
        if (Accept("(")) {
            if (Peek().Is("max")) {
                ++Pos;
                length = 8000;
            } else if (Peek().kind == TokenKind::Integer) {
                length = std::stoi(Next().text);
            } else {
                Fail();
            }
            given = true;
            if (Accept(","))
                Next();
            Expect(")");
        }
        return TypeFromName(name, length, given);
    }

    TStatementPtr Statement()
    {
        const TNesting nesting(Depth);
        auto statement = std::make_unique<TStatement>();
        const Token& first = Peek();
        if (first.kind != TokenKind::Identifier || first.bracketed) {
            // A lone name followed by a value is how an unknown procedure is called.
            Fail();
        }
        const std::string word = first.lower;
        if (word == "select") {
            statement->kind = TStatement::Kind::Select;
            statement->select = Select();
        } else if (word == "declare") {
            ++Pos;
            if (Peek().kind == TokenKind::Identifier && Peek(1).Is("cursor")) {
                statement->kind = TStatement::Kind::DeclareCursor;
                statement->name = Next().lower;
                Expect("cursor");
                while (!Peek().Is("for") && !AtEnd() && !AtStatementWord())
                    ++Pos; // cursor options (LOCAL, FAST_FORWARD, ...)
                Expect("for");
                if (!Peek().Is("select"))
                    Fail();
                statement->select = Select();
            } else {
                statement->kind = TStatement::Kind::Declare;
                do {
                    if (Peek().kind != TokenKind::Variable)
                        Fail();
                    TVariableDecl declaration;
                    declaration.name = Next().text;
                    Accept("as");
                    declaration.type = TypeName();
                    statement->declarations.push_back(declaration);
                } while (Accept(","));
            }
        } else if (word == "set") {
            ++Pos;
            if (Peek().kind == TokenKind::Variable) {
                statement->kind = TStatement::Kind::SetVariable;
                statement->name = Next().text;
                Expect("=");
                statement->args.push_back(Expression());
            } else {
                statement->kind = TStatement::Kind::SetOption;
                if (Peek().kind != TokenKind::Identifier)
                    Fail();
                statement->name = Peek().lower;
                while (!AtEnd() && !Peek().Is(";") && !(AtStatementWord() && !statement->words.empty())) {
                    const Token& token = Next();
                    statement->words.push_back(token.kind == TokenKind::String ? token.text : token.lower);
                }
            }
        } else if (word == "if") {
            ++Pos;
            statement->kind = TStatement::Kind::If;
            statement->args.push_back(Expression());
            statement->body.push_back(Statement());
            SkipSemicolons();
            statement->body.push_back(Accept("else") ? Statement() : nullptr);
        } else if (word == "while") {
            ++Pos;
            statement->kind = TStatement::Kind::While;
            statement->args.push_back(Expression());
            statement->body.push_back(Statement());
        } else if (word == "begin") {
            ++Pos;
            if (Accept("tran") || Accept("transaction")) {
                statement->kind = TStatement::Kind::BeginTran;
                if (Peek().kind == TokenKind::Identifier && !AtStatementWord())
                    ++Pos;
            } else {
                statement->kind = TStatement::Kind::Block;
                while (!Peek().Is("end")) {
                    if (AtEnd())
                        Fail();
                    if (Accept(";"))
                        continue;
                    statement->body.push_back(Statement());
                }
                Expect("end");
            }
        } else if (word == "commit" || word == "rollback") {
            ++Pos;
            statement->kind = word == "commit" ? TStatement::Kind::Commit : TStatement::Kind::Rollback;
            if (Accept("tran") || Accept("transaction") || Accept("work"))
                if (Peek().kind == TokenKind::Identifier && !AtStatementWord() && !Peek().Is("end"))
                    ++Pos;
        } else if (word == "open" || word == "close" || word == "deallocate") {
            ++Pos;
            statement->kind = word == "open"    ? TStatement::Kind::Open
                              : word == "close" ? TStatement::Kind::Close
                                                : TStatement::Kind::Deallocate;
            Accept("global");
            statement->name = ToLower(Name());
        } else if (word == "fetch") {
            ++Pos;
            statement->kind = TStatement::Kind::Fetch;
            if (Accept("next") || Accept("prior") || Accept("first") || Accept("last"))
                Expect("from");
            else
                Accept("from");
            statement->name = ToLower(Name());
            if (Accept("into")) {
                do {
                    if (Peek().kind != TokenKind::Variable)
                        Fail();
                    statement->intoVars.push_back(Next().text);
                } while (Accept(","));
            }
        } else if (word == "kill") {
            ++Pos;
            statement->kind = TStatement::Kind::Kill;
            statement->args.push_back(Expression());
        } else if (word == "exec" || word == "execute") {
            ++Pos;
            statement->kind = TStatement::Kind::Execute;
            statement->name = ProcedureName();
            if (!AtEnd() && !AtStatementWord() && !Peek().Is(";")) {
                do {
                    std::string param;
                    if (Peek().kind == TokenKind::Variable && Peek(1).Is("=")) {
                        param = Next().text;
                        ++Pos;
                    }
                    statement->paramNames.push_back(param);
                    statement->args.push_back(Expression());
                } while (Accept(","));
            }
        } else if (word == "use") {
            ++Pos;
            statement->kind = TStatement::Kind::Use;
            statement->name = Name();
        } else if (word == "dbcc") {
            ++Pos;
            statement->kind = TStatement::Kind::Dbcc;
            statement->name = ToLower(Name());
            if (Accept("(")) {
                if (!Peek().Is(")")) {
                    do {
                        statement->args.push_back(Expression());
                    } while (Accept(","));
                }
                Expect(")");
            }
            if (Accept("with")) {
                do {
                    statement->words.push_back(ToLower(Name()));
                } while (Accept(","));
            }
        } else if (word == "print") {
            ++Pos;
            statement->kind = TStatement::Kind::Print;
            statement->args.push_back(Expression());
        } else if (word == "return") {
            ++Pos;
            statement->kind = TStatement::Kind::Return;
        } else if (!StatementWords().count(word) && !ReservedWords().count(word) &&
                   (Peek(1).kind == TokenKind::End || Peek(1).Is(";") ||
                    Peek(1).kind == TokenKind::Variable || Peek(1).kind == TokenKind::String ||
                    Peek(1).kind == TokenKind::Integer) &&
                   Pos == 0) {
            // The first statement of a batch may call a procedure without EXEC.
            statement->kind = TStatement::Kind::Execute;
            statement->name = ProcedureName();
            if (!AtEnd() && !Peek().Is(";")) {
                do {
                    std::string param;
                    if (Peek().kind == TokenKind::Variable && Peek(1).Is("=")) {
                        param = Next().text;
                        ++Pos;
                    }
                    statement->paramNames.push_back(param);
                    statement->args.push_back(Expression());
                } while (Accept(","));
            }
        } else {
            Fail();
        }
        return statement;
    }

    void SkipSemicolons()
    {
        while (Accept(";")) {
        }
    }

    std::string ProcedureName()
    {
        std::string name = Name();
        while (Accept(".")) {
            if (Peek().Is("."))
                continue;
            name = Name();
        }
        return name;
    }

    std::shared_ptr<TSelect> Select()
    {
        Expect("select");
        auto select = std::make_shared<TSelect>();
        if (Accept("distinct"))
            select->distinct = true;
        else
            Accept("all");
        if (Accept("top")) {
            if (Accept("(")) {
                select->top = Expression();
                Expect(")");
            } else if (Peek().kind == TokenKind::Integer) {
                select->top = Primary();
            } else {
                Fail();
            }
        }
        do {
            TSelectItem item;
            if (Peek().kind == TokenKind::Variable && Peek(1).Is("=")) {
                item.assignVar = Next().text;
                ++Pos;
                item.expr = Expression();
            } else if (Peek().Is("*")) {
                ++Pos;
                item.expr = std::make_unique<TExpr>();
                item.expr->kind = TExpr::Kind::Star;
            } else {
                item.expr = Expression();
                if (item.expr->kind == TExpr::Kind::Column)
                    item.alias = item.expr->sourceText;
                if (Accept("as")) {
                    if (Peek().kind != TokenKind::Identifier && Peek().kind != TokenKind::String)
                        Fail();
                    item.alias = Next().text;
                } else if ((Peek().kind == TokenKind::Identifier &&
                            (Peek().bracketed || !ReservedWords().count(Peek().lower))) ||
                           Peek().kind == TokenKind::String) {
                    item.alias = Next().text;
                }
            }
            select->items.push_back(std::move(item));
        } while (Accept(","));
        if (Accept("into"))
            Fail();
        if (Accept("from")) {
            select->hasFrom = true;
            select->from = TableRef();
            if (Peek().Is(",") || Peek().Is("join") || Peek().Is("inner") || Peek().Is("left"))
                Fail();
        }
        if (Accept("where"))
            select->where = Expression();
        if (Peek().Is("group") || Peek().Is("having") || Peek().Is("union"))
            Fail();
        if (Accept("order")) {
            Expect("by");
            do {
                select->orderBy.push_back(Expression());
                if (!Accept("asc") && Accept("desc"))
                    select->orderBy.back()->negate = true;
            } while (Accept(","));
        }
        return select;
    }

    TTableRef TableRef()
    {
        TTableRef ref;
        if (Accept("::")) {
            ref.function = true;
        }
        std::vector<std::string> parts;
        std::string written;
        if (!Peek().bracketed && ReservedWords().count(Peek().lower))
            Fail();
        parts.push_back(Name());
        written = parts.back();
        while (Peek().Is(".")) {
            ++Pos;
            written += ".";
            if (Peek().Is(".")) {
                parts.push_back(std::string());
                continue;
            }
            parts.push_back(Name());
            written += parts.back();
        }
        ref.written = written;
        ref.name = ToLower(parts.back());
        if (parts.size() == 3)
            ref.database = ToLower(parts[0]);
        if (Accept("(")) {
            ref.function = true;
            if (!Peek().Is(")")) {
                do {
                    ref.args.push_back(Expression());
                } while (Accept(","));
            }
            Expect(")");
        } else if (ref.function) {
            Fail();
        }
        if (Accept("as")) {
            ref.alias = ToLower(Name());
        } else if (Peek().kind == TokenKind::Identifier && !ReservedWords().count(Peek().lower)) {
            ref.alias = Next().lower;
        }
        if (Accept("with")) {
            Expect("(");
            while (!Accept(")")) {
                if (AtEnd())
                    Fail();
                ++Pos;
            }
        }
        return ref;
    }

    TExprPtr Make(TExpr::Kind kind, const Token& token)
    {
        auto expr = std::make_unique<TExpr>();
        expr->kind = kind;
        expr->sourceText = token.text;
        return expr;
    }

    TExprPtr Expression()
    {
        const TNesting nesting(Depth);
        return Or();
    }

    TExprPtr Or()
    {
        auto left = And();
        while (Peek().Is("or")) {
            auto node = Make(TExpr::Kind::Or, Next());
            node->args.push_back(std::move(left));
            node->args.push_back(And());
            left = std::move(node);
        }
        return left;
    }

    TExprPtr And()
    {
        auto left = Not();
        while (Peek().Is("and")) {
            auto node = Make(TExpr::Kind::And, Next());
            node->args.push_back(std::move(left));
            node->args.push_back(Not());
            left = std::move(node);
        }
        return left;
    }

    TExprPtr Not()
    {
        const TNesting nesting(Depth);
        if (Peek().Is("not")) {
            auto node = Make(TExpr::Kind::Not, Next());
            node->args.push_back(Not());
            return node;
        }
        return Predicate();
    }

    TExprPtr Predicate()
    {
        if (Peek().Is("exists")) {
            auto node = Make(TExpr::Kind::Exists, Next());
            Expect("(");
            if (!Peek().Is("select"))
                Fail();
            node->select = Select();
            Expect(")");
            return node;
        }
        auto left = Additive();
        const Token& op = Peek();
        if (op.Is("=") || op.Is("<>") || op.Is("!=") || op.Is("<") || op.Is(">") || op.Is("<=") ||
            op.Is(">=")) {
            auto node = Make(TExpr::Kind::Compare, Next());
            node->name = op.text == "!=" ? "<>" : op.text;
            node->args.push_back(std::move(left));
            node->args.push_back(Additive());
            return node;
        }
        bool negate = false;
        if (op.Is("not") && (Peek(1).Is("like") || Peek(1).Is("in"))) {
            negate = true;
            ++Pos;
        }
        if (Peek().Is("like")) {
            auto node = Make(TExpr::Kind::Like, Next());
            node->negate = negate;
            node->args.push_back(std::move(left));
            node->args.push_back(Additive());
            return node;
        }
        if (Peek().Is("in")) {
            auto node = Make(TExpr::Kind::In, Next());
            node->negate = negate;
            node->args.push_back(std::move(left));
            Expect("(");
            do {
                node->args.push_back(Additive());
            } while (Accept(","));
            Expect(")");
            return node;
        }
        if (Peek().Is("is")) {
            auto node = Make(TExpr::Kind::IsNull, Next());
            node->negate = Accept("not");
            Expect("null");
            node->args.push_back(std::move(left));
            return node;
        }
        return left;
    }

    TExprPtr Additive()
    {
        auto left = Multiplicative();
        while (Peek().Is("+") || Peek().Is("-") || Peek().Is("&") || Peek().Is("|") || Peek().Is("^")) {
            auto node = Make(TExpr::Kind::Binary, Peek());
            node->name = Next().text;
            node->args.push_back(std::move(left));
            node->args.push_back(Multiplicative());
            left = std::move(node);
        }
        return left;
    }

    TExprPtr Multiplicative()
    {
        auto left = Unary();
        while (Peek().Is("*") || Peek().Is("/") || Peek().Is("%")) {
            auto node = Make(TExpr::Kind::Binary, Peek());
            node->name = Next().text;
            node->args.push_back(std::move(left));
            node->args.push_back(Unary());
            left = std::move(node);
        }
        return left;
    }

    TExprPtr Unary()
    {
        const TNesting nesting(Depth);
        if (Peek().Is("-") || Peek().Is("~")) {
            const TExpr::Kind kind = Peek().Is("-") ? TExpr::Kind::Negate : TExpr::Kind::BitNot;
            auto node = Make(kind, Next());
            node->args.push_back(Unary());
            return node;
        }
        if (Accept("+"))
            return Unary();
        return Primary();
    }

    TExprPtr Primary()
    {
        const Token& token = Peek();
        switch (token.kind) {
        case TokenKind::String: {
            // A plain literal is read in the server's code page; only N'...' keeps
            // every character.
            auto node = Make(TExpr::Kind::Literal, Next());
            const std::string text = token.unicode ? token.text : Utf8WithinCp1252(token.text);
            node->literal = text;
            node->literalType = {token.unicode ? VType::NVarChar : VType::VarChar,
                                 std::max<int>(1, static_cast<int>(text.size())), false};
            return node;
        }
        case TokenKind::Integer: {
            auto node = Make(TExpr::Kind::Literal, Next());
            try {
                const long long value = std::stoll(token.text);
                node->literal = static_cast<std::int64_t>(value);
                node->literalType = {value > INT32_MAX ? VType::BigInt : VType::Int, 0, false};
            } catch (const std::exception&) {
                node->literal = std::stod(token.text);
                node->literalType = {VType::Float, 0, false};
            }
            return node;
        }
        case TokenKind::Float: {
            auto node = Make(TExpr::Kind::Literal, Next());
            node->literal = std::stod(token.text);
            node->literalType = {VType::Float, 0, false};
            return node;
        }
        case TokenKind::Binary: {
            auto node = Make(TExpr::Kind::Literal, Next());
            node->literal = token.text;
            node->literalType = {VType::Binary, static_cast<int>(token.text.size()), false};
            return node;
        }
        case TokenKind::Variable: {
            auto node = Make(TExpr::Kind::Variable, Next());
            node->name = token.text;
            return node;
        }
        case TokenKind::GlobalVar: {
            auto node = Make(TExpr::Kind::Global, Next());
            node->name = token.lower;
            return node;
        }
        case TokenKind::Symbol:
            if (token.Is("(")) {
                ++Pos;
                if (Peek().Is("select")) {
                    auto node = Make(TExpr::Kind::Subquery, token);
                    node->select = Select();
                    Expect(")");
                    return node;
                }
                auto inner = Expression();
                Expect(")");
                return inner;
            }
            Fail();
        case TokenKind::Identifier:
            break;
        case TokenKind::End:
            Fail();
        }
        if (token.Is("null")) {
            auto node = Make(TExpr::Kind::Literal, Next());
            return node;
        }
        if (token.Is("case"))
            return Case();
        if (!token.bracketed && (token.lower == "cast" || token.lower == "convert") && Peek(1).Is("(")) {
            auto node = Make(TExpr::Kind::Cast, Next());
            Expect("(");
            if (token.lower == "cast") {
                node->args.push_back(Expression());
                Expect("as");
                node->castType = TypeName();
            } else {
                node->castType = TypeName();
                Expect(",");
                node->args.push_back(Expression());
                if (Accept(","))
                    Expression();
            }
            Expect(")");
            return node;
        }
        if (!token.bracketed && ReservedWords().count(token.lower))
            Fail();
        // name, a.name, a.b.name, or name(args)
        std::vector<std::string> parts{Next().text};
        while (Peek().Is(".") && Peek(1).kind == TokenKind::Identifier) {
            ++Pos;
            parts.push_back(Next().text);
        }
        if (Peek().Is("(")) {
            ++Pos;
            auto node = Make(TExpr::Kind::Function, token);
            node->name = ToLower(parts.back());
            node->nameHash = NameHash(node->name);
            if (Peek().Is("*")) {
                node->args.push_back(Make(TExpr::Kind::Star, Next()));
            } else if (!Peek().Is(")")) {
                Accept("distinct");
                do {
                    node->args.push_back(Expression());
                } while (Accept(","));
            }
            Expect(")");
            return node;
        }
        auto node = Make(TExpr::Kind::Column, token);
        node->name = ToLower(parts.back());
        node->sourceText = parts.back();
        if (parts.size() > 1)
            node->qualifier = ToLower(parts[parts.size() - 2]);
        return node;
    }

    TExprPtr Case()
    {
        auto node = Make(TExpr::Kind::Case, Next());
        if (!Peek().Is("when")) {
            node->simpleCase = true;
            node->args.push_back(Expression());
        }
        if (!Peek().Is("when"))
            Fail();
        while (Accept("when")) {
            node->args.push_back(Expression());
            Expect("then");
            node->args.push_back(Expression());
        }
        if (Accept("else")) {
            node->hasElse = true;
            node->args.push_back(Expression());
        }
        Expect("end");
        return node;
    }
};

} // namespace

std::vector<TStatementPtr> ParseBatch(const std::vector<Token>& tokens)
{
    return TParser(tokens).Batch();
}

} // namespace sandbox
