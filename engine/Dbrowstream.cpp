#include "engine/Dbrowstream.h"

#include "engine/Dbodbc.h"
#include "model/Fixedtext.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

enum class EBinding
{
    None,
    Integer,
    IntegerText,
    Text,
    DateTime
};

// Room for any integer written as text, blanks around it included.
constexpr std::size_t IntegerTextBytes = 64;

// Rows come from the driver a block at a time, into arrays bound per column: one call
// into the driver manager and the driver per block instead of per row.
constexpr SQLULEN RowsetSize = 64;

struct TBoundColumn
{
    TOdbcColumn Described;
    EBinding Binding = EBinding::None;
    std::size_t MaxBytes = 0;
    std::size_t ElementBytes = 0;
    std::vector<char> Buffer;       // RowsetSize elements; bound, so it stays in place until Close
    std::vector<SQLLEN> Indicators; // likewise
};

// Whether the statement's diagnostics hold an error rather than only warnings (SQLSTATE
// class 01) or "no data" (02).
bool HasErrorRecord(const TOdbcHandle& statement)
{
    for (SQLSMALLINT record = 1;; ++record) {
        SQLCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        const SQLRETURN rc =
            SQLGetDiagRec(SQL_HANDLE_STMT, statement.Get(), record, state, &native, nullptr, 0, &length);
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
            return false;
        if (!(state[0] == '0' && (state[1] == '1' || state[1] == '2')))
            return true;
    }
}

} // namespace

struct TDbRowStream::Impl
{
    TDbConnection& Connection;
    std::unique_lock<std::recursive_mutex> Lock;
    TOdbcHandle Statement;
    std::vector<TBoundColumn> Columns; // sized once per statement: the bound buffers never move
    SQLULEN RowsFetched = 0;
    std::vector<SQLUSMALLINT> RowStatus = std::vector<SQLUSMALLINT>(RowsetSize);
    SQLULEN Current = 0; // row of the block; RowsFetched when none is current

    explicit Impl(TDbConnection& connection) : Connection(connection) {}

    TBoundColumn& At(int column)
    {
        if (column < 0 || static_cast<std::size_t>(column) >= Columns.size())
            throw EDbError("The result has no column " + std::to_string(column) + ".", "Torvane");
        return Columns[static_cast<std::size_t>(column)];
    }

    // The column's value in the current row: its bytes and its length or NULL indicator.
    TBoundColumn& Bound(int column, EBinding a, EBinding b = EBinding::None)
    {
        TBoundColumn& bound = At(column);
        if (bound.Binding != a && (b == EBinding::None || bound.Binding != b))
            throw EDbError("The column " + bound.Described.Name + " is not read that way.", "Torvane");
        if (Current >= RowsFetched)
            throw EDbError("Either BOF or EOF is True, or the current record has been deleted.", "Torvane");
        return bound;
    }
    const char* Element(const TBoundColumn& bound) const
    {
        return bound.Buffer.data() + Current * bound.ElementBytes;
    }
    SQLLEN Indicator(const TBoundColumn& bound) const { return bound.Indicators[Current]; }

    void Bind(int column, EBinding binding, SQLSMALLINT cType, std::size_t bytes, std::size_t maxBytes = 0)
    {
        TBoundColumn& bound = At(column);
        bound.Binding = binding;
        bound.MaxBytes = maxBytes;
        bound.ElementBytes = bytes;
        bound.Buffer.assign(bytes * RowsetSize, '\0');
        bound.Indicators.assign(RowsetSize, 0);
        CheckOdbc(SQLBindCol(Statement.Get(), static_cast<SQLUSMALLINT>(column + 1), cType,
                             bound.Buffer.data(), static_cast<SQLLEN>(bytes), bound.Indicators.data()),
                  Statement, "A column could not be bound.");
    }

    // Bytes (or, for wide text, characters) the driver put into an element of `room` units.
    static std::size_t Received(SQLLEN indicator, std::size_t room, std::size_t unit)
    {
        if (indicator == SQL_NO_TOTAL)
            return room - 1;
        return std::min(room - 1, static_cast<std::size_t>(std::max<SQLLEN>(indicator, 0)) / unit);
    }

    void SetAttribute(SQLINTEGER attribute, SQLPOINTER value)
    {
        CheckOdbc(SQLSetStmtAttr(Statement.Get(), attribute, value, 0), Statement,
                  "The statement could not be prepared for reading rows in blocks.");
    }
};

TDbRowStream::TDbRowStream(TDbConnection& connection) : d(std::make_unique<Impl>(connection)) {}

TDbRowStream::~TDbRowStream()
{
    Close();
}

void TDbRowStream::Open(const std::string& sql)
{
    Close();
    d->Lock = std::unique_lock(d->Connection.RequestLock());
    try {
        d->Statement = NewStatement(d->Connection);
        d->SetAttribute(SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN));
        d->SetAttribute(SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(RowsetSize));
        d->SetAttribute(SQL_ATTR_ROWS_FETCHED_PTR, &d->RowsFetched);
        d->SetAttribute(SQL_ATTR_ROW_STATUS_PTR, d->RowStatus.data());
        d->RowsFetched = 0;
        d->Current = 0;
        const SQLSMALLINT columns = ExecuteToFirstColumns(d->Statement, sql);
        d->Columns = std::vector<TBoundColumn>(static_cast<std::size_t>(columns));
        for (SQLSMALLINT column = 0; column < columns; ++column)
            d->Columns[static_cast<std::size_t>(column)].Described =
                DescribeColumn(d->Statement, static_cast<SQLUSMALLINT>(column + 1));
    } catch (...) {
        Close();
        throw;
    }
}

