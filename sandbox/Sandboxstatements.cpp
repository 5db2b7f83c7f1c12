#include "sandbox/Sandboxstatements.h"

#include <algorithm>
#include <set>

namespace sandbox {

namespace {

// SET options a driver or a tool may send; the simulated server accepts them all.
const std::set<std::string>& KnownOptions()
{
    static const std::set<std::string> options = {
        "textsize",
        "ansi_nulls",
        "ansi_padding",
        "ansi_warnings",
        "ansi_null_dflt_on",
        "ansi_null_dflt_off",
        "ansi_defaults",
        "concat_null_yields_null",
        "quoted_identifier",
        "nocount",
        "arithabort",
        "arithignore",
        "implicit_transactions",
        "cursor_close_on_commit",
        "datefirst",
        "dateformat",
        "language",
        "lock_timeout",
        "transaction",
        "xact_abort",
        "numeric_roundabort",
        "deadlock_priority",
        "rowcount",
        "fmtonly",
        "showplan_text",
        "showplan_all",
        "statistics",
        "noexec",
        "parseonly",
        "query_governor_cost_limit",
        "context_info",
        "forceplan",
        "no_browsetable",
        "remote_proc_transactions",
        "nonrecoverable",
        "offsets",
        "procid",
    };
    return options;
}

bool HasAggregate(const TExpr& expr)
{
    if (expr.kind == TExpr::Kind::Function &&
        (expr.name == "count" || expr.name == "min" || expr.name == "max" || expr.name == "sum" ||
         expr.name == "avg"))
        return true;
    return std::any_of(expr.args.begin(), expr.args.end(),
                       [](const TExprPtr& arg) { return HasAggregate(*arg); });
}

} // namespace

TStatementRunner::TStatementRunner(TProcessTable& table, const TServerSwitches& switches, int spid)
    : Table(table), Switches(switches), Spid(spid)
{
    if (const TProcess* process = Table.Find(spid)) {
        Login = process->login.value_or("");
        Dbid = process->dbid;
    } else {
        Login = "sa";
    }
}

BatchResult TStatementRunner::Run(const std::string& sql)
{
    Scopes.emplace_back();
    try {
        RunBatch(sql, {});
    } catch (const TSqlError& error) {
        Emit(error);
    } catch (const TReturn&) {
    } catch (const std::exception&) {
        // A statement this server cannot handle must not take the server down.
        Emit(TSqlError(8630, "Internal Query Processor Error: The query processor encountered an unexpected "
                             "error during execution."));
    }
    if (TProcess* process = Table.Find(Spid); process && process->client)
        process->dbid = Dbid;
    return std::move(Out);
}

void TStatementRunner::RunBatch(const std::string& sql, const std::vector<TVariableDecl>& parameters)
{
    const std::vector<Token> tokens = Tokenize(sql);
    const std::vector<TStatementPtr> statements = ParseBatch(tokens);
    CheckVariables(tokens, parameters);
    for (const TVariableDecl& parameter : parameters)
        Scopes.back()[VariableKey(parameter.name)] = TVariable{parameter.name, parameter.type, Value{}};
    for (const TStatementPtr& statement : statements)
        Execute(*statement);
}

std::string TStatementRunner::VariableKey(const std::string& name) const
{
    return CaseSensitive() ? name : ToLower(name);
}

void TStatementRunner::CheckVariables(const std::vector<Token>& tokens,
                                      const std::vector<TVariableDecl>& parameters) const
{
    // A variable must be declared, earlier in the batch, under one spelling; the
    // server compares the spelling by its collation, so a case-sensitive server
    // rejects @Name where @name was declared.
    std::set<std::string> declared;
    for (const TVariableDecl& parameter : parameters)
        declared.insert(VariableKey(parameter.name));
    bool inDeclare = false;
    bool inExecute = false;
    bool expectDeclaration = false;
    int depth = 0;
    static const std::set<std::string> statementWords = {
        "select",  "set",  "declare", "if",     "else",       "begin", "end",
        "while",   "open", "fetch",   "close",  "deallocate", "kill",  "exec",
        "execute", "use",  "dbcc",    "commit", "rollback",   "print", "return",
    };
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.kind == TokenKind::Identifier && !token.bracketed && statementWords.count(token.lower)) {
            inDeclare = token.lower == "declare";
            expectDeclaration = inDeclare;
            inExecute = token.lower == "exec" || token.lower == "execute";
            depth = 0;
            continue;
        }
        if (token.Is("("))
            ++depth;
        else if (token.Is(")"))
            --depth;
        else if (token.Is(",") && inDeclare && depth == 0)
            expectDeclaration = true;
        if (token.kind != TokenKind::Variable)
            continue;
        if (expectDeclaration) {
            expectDeclaration = false;
            if (!declared.insert(VariableKey(token.text)).second)
                throw TSqlError(134,
                                "The variable name '" + token.text +
                                    "' has already been declared. Variable names must be unique within a "
                                    "query batch or stored procedure.",
                                15, 2);
            continue;
        }
        if (inExecute && i + 1 < tokens.size() && tokens[i + 1].Is("="))
            continue; // a parameter name of the called procedure
        if (!declared.count(VariableKey(token.text)))
            throw TSqlError(137, "Must declare the scalar variable \"" + token.text + "\".", 15, 2);
    }
}

