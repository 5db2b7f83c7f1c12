#pragma once
// The parsed form of a batch: the statements and expressions of the T-SQL subset the
// simulated server runs (what monitors and ODBC drivers send), and the parser that
// builds it. A batch is parsed whole before any of it runs, so a syntax error leaves
// everything undone, as on a real server.

#include "sandbox/Sandboxsqllexer.h"
#include "sandbox/Sandboxsqlvalue.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sandbox {

// Function names are compared by hash while rows are read; the names known to the
// server have distinct hashes.
constexpr std::uint32_t NameHash(std::string_view name)
{
    std::uint32_t hash = 2166136261u;
    for (const char c : name)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

consteval std::uint32_t Fn(const char* name)
{
    return NameHash(name);
}

struct TSelect;

struct TExpr
{
    enum class Kind
    {
        Literal,
        Variable, // name = @x as written
        Global,   // name = @@x lower-case
        Column,   // name lower-case, qualifier lower-case or empty
        Star,     // count(*)
        Negate,
        BitNot,
        Binary,  // name = operator: + - * / % & | ^
        Compare, // name = operator: = <> < > <= >=
        Like,
        IsNull, // IS [NOT] NULL
        In,
        And,
        Or,
        Not,
        Case,     // args: [subject,] when, then, when, then, ..., [else]
        Function, // name lower-case
        Cast,
        Subquery,
        Exists,
    };
    Kind kind = Kind::Literal;
    std::string name;
    std::string qualifier;
    Value literal;
    TTypeInfo literalType;
    TTypeInfo castType;
    std::vector<std::unique_ptr<TExpr>> args;
    std::shared_ptr<TSelect> select;
    bool negate = false;     // NOT LIKE, IS NOT NULL, NOT IN
    bool simpleCase = false; // CASE subject WHEN ...
    bool hasElse = false;
    int columnIndex = -1;          // resolved against the current table before rows are read
    int aggregateSlot = -1;        // for count/min/max/sum: index of the aggregate's result
    std::string sourceText;        // first token, for messages
    std::uint32_t nameHash = 0;    // NameHash(name) of a function
    std::optional<TTypeInfo> type; // the static type, once known (it does not change within a batch)
};
using TExprPtr = std::unique_ptr<TExpr>;

struct TSelectItem
{
    std::string alias;     // the result column's name; empty when none
    std::string assignVar; // SELECT @v = expr
    TExprPtr expr;
};

struct TTableRef
{
    std::string name;     // last part, lower-case (sysprocesses, fn_get_sql)
    std::string written;  // as written, for messages
    std::string database; // first part when given (master), lower-case
    std::string alias;    // lower-case
    bool function = false;
    std::vector<TExprPtr> args;
};

struct TSelect
{
    bool distinct = false;
    TExprPtr top;
    std::vector<TSelectItem> items;
    bool hasFrom = false;
    TTableRef from;
    TExprPtr where;
    std::vector<TExprPtr> orderBy;
};

struct TStatement;
using TStatementPtr = std::unique_ptr<TStatement>;

struct TVariableDecl
{
    std::string name;
    TTypeInfo type;
};

struct TStatement
{
    enum class Kind
    {
        Declare,
        DeclareCursor,
        SetVariable,
        SetOption,
        Select,
        If,
        While,
        Block,
        Open,
        Fetch,
        Close,
        Deallocate,
        Kill,
        Execute,
        Use,
        Dbcc,
        BeginTran,
        Commit,
        Rollback,
        Print,
        Return,
    };
    Kind kind = Kind::Select;
    std::vector<TVariableDecl> declarations;
    std::string name;               // variable, cursor, option, procedure, database, dbcc command
    std::vector<std::string> words; // SET option arguments as written
    std::vector<std::string> intoVars;
    std::vector<std::string> paramNames; // EXEC proc @param = value
    std::vector<TExprPtr> args; // SET @v = args[0]; IF/WHILE condition args[0]; KILL args[0]; EXEC args
    std::shared_ptr<TSelect> select;
    std::vector<TStatementPtr> body; // BLOCK; IF: body[0] then, body[1] else (may be null); WHILE: body[0]
};

// Throws TSqlError (102 and kin) when the text is not a batch of this subset.
std::vector<TStatementPtr> ParseBatch(const std::vector<Token>& tokens);

} // namespace sandbox