void TDbRowStream::Close()
{
    // The statement goes before the lock does, which also discards the rest of the result.
    d->Statement.Reset();
    d->Columns.clear();
    if (d->Lock.owns_lock())
        d->Lock.unlock();
}

int TDbRowStream::Column(std::string_view name) const
{
    const auto found = std::find_if(d->Columns.begin(), d->Columns.end(), [name](const TBoundColumn& column) {
        return SameColumnName(column.Described.Name, name);
    });
    if (found == d->Columns.end())
        throw EDbError("Item cannot be found in the collection corresponding to the requested name: " +
                           std::string(name),
                       "Torvane");
    return static_cast<int>(found - d->Columns.begin());
}

void TDbRowStream::BindInteger(int column)
{
    if (IsTextType(d->At(column).Described.SqlType))
        d->Bind(column, EBinding::IntegerText, SQL_C_CHAR, IntegerTextBytes);
    else
        d->Bind(column, EBinding::Integer, SQL_C_SBIGINT, sizeof(SQLBIGINT));
}

void TDbRowStream::BindText(int column, std::size_t maxBytes)
{
    // Every UTF-16 unit makes at least one byte of UTF-8, so maxBytes + 1 units give the
    // bytes that fit and the start of the character that does not.
    d->Bind(column, EBinding::Text, SQL_C_WCHAR, (maxBytes + 2) * sizeof(char16_t), maxBytes);
}

void TDbRowStream::BindDateTime(int column)
{
    if (!IsDateTimeType(d->At(column).Described.SqlType))
        throw EDbError("The column " + d->At(column).Described.Name + " is not a date-time.", "Torvane");
    d->Bind(column, EBinding::DateTime, SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT));
}

bool TDbRowStream::Fetch()
{
    if (!d->Statement)
        throw EDbError("Operation is not allowed when the object is closed.", "Torvane");
    if (d->Current + 1 < d->RowsFetched) {
        ++d->Current;
    } else {
        d->RowsFetched = 0;
        d->Current = 0;
        const SQLRETURN rc = SQLFetch(d->Statement.Get());
        if (rc == SQL_NO_DATA)
            return false;
        CheckOdbc(rc, d->Statement, "The result could not be read.");
        // A server error in the middle of the rows comes with the block before it, as
        // a warning: the result is incomplete, so the read fails as a row-at-a-time
        // fetch would at the failing row.
        if (rc == SQL_SUCCESS_WITH_INFO && HasErrorRecord(d->Statement))
            throw OdbcError(d->Statement, "The result could not be read.");
        if (d->RowsFetched == 0)
            return false;
    }
    // A row the driver could not read (a value it could not convert) fails the read.
    if (d->RowStatus[d->Current] == SQL_ROW_ERROR)
        throw OdbcError(d->Statement, "The result could not be read.");
    return true;
}

bool TDbRowStream::IsNull(int column) const
{
    const EBinding binding = d->At(column).Binding;
    if (binding == EBinding::None)
        throw EDbError("The column " + d->At(column).Described.Name + " is not bound.", "Torvane");
    return d->Indicator(d->Bound(column, binding)) == SQL_NULL_DATA;
}

std::int64_t TDbRowStream::Integer(int column) const
{
    const TBoundColumn& bound = d->Bound(column, EBinding::Integer, EBinding::IntegerText);
    const SQLLEN indicator = d->Indicator(bound);
    if (indicator == SQL_NULL_DATA)
        return 0;
    if (bound.Binding == EBinding::IntegerText)
        return IntegerOfText(
            std::string_view(d->Element(bound), Impl::Received(indicator, bound.ElementBytes, 1)));
    SQLBIGINT value = 0;
    std::memcpy(&value, d->Element(bound), sizeof value);
    return value;
}

std::size_t TDbRowStream::WriteText(int column, char* out) const
{
    const TBoundColumn& bound = d->Bound(column, EBinding::Text);
    const SQLLEN indicator = d->Indicator(bound);
    if (indicator == SQL_NULL_DATA)
        return 0;
    const std::size_t written =
        WriteUtf8(out, reinterpret_cast<const char16_t*>(d->Element(bound)),
                  Impl::Received(indicator, bound.ElementBytes / sizeof(char16_t), sizeof(char16_t)));
    return Utf8PrefixLength(std::string_view(out, written), bound.MaxBytes);
}

std::size_t TDbRowStream::TextRoom(int column) const
{
    const TBoundColumn& bound = d->At(column);
    if (bound.Binding != EBinding::Text)
        throw EDbError("The column " + bound.Described.Name + " is not read that way.", "Torvane");
    return (bound.ElementBytes / sizeof(char16_t) - 1) * 3;
}

double TDbRowStream::DateTime(int column) const
{
    const TBoundColumn& bound = d->Bound(column, EBinding::DateTime);
    if (d->Indicator(bound) == SQL_NULL_DATA)
        return 0;
    SQL_TIMESTAMP_STRUCT value{};
    std::memcpy(&value, d->Element(bound), sizeof value);
    return DaysSince18991230(value);
}

TDateTimeSeconds TDbRowStream::DateTimeSeconds(int column) const
{
    const TBoundColumn& bound = d->Bound(column, EBinding::DateTime);
    if (d->Indicator(bound) == SQL_NULL_DATA)
        return NoDateTime;
    SQL_TIMESTAMP_STRUCT value{};
    std::memcpy(&value, d->Element(bound), sizeof value);
    const TDateTimeSeconds seconds =
        SecondsOf(value.year, value.month, value.day, value.hour, value.minute, value.second, value.fraction);
    if (seconds == NoDateTime)
        throw EDbError("The server sent a date that does not exist.", "Torvane");
    return seconds;
}
