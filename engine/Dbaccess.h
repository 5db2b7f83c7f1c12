#pragma once
// The database access layer: everything Torvane sends to a SQL Server goes through a
// TDbConnection and short-lived TDbQuery objects bound to it. Implemented over ODBC
// (unixODBC); the FreeTDS driver is the default, any SQL Server ODBC driver can be named.

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

// A failure to connect or to run a query: the server's (or driver's) message text and
// the component that raised it ("FreeTDS SQL Server" for "[FreeTDS][SQL Server]...").
class EDbError : public std::runtime_error
{
public:
    EDbError(std::string message, std::string source)
        : std::runtime_error(message), Message(std::move(message)), Source(std::move(source))
    {
    }
    std::string Message;
    std::string Source;
};

class TDbConnection
{
public:
    TDbConnection();
    ~TDbConnection();
    TDbConnection(const TDbConnection&) = delete;
    TDbConnection& operator=(const TDbConnection&) = delete;

    // The connection string in the OLE DB form the monitor builds
    // ("Provider=SQLOLEDB.1;...;User ID=..;Password=..;Data Source=..;Application Name=..").
    // The layer translates it into ODBC attributes for the chosen driver.
    void SetConnectionString(const std::string& connectionString);
    const std::string& ConnectionString() const;

    // Opens (or reopens after Close) with the string set; throws EDbError.
    void Open();
    bool IsOpen() const;
    void Close();

    // Serialises requests from the monitor thread and the main thread's commands:
    // a TDbQuery holds it for the length of one request (Open through the fetch).
    std::recursive_mutex& RequestLock();

private:
    friend class TDbQuery;
    struct Impl;
    std::unique_ptr<Impl> d;
};

class TDbQuery
{
public:
    explicit TDbQuery(TDbConnection& connection);
    ~TDbQuery();
    TDbQuery(const TDbQuery&) = delete;
    TDbQuery& operator=(const TDbQuery&) = delete;

    // A text command or a batch of several statements, sent unchanged.
    void SetCommandText(const std::string& sql);
    const std::string& CommandText() const;

    // Runs the text and fetches the first result set that has columns completely;
    // row counts and empty results before it are skipped. The current row is the
    // first row. Throws EDbError.
    void Open();
    void Close();
    bool IsOpen() const;

    bool Eof() const;
    void Next();
    int RecordCount() const;

    // Columns of the current row by name (case-insensitive). Reading a NULL as a
    // number gives 0 and as text gives "". Text is UTF-8. Throws EDbError for an
    // unknown column.
    bool IsNull(const std::string& column) const;
    std::int32_t AsInteger(const std::string& column) const;
    std::int64_t AsLargeInt(const std::string& column) const;
    std::string AsString(const std::string& column) const;
    double AsDateTime(const std::string& column) const; // days since 1899-12-30

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
