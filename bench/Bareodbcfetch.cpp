#include "bench/Bareodbcfetch.h"

#include "engine/Dbconnectionstring.h"
#include "engine/Packetsize.h"
#include "engine/Torvanethread.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

// Rows per fetch call, as the monitor's row stream asks for.
constexpr SQLULEN RowsetSize = 64;

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
    std::vector<char> Data;         // RowsetSize elements
    std::vector<SQLLEN> Indicators; // likewise
};

// The C type a column's values arrive in without a conversion, and its element size.
std::pair<SQLSMALLINT, std::size_t> NaturalBinding(SQLSMALLINT sqlType, SQLULEN characters,
                                                   SQLSMALLINT textType)
{
    switch (sqlType) {
    case SQL_TINYINT:
        return {SQL_C_UTINYINT, 1};
    case SQL_SMALLINT:
        return {SQL_C_SSHORT, sizeof(SQLSMALLINT)};
    case SQL_INTEGER:
        return {SQL_C_SLONG, sizeof(SQLINTEGER)};
    case SQL_BIGINT:
        return {SQL_C_SBIGINT, sizeof(SQLBIGINT)};
    case SQL_TYPE_TIMESTAMP:
        return {SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT)};
    default: {
        // The declared characters and a terminator: UTF-8 takes up to 3 bytes for each.
        const std::size_t units = std::min<SQLULEN>(characters, 1024) + 1;
        return {textType, textType == SQL_C_WCHAR ? units * sizeof(SQLWCHAR) : units * 3};
    }
    }
}

} // namespace

TBareOdbcFetch::TBareOdbcFetch(const std::string& serverName)
{
    Check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &Environment), "environment");
    Check(SQLSetEnvAttr(Environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
          "ODBC 3");
    Check(SQLAllocHandle(SQL_HANDLE_DBC, Environment, &Connection), "connection");
    // The monitor's own connection string and packet size, so driver, TDS version,
    // character set and packets match.
    std::string text =
        TranslateConnectionString(TTorvaneThread::BuildConnectionString(serverName, false, "sa", "torvane"),
                                  DefaultOdbcDriver, {}, {}, ChosenPacketSize());
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

int TBareOdbcFetch::PacketSize() const
{
    SQLUINTEGER bytes = 0;
    Check(SQLGetConnectAttr(Connection, SQL_ATTR_PACKET_SIZE, &bytes, sizeof bytes, nullptr), "packet size");
    return static_cast<int>(bytes);
}

long TBareOdbcFetch::Fetch(const std::string& sql, SQLSMALLINT textType)
{
    SQLHSTMT raw = SQL_NULL_HSTMT;
    Check(SQLAllocHandle(SQL_HANDLE_STMT, Connection, &raw), "statement");
    const std::unique_ptr<void, TStatementDeleter> statement(raw);
    SQLULEN fetched = 0;
    Check(SQLSetStmtAttr(raw, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0),
          "column-wise binding");
    Check(SQLSetStmtAttr(raw, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(RowsetSize), 0),
          "row array");
    Check(SQLSetStmtAttr(raw, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), "rows fetched");
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
        const auto [cType, bytes] = NaturalBinding(type, size, textType);
        TColumnBuffer& buffer = buffers[column - 1];
        buffer.Data.resize(bytes * RowsetSize);
        buffer.Indicators.resize(RowsetSize);
        Check(SQLBindCol(raw, column, cType, buffer.Data.data(), static_cast<SQLLEN>(bytes),
                         buffer.Indicators.data()),
              "bind");
    }
    long rows = 0;
    for (SQLRETURN rc; (rc = SQLFetch(raw)) != SQL_NO_DATA; rows += static_cast<long>(fetched))
        Check(rc, "fetch");
    return rows;
}