void TStatementRunner::Emit(const TSqlError& error)
{
    Message message;
    message.number = error.Number;
    message.severity = error.Severity;
    message.state = error.State;
    message.text = error.what();
    Out.items.push_back(message);
    ErrorValue = error.Number;
}

void TStatementRunner::Info(int number, const std::string& text)
{
    Message message;
    message.number = number;
    message.severity = number == 0 ? 0 : 10;
    message.state = 1;
    message.text = text;
    Out.items.push_back(message);
}

bool TStatementRunner::NoCount() const
{
    const TProcess* process = Table.Find(Spid);
    return process && process->nocount;
}

void TStatementRunner::RowCount(std::int64_t count)
{
    RowCountValue = count;
    if (!NoCount())
        Out.items.emplace_back(std::in_place_type<sandbox::RowCount>, sandbox::RowCount{count});
}

int TStatementRunner::TranCount() const
{
    const TProcess* process = Table.Find(Spid);
    return process ? process->trancount : 0;
}

void TStatementRunner::SetTranCount(int count)
{
    if (TProcess* process = Table.Find(Spid)) {
        process->trancount = count;
        process->openTran = count;
    }
}

TStatementRunner::TVariable& TStatementRunner::FindVariable(const std::string& name)
{
    const auto it = Scopes.back().find(VariableKey(name));
    if (it == Scopes.back().end())
        throw TSqlError(137, "Must declare the scalar variable \"" + name + "\".", 15, 2);
    return it->second;
}

