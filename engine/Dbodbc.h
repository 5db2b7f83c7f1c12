#pragma once
// ODBC helpers private to the access layer: an owning handle, statements on a
// connection, the translation of a call's diagnostics into EDbError, the conversions of
// values the driver hands over, and UTF-8 / UTF-16 conversions for the wide calls.

#include "engine/Dbaccess.h"

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <string>
#include <string_view>

// Owns one ODBC handle and frees it when it goes; a connection handle must be
// disconnected by its user first.
class TOdbcHandle
{
public:
    TOdbcHandle() = default;
    // Allocates a handle of the type under parent (SQL_NULL_HANDLE for an environment).
    TOdbcHandle(SQLSMALLINT type, SQLHANDLE parent);
    ~TOdbcHandle();
    TOdbcHandle(TOdbcHandle&& other) noexcept;
    TOdbcHandle& operator=(TOdbcHandle&& other) noexcept;
    TOdbcHandle(const TOdbcHandle&) = delete;
    TOdbcHandle& operator=(const TOdbcHandle&) = delete;

    SQLHANDLE Get() const { return Handle; }
    SQLSMALLINT Type() const { return HandleType; }
    explicit operator bool() const { return Handle != SQL_NULL_HANDLE; }
    void Reset();

private:
    SQLSMALLINT HandleType = 0;
    SQLHANDLE Handle = SQL_NULL_HANDLE;
};

// The most specific diagnostic record of the handle as an error: the server's own
// message where there is one, its "[..][..]" prefix turned into the source.
EDbError OdbcError(const TOdbcHandle& handle, const std::string& fallback);

// True when every diagnostic came from the driver manager itself (the driver could not
// be loaded or set up), so no driver has talked to a server.
bool IsDriverManagerFailure(const TOdbcHandle& handle);

// Throws OdbcError unless rc reports success.
void CheckOdbc(SQLRETURN rc, const TOdbcHandle& handle, const std::string& what);

// Splits "[FreeTDS][SQL Server]Login failed" into message and source.
void SplitDiagnosticText(const std::string& text, std::string& message, std::string& source);

// A statement on the open connection with the query time-out set; the caller holds the
// connection's request lock. Throws EDbError when the connection is closed.
TOdbcHandle NewStatement(TDbConnection& connection);

// Runs the text on the statement and moves to its first result that has columns (row
// counts, infos and USE come as results without columns before the data). The number of
// columns; 0 when the batch sent no result with columns. Throws EDbError.
SQLSMALLINT ExecuteToFirstColumns(const TOdbcHandle& statement, const std::string& sql);

// A column of the current result: its name in lower case and its SQL type.
struct TOdbcColumn
{
    std::string Name;
    SQLSMALLINT SqlType = 0;
};
TOdbcColumn DescribeColumn(const TOdbcHandle& statement, SQLUSMALLINT column);

// True when a column name as described (lower case) is the name asked for, in any case.
bool SameColumnName(std::string_view lowered, std::string_view asked);

bool IsTextType(SQLSMALLINT sqlType);
bool IsDateTimeType(SQLSMALLINT sqlType);

// Days since 1899-12-30 of a driver's timestamp; EDbError for a date that does not exist.
double DaysSince18991230(const SQL_TIMESTAMP_STRUCT& timestamp);

// A number the server sent as text (isnull(rtrim(blocked),0) yields one), converted as
// the server would: blanks around it and a leading + are allowed. EDbError otherwise.
std::int64_t IntegerOfText(std::string_view text);

std::u16string ToUtf16(const std::string& text);
std::string ToUtf8(const char16_t* text, std::size_t length);
// Writes the UTF-8 form of UTF-16 text at out, which has room for 3 bytes a unit, up to
// its first NUL (as a C string of it would end); a lone surrogate becomes U+FFFD. The
// bytes written.
std::size_t WriteUtf8(char* out, const char16_t* text, std::size_t length);
