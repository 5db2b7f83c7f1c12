#pragma once
// A minimal ODBC client for the sandbox tests: connects through the FreeTDS driver
// registered in unixODBC and runs batches with SQLExecDirect, collecting every
// result set, row count and diagnostic as plain values.

#include <sql.h>
#include <sqlext.h>

#include <QString>
#include <QStringList>

#include <vector>

struct TOdbcColumn
{
    QString name;
    SQLSMALLINT sqlType = 0;
};

struct TOdbcResult
{
    std::vector<TOdbcColumn> columns; // empty for a row count
    std::vector<QStringList> rows;    // NULL as a null QString
    SQLLEN rowCount = -1;
};

struct TOdbcOutcome
{
    bool ok = false;
    QString sqlState;    // of the first diagnostic, when !ok
    int nativeError = 0; // the server's message number
    QString message;
    std::vector<TOdbcResult> results;
};

class TOdbcClient
{
public:
    TOdbcClient();
    ~TOdbcClient();
    TOdbcClient(const TOdbcClient&) = delete;
    TOdbcClient& operator=(const TOdbcClient&) = delete;

    // tdsVersion as the driver spells it ("7.1" .. "7.4").
    TOdbcOutcome Connect(quint16 port, const QString& user, const QString& password,
                         const QString& tdsVersion = QStringLiteral("7.4"));
    // Runs one batch; timeoutSeconds 0 waits without limit.
    TOdbcOutcome Execute(const QString& sql, int timeoutSeconds = 0);
    // Prepares and executes, which the driver sends as a remote procedure call.
    TOdbcOutcome PrepareAndExecute(const QString& sql);
    bool IsConnected() const { return FConnected; }
    // The session's database as the driver last heard it from the server.
    QString CurrentDatabase() const;

private:
    TOdbcOutcome Run(SQLHSTMT statement, SQLRETURN rc);
    static TOdbcOutcome Diagnose(SQLSMALLINT handleType, SQLHANDLE handle);

    SQLHENV FEnv = SQL_NULL_HENV;
    SQLHDBC FDbc = SQL_NULL_HDBC;
    bool FConnected = false;
};