void TStatementRunner::Execute(const TStatement& statement)
{
    SubqueryCache.clear();
    SubqueryTypes.clear();
    using Kind = TStatement::Kind;
    const TRowContext none;
    switch (statement.kind) {
    case Kind::Declare:
        for (const TVariableDecl& declaration : statement.declarations)
            Scopes.back()[VariableKey(declaration.name)] =
                TVariable{declaration.name, declaration.type, Value{}};
        break;
    case Kind::DeclareCursor:
        Cursors[statement.name] = TCursor{statement.select, {}, {}, 0, false};
        break;
    case Kind::SetVariable: {
        TVariable& variable = FindVariable(statement.name);
        TExpr& expr = *statement.args[0];
        const TTypeInfo type = TypeOf(expr, none);
        variable.value = Convert(Eval(expr, none), type, variable.type);
        break;
    }
    case Kind::SetOption:
        ExecuteSetOption(statement);
        break;
    case Kind::Select:
        ExecuteSelect(*statement.select);
        break;
    case Kind::If:
        if (Truth(*statement.args[0], none))
            Execute(*statement.body[0]);
        else if (statement.body[1])
            Execute(*statement.body[1]);
        break;
    case Kind::While:
        for (int guard = 0; Truth(*statement.args[0], none); ++guard) {
            if (guard > 1000000)
                throw TSqlError(0, "The simulated server stopped a loop that did not end.", 16);
            Execute(*statement.body[0]);
            SubqueryCache.clear();
            SubqueryTypes.clear();
        }
        break;
    case Kind::Block:
        for (const TStatementPtr& inner : statement.body)
            Execute(*inner);
        break;
    case Kind::Open: {
        const auto it = Cursors.find(statement.name);
        if (it == Cursors.end())
            throw TSqlError(16916, "A cursor with the name '" + statement.name + "' does not exist.");
        if (it->second.open)
            throw TSqlError(16905, "The cursor is already open.");
        TQueryResult result = Query(*it->second.select);
        it->second.rows = std::move(result.rows);
        it->second.types = std::move(result.types);
        it->second.position = 0;
        it->second.open = true;
        break;
    }
    case Kind::Fetch: {
        const auto it = Cursors.find(statement.name);
        if (it == Cursors.end())
            throw TSqlError(16916, "A cursor with the name '" + statement.name + "' does not exist.");
        TCursor& cursor = it->second;
        if (!cursor.open)
            throw TSqlError(16917, "Cursor is not open.");
        if (cursor.position >= cursor.rows.size()) {
            FetchStatus = -1;
            break;
        }
        const Row& row = cursor.rows[cursor.position++];
        if (!statement.intoVars.empty() && statement.intoVars.size() != row.size())
            throw TSqlError(16924, "Cursorfetch: The number of variables declared in the INTO list must "
                                   "match that of selected columns.");
        for (std::size_t i = 0; i < statement.intoVars.size(); ++i) {
            TVariable& variable = FindVariable(statement.intoVars[i]);
            variable.value = Convert(row[i], cursor.types[i], variable.type);
        }
        FetchStatus = 0;
        break;
    }
    case Kind::Close:
    case Kind::Deallocate: {
        const auto it = Cursors.find(statement.name);
        if (it == Cursors.end())
            throw TSqlError(16916, "A cursor with the name '" + statement.name + "' does not exist.");
        if (statement.kind == Kind::Close) {
            if (!it->second.open)
                throw TSqlError(16917, "Cursor is not open.");
            it->second.open = false;
        } else {
            Cursors.erase(it);
        }
        break;
    }
    case Kind::Kill: {
        TExpr& expr = *statement.args[0];
        const TTypeInfo type = TypeOf(expr, none);
        const Value value = Eval(expr, none);
        if (!IsInteger(type.type) || IsNull(value))
            throw SyntaxError(expr.sourceText);
        Kill(std::get<std::int64_t>(value));
        break;
    }
    case Kind::Execute:
        ExecuteProcedure(statement);
        break;
    case Kind::Use:
        ExecuteUse(statement.name);
        break;
    case Kind::Dbcc:
        ExecuteDbcc(statement);
        break;
    case Kind::BeginTran:
        SetTranCount(TranCount() + 1);
        break;
    case Kind::Commit:
        if (TranCount() == 0)
            throw TSqlError(3902, "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION.");
        SetTranCount(TranCount() - 1);
        break;
    case Kind::Rollback:
        if (TranCount() == 0)
            throw TSqlError(3903, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
        SetTranCount(0);
        break;
    case Kind::Print: {
        TExpr& expr = *statement.args[0];
        const TTypeInfo type = TypeOf(expr, none);
        const Value text =
            Convert(Eval(expr, none), type,
                    TTypeInfo{IsUnicode(type.type) ? VType::NVarChar : VType::VarChar, 8000, true});
        Info(0, IsNull(text) ? std::string() : std::get<std::string>(text));
        break;
    }
    case Kind::Return:
        throw TReturn();
    }
}

void TStatementRunner::ExecuteSelect(const TSelect& select)
{
    const bool assigns = !select.items.empty() && !select.items.front().assignVar.empty();
    for (const TSelectItem& item : select.items)
        if (item.assignVar.empty() == assigns)
            throw TSqlError(141,
                            "A SELECT statement that assigns a value to a variable must not be combined with "
                            "data-retrieval operations.",
                            15);
    // Every read of the process table by a client sees it one step further on.
    if (!assigns && select.hasFrom && !select.from.function && select.from.name == "sysprocesses" &&
        !std::any_of(select.items.begin(), select.items.end(),
                     [](const TSelectItem& item) { return HasAggregate(*item.expr); }))
        Table.Advance();
    TQueryResult result = Query(select);
    if (!assigns) {
        ResultSet set;
        for (std::size_t i = 0; i < result.names.size(); ++i)
            set.columns.push_back(ResultColumn(result.names[i], result.types[i]));
        const bool needsMapping =
            std::any_of(result.types.begin(), result.types.end(), [](const TTypeInfo& type) {
                return type.type == VType::Binary || type.type == VType::Char || type.type == VType::NChar;
            });
        if (needsMapping)
            for (Row& row : result.rows)
                for (std::size_t i = 0; i < row.size(); ++i)
                    row[i] = ResultValue(row[i], result.types[i]);
        set.rows = std::move(result.rows);
        RowCountValue = static_cast<std::int64_t>(set.rows.size());
        Out.items.push_back(std::move(set));
        return;
    }
    // SELECT @v = ...: the last row's values stay in the variables.
    if (!result.rows.empty()) {
        const Row& last = result.rows.back();
        for (std::size_t i = 0; i < select.items.size(); ++i) {
            TVariable& variable = FindVariable(select.items[i].assignVar);
            variable.value = Convert(last[i], result.types[i], variable.type);
        }
    }
    RowCount(static_cast<std::int64_t>(result.rows.size()));
}

void TStatementRunner::ExecuteSetOption(const TStatement& statement)
{
    if (!KnownOptions().count(statement.name))
        throw TSqlError(195, "'" + statement.name + "' is not a recognized SET option.", 15);
    if (statement.name == "nocount" && statement.words.size() >= 2) {
        if (TProcess* process = Table.Find(Spid))
            process->nocount = statement.words.back() == "on";
    }
    if (statement.name == "language" && statement.words.size() >= 2)
        Info(5703, "Changed language setting to " + statement.words.back() + ".");
}

void TStatementRunner::ExecuteUse(const std::string& database)
{
    const std::optional<int> dbid = Table.DatabaseId(database, CaseSensitive());
    if (!dbid)
        throw TSqlError(
            911, "Database '" + database + "' does not exist. Make sure that the name is entered correctly.",
            16, 1);
    if (!Table.HasAccess(Login, *dbid))
        throw TSqlError(916,
                        "The server principal \"" + Login + "\" is not able to access the database \"" +
                            database + "\" under the current security context.",
                        14, 1);
    const std::string oldName = Table.DatabaseName(Dbid).value_or("");
    const std::string newName = *Table.DatabaseName(*dbid);
    Dbid = *dbid;
    Out.items.push_back(DatabaseChange{oldName, newName});
    Info(5701, "Changed database context to '" + newName + "'.");
}

void TStatementRunner::Kill(std::int64_t spid)
{
    const TProcess* process = Table.Find(static_cast<int>(spid));
    const TAccount* account = Table.FindAccount(Login);
    if (!account || !account->sysadmin) {
        Emit(TSqlError(6102, "User does not have permission to use the KILL statement.", 14));
        return;
    }
    if (spid == Spid) {
        Emit(TSqlError(6104, "Cannot use KILL to kill your own process."));
        return;
    }
    if (!process) {
        Emit(TSqlError(6106, "Process ID " + std::to_string(spid) + " is not an active process ID."));
        return;
    }
    if (process->system) {
        Emit(TSqlError(6107, "Only user processes can be killed.", 14));
        return;
    }
    if (process->client)
        Killed.push_back(process->spid);
    Table.Remove(process->spid);
}

void TStatementRunner::ExecuteProcedure(const TStatement& statement)
{
    const std::string name = ToLower(statement.name);
    if (name != "sp_executesql")
        throw TSqlError(2812, "Could not find stored procedure '" + statement.name + "'.", 16, 62);
    const TRowContext none;
    if (statement.args.empty())
        throw TSqlError(
            201,
            "Procedure or function 'sp_executesql' expects parameter '@statement', which was not supplied.",
            16, 4);
    const TTypeInfo textType = TypeOf(*statement.args[0], none);
    if (textType.type != VType::NVarChar && textType.type != VType::NChar && textType.type != VType::NText)
        throw TSqlError(214, "Procedure expects parameter '@statement' of type 'ntext/nchar/nvarchar'.", 16,
                        2);
    const Value text = Eval(*statement.args[0], none);
    std::vector<TVariableDecl> parameters;
    if (statement.args.size() > 1) {
        const TTypeInfo definitionType = TypeOf(*statement.args[1], none);
        if (definitionType.type != VType::NVarChar && definitionType.type != VType::NChar &&
            definitionType.type != VType::NText)
            throw TSqlError(214, "Procedure expects parameter '@params' of type 'ntext/nchar/nvarchar'.", 16,
                            2);
        const Value definition = Eval(*statement.args[1], none);
        if (!IsNull(definition) && !std::get<std::string>(definition).empty()) {
            // The parameter list is read as the server reads a DECLARE.
            const std::vector<TStatementPtr> declared =
                ParseBatch(Tokenize("declare " + std::get<std::string>(definition)));
            if (declared.size() != 1 || declared[0]->kind != TStatement::Kind::Declare)
                throw SyntaxError(std::get<std::string>(definition));
            parameters = declared[0]->declarations;
        }
    }
    std::vector<Value> bound(parameters.size());
    for (std::size_t i = 2; i < statement.args.size(); ++i) {
        const std::string& named = statement.paramNames[i];
        std::size_t slot = named.empty() ? i - 2 : parameters.size();
        for (std::size_t p = 0; !named.empty() && p < parameters.size(); ++p)
            if (VariableKey(parameters[p].name) == VariableKey(named))
                slot = p;
        if (slot >= parameters.size())
            throw TSqlError(8145,
                            (named.empty() ? std::string("Too many arguments") : named) +
                                " is not a parameter for procedure sp_executesql.",
                            16, 1);
        const TTypeInfo type = TypeOf(*statement.args[i], none);
        bound[slot] = Convert(Eval(*statement.args[i], none), type, parameters[slot].type);
    }
    if (IsNull(text))
        return;
    // The inner batch has its own variables and database context; its compile errors
    // end it, not the caller's batch.
    if (NestLevel >= 32)
        throw TSqlError(
            217, "Maximum stored procedure, function, trigger, or view nesting level exceeded (limit 32).");
    const int callerDbid = Dbid;
    Scopes.emplace_back();
    ++NestLevel;
    try {
        for (std::size_t p = 0; p < parameters.size(); ++p)
            Scopes.back()[VariableKey(parameters[p].name)] =
                TVariable{parameters[p].name, parameters[p].type, bound[p]};
        const std::vector<Token> tokens = Tokenize(std::get<std::string>(text));
        const std::vector<TStatementPtr> statements = ParseBatch(tokens);
        CheckVariables(tokens, parameters);
        for (const TStatementPtr& inner : statements)
            Execute(*inner);
    } catch (const TSqlError& error) {
        Emit(error);
    } catch (const TReturn&) {
    }
    --NestLevel;
    Scopes.pop_back();
    if (Dbid != callerDbid) {
        Out.items.push_back(DatabaseChange{Table.DatabaseName(Dbid).value_or(""),
                                           Table.DatabaseName(callerDbid).value_or("")});
        Dbid = callerDbid;
    }
}

void TStatementRunner::ExecuteDbcc(const TStatement& statement)
{
    if (statement.name != "inputbuffer")
        throw TSqlError(
            2526,
            "Incorrect DBCC statement. Check the documentation for the correct DBCC syntax and options.");
    const TRowContext none;
    if (statement.args.size() != 1)
        throw TSqlError(2583, "An incorrect number of parameters was given to the DBCC statement.");
    const TTypeInfo type = TypeOf(*statement.args[0], none);
    const Value spid = Convert(Eval(*statement.args[0], none), type, TTypeInfo{VType::Int, 0, true});
    const TProcess* process =
        IsNull(spid) ? nullptr : Table.Find(static_cast<int>(std::get<std::int64_t>(spid)));
    if (!process) {
        Emit(TSqlError(
            7940, "Invalid SPID " +
                      (IsNull(spid) ? std::string("NULL") : std::to_string(std::get<std::int64_t>(spid))) +
                      " specified."));
        RowCountValue = 0;
        return;
    }
    ResultSet set;
    set.columns.push_back(ResultColumn("EventType", TTypeInfo{VType::NVarChar, 30, true}));
    set.columns.push_back(ResultColumn("Parameters", TTypeInfo{VType::SmallInt, 0, true}));
    set.columns.push_back(ResultColumn("EventInfo", TTypeInfo{VType::NVarChar, 4000, true}));
    if (process->system || process->inputBuffer.empty())
        set.rows.push_back(Row{std::string("No Event"), std::int64_t{0}, std::string()});
    else
        set.rows.push_back(
            Row{std::string("Language Event"), std::int64_t{0}, process->inputBuffer.substr(0, 4000)});
    Out.items.push_back(std::move(set));
    RowCountValue = 1;
    if (std::find(statement.words.begin(), statement.words.end(), "no_infomsgs") == statement.words.end())
        Info(2528,
             "DBCC execution completed. If DBCC printed error messages, contact your system administrator.");
}

} // namespace sandbox
