#include "support/Odbcclient.h"

#include <memory>

namespace {

// A statement handle freed when the run ends.
struct StatementDeleter
{
    void operator()(void* statement) const { SQLFreeHandle(SQL_HANDLE_STMT, statement); }
};
using StatementHandle = std::unique_ptr<void, StatementDeleter>;

std::u16string Utf16(const QString& text)
{
    return text.toStdU16String();
}

} // namespace

TOdbcClient::TOdbcClient()
{
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &FEnv);
    SQLSetEnvAttr(FEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, FEnv, &FDbc);
}

TOdbcClient::~TOdbcClient()
{
    if (FConnected)
        SQLDisconnect(FDbc);
    SQLFreeHandle(SQL_HANDLE_DBC, FDbc);
    SQLFreeHandle(SQL_HANDLE_ENV, FEnv);
}

TOdbcOutcome TOdbcClient::Connect(quint16 port, const QString& user, const QString& password,
                                  const QString& tdsVersion)
{
    const QString text = QStringLiteral("DRIVER={FreeTDS};SERVER=127.0.0.1;PORT=%1;UID=%2;PWD=%3;"
                                        "TDS_Version=%4;ClientCharset=UTF-8;APP=OdbcClient")
                             .arg(port)
                             .arg(user, password, tdsVersion);
    std::u16string connection = Utf16(text);
    SQLSetConnectAttr(FDbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(10), 0);
    const SQLRETURN rc = SQLDriverConnectW(FDbc, nullptr, reinterpret_cast<SQLWCHAR*>(connection.data()),
                                           SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc))
        return Diagnose(SQL_HANDLE_DBC, FDbc);
    FConnected = true;
    TOdbcOutcome outcome;
    outcome.ok = true;
    return outcome;
}

TOdbcOutcome TOdbcClient::Execute(const QString& sql, int timeoutSeconds)
{
    SQLHSTMT raw = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, FDbc, &raw)))
        return Diagnose(SQL_HANDLE_DBC, FDbc);
    const StatementHandle statement(raw);
    SQLSetStmtAttr(raw, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeoutSeconds)), 0);
    std::u16string text = Utf16(sql);
    return Run(raw, SQLExecDirectW(raw, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS));
}

TOdbcOutcome TOdbcClient::PrepareAndExecute(const QString& sql)
{
    SQLHSTMT raw = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, FDbc, &raw)))
        return Diagnose(SQL_HANDLE_DBC, FDbc);
    const StatementHandle statement(raw);
    std::u16string text = Utf16(sql);
    const SQLRETURN prepared = SQLPrepareW(raw, reinterpret_cast<SQLWCHAR*>(text.data()), SQL_NTS);
    if (!SQL_SUCCEEDED(prepared))
        return Diagnose(SQL_HANDLE_STMT, raw);
    return Run(raw, SQLExecute(raw));
}

QString TOdbcClient::CurrentDatabase() const
{
    SQLWCHAR name[256] = {};
    SQLINTEGER length = 0;
    if (!SQL_SUCCEEDED(SQLGetConnectAttrW(FDbc, SQL_ATTR_CURRENT_CATALOG, name, sizeof name, &length)))
        return {};
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(name), length / 2);
}

TOdbcOutcome TOdbcClient::Run(SQLHSTMT statement, SQLRETURN rc)
{
    TOdbcOutcome outcome;
    while (rc != SQL_NO_DATA) {
        if (!SQL_SUCCEEDED(rc)) {
            TOdbcOutcome failed = Diagnose(SQL_HANDLE_STMT, statement);
            failed.results = std::move(outcome.results);
            return failed;
        }
        TOdbcResult result;
        SQLSMALLINT columnCount = 0;
        SQLNumResultCols(statement, &columnCount);
        for (SQLSMALLINT c = 1; c <= columnCount; ++c) {
            SQLWCHAR name[256] = {};
            SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
            SQLULEN size = 0;
            SQLDescribeColW(statement, c, name, 256, &nameLength, &type, &size, &digits, &nullable);
            result.columns.push_back(
                {QString::fromUtf16(reinterpret_cast<const char16_t*>(name), nameLength), type});
        }
        if (columnCount == 0)
            SQLRowCount(statement, &result.rowCount);
        while (columnCount > 0 && (rc = SQLFetch(statement)) != SQL_NO_DATA) {
            if (!SQL_SUCCEEDED(rc)) {
                // An error after some rows: keep what arrived before it.
                TOdbcOutcome failed = Diagnose(SQL_HANDLE_STMT, statement);
                failed.results = std::move(outcome.results);
                failed.results.push_back(result);
                return failed;
            }
            QStringList row;
            for (SQLSMALLINT c = 1; c <= columnCount; ++c) {
                QByteArray value;
                char chunk[4096];
                SQLLEN indicator = 0;
                while (SQL_SUCCEEDED(
                    rc = SQLGetData(statement, c, SQL_C_CHAR, chunk, sizeof chunk, &indicator))) {
                    if (indicator == SQL_NULL_DATA)
                        break;
                    const auto got =
                        (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof chunk))
                            ? static_cast<qsizetype>(sizeof chunk - 1)
                            : static_cast<qsizetype>(indicator);
                    value.append(chunk, got);
                    if (rc == SQL_SUCCESS)
                        break;
                }
                row.append(indicator == SQL_NULL_DATA ? QString() : QString::fromUtf8(value));
            }
            result.rows.push_back(row);
        }
        outcome.results.push_back(result);
        rc = SQLMoreResults(statement);
    }
    outcome.ok = true;
    return outcome;
}

TOdbcOutcome TOdbcClient::Diagnose(SQLSMALLINT handleType, SQLHANDLE handle)
{
    TOdbcOutcome outcome;
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR text[1024] = {};
    SQLSMALLINT length = 0;
    if (SQL_SUCCEEDED(SQLGetDiagRecW(handleType, handle, 1, state, &native, text, 1024, &length))) {
        outcome.sqlState = QString::fromUtf16(reinterpret_cast<const char16_t*>(state), 5);
        outcome.nativeError = native;
        outcome.message = QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
    }
    return outcome;
}
