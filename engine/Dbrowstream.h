#pragma once
// A query whose rows are read one after the other into bound buffers, for a result too
// large to hold whole (the process snapshot of a busy server): the driver fills a block
// of rows at a time, and nothing of a row outlives the block. Columns are found by name
// once per statement and read by position; a value is converted only when asked for.
//
// Texts come as wide characters and are converted to UTF-8 here. Every driver delivers
// those whatever the process's locale (a narrow text could lose every character outside
// ASCII in a service running in the C locale), and for the server's Unicode columns
// FreeTDS only copies them: asked for UTF-8 it would run every character of a padded
// name through iconv, which costs more than the rest of the row's reading.

#include "engine/Datetimetexts.h"
#include "engine/Dbaccess.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class TDbRowStream
{
public:
    explicit TDbRowStream(TDbConnection& connection);
    ~TDbRowStream();
    TDbRowStream(const TDbRowStream&) = delete;
    TDbRowStream& operator=(const TDbRowStream&) = delete;

    // Runs the text and opens its first result that has columns (none: no rows). From
    // here until Close the stream holds the connection's request lock, so no other
    // request comes between its rows. Throws EDbError.
    void Open(const std::string& sql);
    // Discards what is left of the result and gives the connection back.
    void Close();

    // The position of the result's column of this name, in any letter case; throws
    // EDbError when there is none.
    int Column(std::string_view name) const;

    // How a column is read, set before the first Fetch. A text longer than maxBytes bytes
    // of UTF-8 is cut at the last character boundary that fits; an integer column may
    // also be sent as a text, which is converted as the server would.
    void BindInteger(int column);
    void BindText(int column, std::size_t maxBytes);
    void BindDateTime(int column);

    // Moves to the next row; false after the last. Throws EDbError.
    bool Fetch();

    // The current row's bound values: NULL reads as 0 or as an empty text.
    bool IsNull(int column) const;
    std::int64_t Integer(int column) const;
    // The text as UTF-8 at out, cut as bound and at a NUL character; the bytes kept. out
    // has room for TextRoom(column) bytes, which the writing may use beyond what it keeps.
    std::size_t WriteText(int column, char* out) const;
    std::size_t TextRoom(int column) const;
    double DateTime(int column) const; // days since 1899-12-30
    // The second of a date-time column as its text shows it; NoDateTime for NULL.
    TDateTimeSeconds DateTimeSeconds(int column) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
