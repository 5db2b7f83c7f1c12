#pragma once
// The yardstick of the refresh benchmark: the snapshot's text fetched by a bare ODBC
// program over the same driver with the same connection options as the monitor, every
// column bound in its natural C type (texts as UTF-8) and every row fetched, nothing kept.

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

    // Runs the text and fetches every row; the number of rows. Throws std::runtime_error.
    long Fetch(const std::string& sql);

private:
    SQLHENV Environment = SQL_NULL_HENV;
    SQLHDBC Connection = SQL_NULL_HDBC;
};
