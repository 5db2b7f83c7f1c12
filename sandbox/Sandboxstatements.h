#pragma once
// Runs one batch for one session against the process table, the way the server
// would: the batch is tokenised and parsed whole, its variables checked against their
// declarations (case-sensitively on a case-sensitive server), then its statements run
// and produce result sets, row counts, messages and database changes in order.
// Statements outside the supported subset get the server's usual errors.

#include "sandbox/Sandboxprocesstable.h"
#include "sandbox/Sandboxsqlerror.h"
#include "sandbox/Sandboxsqlsyntax.h"
#include "sandbox/Sandboxtypes.h"

#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace sandbox {

struct TServerSwitches
{
    bool caseSensitive = false;
    bool statementOffsetColumn = true;
    bool fnGetSqlPermission = true;
};

// A table a SELECT reads: column names and types, and cells computed on demand.
struct TTableData
{
    std::string name; // lower-case, and the alias it has in the query
    std::string alias;
    std::vector<std::string> names; // lower-case
    std::vector<TTypeInfo> types;
    std::size_t rows = 0;
    std::function<Value(std::size_t row, int column)> cell;
};

class TStatementRunner
{
public:
    TStatementRunner(TProcessTable& table, const TServerSwitches& switches, int spid);

    BatchResult Run(const std::string& sql);

    // Client sessions this batch killed: their connections must be closed.
    const std::vector<int>& KilledClients() const { return Killed; }

private:
    struct TVariable
    {
        std::string name;
        TTypeInfo type;
        Value value;
    };
    struct TCursor
    {
        std::shared_ptr<TSelect> select;
        std::vector<Row> rows;
        std::vector<TTypeInfo> types;
        std::size_t position = 0;
        bool open = false;
    };
    struct TRowContext
    {
        const TTableData* table = nullptr;
        std::size_t row = 0;
        const std::vector<Value>* aggregates = nullptr;
        const std::vector<TTypeInfo>* aggregateTypes = nullptr;
    };
    struct TQueryResult
    {
        std::vector<std::string> names;
        std::vector<TTypeInfo> types;
        std::vector<Row> rows;
    };
    class TReturn
    {
    };

    TProcessTable& Table;
    const TServerSwitches Switches;
    const int Spid;
    std::string Login;
    int Dbid = 1;
    BatchResult Out;
    std::vector<std::map<std::string, TVariable>> Scopes;
    std::map<std::string, TCursor> Cursors;
    std::unordered_map<const TExpr*, Value> SubqueryCache;
    std::unordered_map<const TExpr*, TTypeInfo> SubqueryTypes;
    std::int64_t RowCountValue = 0;
    std::int64_t FetchStatus = -1;
    std::int64_t ErrorValue = 0;
    int NestLevel = 0;
    std::vector<int> Killed;

    // Batches and statements (Sandboxstatements.cpp)
    void RunBatch(const std::string& sql, const std::vector<TVariableDecl>& parameters);
    void CheckVariables(const std::vector<Token>& tokens, const std::vector<TVariableDecl>& parameters) const;
    void Execute(const TStatement& statement);
    void ExecuteSelect(const TSelect& select);
    void ExecuteSetOption(const TStatement& statement);
    void ExecuteProcedure(const TStatement& statement);
    void ExecuteDbcc(const TStatement& statement);
    void ExecuteUse(const std::string& database);
    void Kill(std::int64_t spid);
    void Emit(const TSqlError& error);
    void Info(int number, const std::string& text);
    void RowCount(std::int64_t count);
    bool NoCount() const;
    TVariable& FindVariable(const std::string& name);
    std::string VariableKey(const std::string& name) const;
    int TranCount() const;
    void SetTranCount(int count);

    // Expressions and queries (Sandboxexpressions.cpp)
    TQueryResult Query(const TSelect& select);
    TTypeInfo TypeOf(TExpr& expr, const TRowContext& context);
    TTypeInfo ComputeType(TExpr& expr, const TRowContext& context);
    Value Eval(TExpr& expr, const TRowContext& context);
    bool Truth(TExpr& expr, const TRowContext& context);
    Value Condition(TExpr& expr, const TRowContext& context); // throws 4145 for a non-boolean expression
    Value EvalFunction(TExpr& expr, const TRowContext& context);
    TTypeInfo FunctionType(TExpr& expr, const TRowContext& context);
    Value Global(const std::string& name) const;
    TTypeInfo GlobalType(const std::string& name) const;
    Value Subquery(TExpr& expr);

    // The server's catalog (Sandboxcatalog.cpp)
    TTableData OpenTable(TTableRef& ref);
    TTableData OpenNamedTable(TTableRef& ref);
    TTableData Sysprocesses();
    TTableData Syscolumns() const;
    TTableData Sysobjects() const;
    TTableData Sysdatabases() const;
    TTableData FnGetSql(const Value& handle);
    std::vector<std::string> SysprocessesColumns() const;
    std::optional<std::string> ObjectName(std::int64_t id) const;
    std::optional<std::int64_t> ObjectId(const std::string& name) const;
    bool CaseSensitive() const { return Switches.caseSensitive; }
};

} // namespace sandbox
