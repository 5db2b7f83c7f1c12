#include "bench/Bareodbcfetch.h"

#include "engine/Dbconnectionstring.h"
#include "engine/Torvanethread.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

struct TStatementDeleter
{
    void operator()(void* statement) const { SQLFreeHandle(SQL_HANDLE_STMT, statement); }
};

void Check(SQLRETURN rc, const char* what)
{
    if (!SQL_SUCCEEDED(rc))
        throw std::runtime_error(std::string("bare ODBC fetch: ") + what);
}

struct TColumnBuffer
{
    SQLSMALLINT CType = SQL_C_CHAR;
    std::vector<char> Data;
    SQLLEN Indicator = 0;
};

} // namespace

TBareOdbcFetch::TBareOdbcFetch(const std::string& serverName)
{
    Check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &Environment), "environment");
    Check(SQLSetEnvAttr(Environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
          "ODBC 3");
    Check(SQLAllocHandle(SQL_HANDLE_DBC, Environment, &Connection), "connection");
    // The monitor's own connection string, so driver, TDS version and character set match.
    std::string text = TranslateConnectionString(
        TTorvaneThread::BuildConnectionString(serverName, false, "sa", "torvane"), DefaultOdbcDriver);
    Check(SQLDriverConnect(Connection, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, nullptr, 0,
                           nullptr, SQL_DRIVER_NOPROMPT),
          "connect");
}

TBareOdbcFetch::~TBareOdbcFetch()
{
    SQLDisconnect(Connection);
    SQLFreeHandle(SQL_HANDLE_DBC, Connection);
    SQLFreeHandle(SQL_HANDLE_ENV, Environment);
}

long TBareOdbcFetch::Fetch(const std::string& sql)
{
    SQLHSTMT raw = SQL_NULL_HSTMT;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, Connection, &raw), "statement");
    const std::unique_ptr<void, TStatementDeleter> statement(raw);
    std::string text = sql;
    Check(SQLExecDirect(raw, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS), "execute");
    SQLSMALLINT columns = 0;
    Check(SQLNumResultCols(raw, &columns), "columns");
    std::vector<TColumnBuffer> buffers(static_cast<std::size_t>(columns));
    for (SQLUSMALLINT column = 1; column <= columns; ++column) {
        SQLCHAR name[128];
        SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        Check(SQLDescribeCol(raw, column, name, sizeof name, &nameLength, &type, &size, &digits, &nullable),
              "describe");
        TColumnBuffer& buffer = buffers[column - 1];
        switch (type) {
        case SQL_TINYINT:
        case SQL_SMALLINT:
        case SQL_INTEGER:
        case SQL_BIGINT:
            buffer.CType = SQL_C_SBIGINT;
            buffer.Data.resize(sizeof(SQLBIGINT));
            break;
        case SQL_TYPE_TIMESTAMP:
            buffer.CType = SQL_C_TYPE_TIMESTAMP;
            buffer.Data.resize(sizeof(SQL_TIMESTAMP_STRUCT));
            break;
        default:
            buffer.Data.resize(std::min<SQLULEN>(size, 1024) * 4 + 1); // UTF-8 of the declared characters
            break;
        }
        Check(SQLBindCol(raw, column, buffer.CType, buffer.Data.data(),
                         static_cast<SQLLEN>(buffer.Data.size()), &buffer.Indicator),
              "bind");
    }
    long rows = 0;
    for (SQLRETURN rc; (rc = SQLFetch(raw)) != SQL_NO_DATA; ++rows)
        Check(rc, "fetch");
    return rows;
}
