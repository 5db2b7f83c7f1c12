#pragma once
// The database access layer: everything Torvane sends to a SQL Server goes through a
// TDbConnection and short-lived TDbQuery objects bound to it. Implemented over ODBC
// (unixODBC); the FreeTDS driver is the default, any SQL Server ODBC driver can be named.

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "engine/Dberror.h"
#include "settings/Torvanesettings.h"

class TOdbcHandle;

// How long the layer waits. The defaults (15 s to connect, 30 s for a query) let a
// server that stops answering be seen as disconnected within about half a minute;
// TORVANE_LOGIN_TIMEOUT and TORVANE_QUERY_TIMEOUT (seconds) override them.
struct TDbTimeouts
{
    static constexpr int MinTimeoutSeconds = 1;
    static constexpr int MaxTimeoutSeconds = 3600;

    int LoginSeconds = 15;
    int QuerySeconds = 30;
    // A value that is not a whole number from MinTimeoutSeconds to MaxTimeoutSeconds is
    // refused with a warning, and the default stays.
    static TDbTimeouts FromEnvironment();
};

// The message of the error Open raises for a connection string longer than the ODBC
// call can take; such a string is never passed on cut.
extern const char* const ConnectionStringTooLong;

// One connection to one server. Open, Close and every request are serialised by the
// request lock, so the monitor thread and the main thread may share the object.
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

    // The ODBC driver's name as registered with the driver manager; "FreeTDS" unless set.
    void SetDriver(const std::string& driver);
    const std::string& Driver() const;

    // How the connection is secured; the driver's own defaults unless set.
    void SetSecurity(const TConnectionSecurity& security);

    void SetTimeouts(const TDbTimeouts& timeouts);
    TDbTimeouts Timeouts() const;

    // The TDS packet size the next Open asks for (see engine/Packetsize.h); 0, the
    // default, leaves it to the driver. A driver that cannot be told keeps its own.
    void SetPacketSize(int bytes);
    // The packet size the open connection uses, as the driver reports what the server
    // granted; 0 when closed or when the driver does not tell.
    int PacketSize() const;

    // Opens (or reopens after Close) with the string set; throws EDbError, also for a
    // string too long for the driver (ConnectionStringTooLong). Credentials are never
    // asked for interactively. When encryption explains a failure (the server demands
    // it, cannot do it, or its certificate is not trusted), the error's message says so
    // after the driver's own text.
    void Open();
    // True from a successful Open until Close; a connection the server dropped stays
    // "open" until a request on it fails.
    bool IsOpen() const;
    void Close();

    // Serialises requests from the monitor thread and the main thread's commands:
    // a TDbQuery holds it for the length of one request (Open through the fetch).
    std::recursive_mutex& RequestLock();

private:
    friend TOdbcHandle NewStatement(TDbConnection& connection);
    struct Impl;
    std::unique_ptr<Impl> d;
};

// One request and its fetched result. Used by one thread at a time.
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
    // first row. A batch without any result set opens with no rows. Throws EDbError.
    void Open();
    void Close();
    bool IsOpen() const;

    bool Eof() const;
    void Next();
    int RecordCount() const;

    // Columns of the current row by name (case-insensitive). Reading a NULL as a
    // number gives 0 and as text gives "". Text is UTF-8; a text column read as a
    // number is converted the way the server would. Throws EDbError for an unknown
    // column, a read past the last row or a text that is not a number.
    bool IsNull(const std::string& column) const;
    std::int32_t AsInteger(const std::string& column) const;
    std::int64_t AsLargeInt(const std::string& column) const;
    std::string AsString(const std::string& column) const;
    double AsDateTime(const std::string& column) const; // days since 1899-12-30

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
