#pragma once
// The seam between the sandbox's wire protocol (TDS) and its simulated server.
// The simulation answers batches with these plain values; the protocol side turns
// them into TDS tokens. Neither side knows the other's internals.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace sandbox {

// The SQL Server column types the simulated statements return.
enum class SqlType
{
    Bit,
    TinyInt,
    SmallInt,
    Int,
    BigInt,
    Float,    // float(53)
    VarChar,  // single-byte text, sent in the server's code page (Latin-1)
    NVarChar, // UTF-16 text
    Text,     // legacy text blob (for example fn_get_sql's text column)
    NText,
    DateTime,
};

struct Column
{
    std::string name;
    SqlType type = SqlType::Int;
    int maxLength = 0; // characters for (n)varchar; ignored for fixed-size types
    bool nullable = true;
};

// Days since 1899-12-30 with the time of day as fraction (the toolkit's date-time).
struct DateTimeValue
{
    double days = 0;
};

// NULL, an integer (any integer or bit type), a float, UTF-8 text, or a date-time.
using Value = std::variant<std::monostate, std::int64_t, double, std::string, DateTimeValue>;
using Row = std::vector<Value>;

struct ResultSet
{
    std::vector<Column> columns;
    std::vector<Row> rows;
    // An error raised after the rows, ending the result the way a statement that fails
    // while its rows stream does (no row count follows). Empty text: none.
    int failureNumber = 0;
    std::string failureText = {};
};

// An error (severity > 10) or an informational message (severity <= 10).
struct Message
{
    int number = 0;
    int state = 1;
    int severity = 16;
    std::string text;
    int line = 1;
    std::string procName;
    bool isError() const { return severity > 10; }
};

// "n rows affected" of a statement without a result set (DONE with a count).
struct RowCount
{
    std::int64_t count = 0;
};

// A statement completed without rows and without a count (plain DONE).
struct StatementDone
{
};

// A change of the session's current database (USE): ENVCHANGE type 1.
struct DatabaseChange
{
    std::string oldName;
    std::string newName;
};

using ResultItem = std::variant<ResultSet, RowCount, StatementDone, Message, DatabaseChange>;

// What one batch produced, in the order the server sends it. An error Message
// that ends the batch is the last item.
struct BatchResult
{
    std::vector<ResultItem> items;
};

// What a client sent in its LOGIN7 packet, plus its address.
struct LoginRequest
{
    std::string userName;
    std::string password;
    std::string hostName;
    std::string appName;
    std::string serverName;
    std::string database;   // may be empty: the login's default database
    std::string clientAddress; // the peer's IP address as text
    std::uint32_t clientPid = 0;
    std::uint32_t tdsVersion = 0; // as sent, e.g. 0x74000004
    bool integratedSecurity = false; // SSPI requested
};

struct LoginResult
{
    bool ok = false;
    int spid = 0;              // valid when ok
    std::string database;      // current database after login, when ok
    Message error;             // when !ok: e.g. 18456 "Login failed for user 'x'."
};

// What the protocol side calls; the simulation implements it. Every call may come
// from any connection's thread at any time, so implementations lock their own state.
class Backend
{
public:
    virtual ~Backend() = default;
    // Checks the credentials; on success the client appears in the process table.
    virtual LoginResult Login(const LoginRequest& request) = 0;
    // The client's connection ended (logout, drop, or error): its process leaves.
    virtual void Logout(int spid) = 0;
    // Runs one SQL batch (UTF-8) for the session and returns what a server sends back.
    // May block (a slowed probe) without holding any lock other callers need.
    virtual BatchResult ExecuteBatch(int spid, const std::string& sql) = 0;
};

} // namespace sandbox
