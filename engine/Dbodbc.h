#pragma once
// ODBC helpers private to the access layer: an owning handle, the translation of a
// call's diagnostics into EDbError, and UTF-8 / UTF-16 conversions for the wide calls.

#include "engine/Dbaccess.h"

#include <sql.h>
#include <sqlext.h>

#include <string>

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

// Throws OdbcError unless rc reports success.
void CheckOdbc(SQLRETURN rc, const TOdbcHandle& handle, const std::string& what);

// Splits "[FreeTDS][SQL Server]Login failed" into message and source.
void SplitDiagnosticText(const std::string& text, std::string& message, std::string& source);

std::u16string ToUtf16(const std::string& text);
std::string ToUtf8(const char16_t* text, std::size_t length);
