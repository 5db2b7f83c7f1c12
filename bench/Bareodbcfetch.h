#pragma once
// The yardstick of the refresh benchmark: the snapshot's text fetched by a bare ODBC
// program over the same driver with the same connection options as the monitor (its
// connection string and packet size), fetched as fast as a plain client can: every
// column bound in its server type's own C type, texts as narrow or as wide characters
// (whichever the caller asks for: FreeTDS copies the server's UTF-16 as it is, and
// converts it for narrow ones), rows in arrays as large as the monitor's, nothing kept.

#include <sql.h>
#include <sqlext.h>

#include <string>

class TBareOdbcFetch
{
public:
    // Connects as "sa"; throws std::runtime_error when it cannot.
    explicit TBareOdbcFetch(const std::string& serverName);
    ~TBareOdbcFetch();
    TBareOdbcFetch(const TBareOdbcFetch&) = delete;
    TBareOdbcFetch& operator=(const TBareOdbcFetch&) = delete;

    // Runs the text and fetches every row, texts bound as textType (SQL_C_CHAR or
    // SQL_C_WCHAR); the number of rows. Throws std::runtime_error.
    long Fetch(const std::string& sql, SQLSMALLINT textType);

    // The packet size the server granted.
    int PacketSize() const;

private:
    SQLHENV Environment = SQL_NULL_HENV;
    SQLHDBC Connection = SQL_NULL_HDBC;
};
