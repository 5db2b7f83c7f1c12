#include "engine/Dbrowstream.h"

#include "engine/Dbconnectionstring.h"
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
    WideText,
    DateTime
};

// Room for any integer written as text, blanks around it included.
constexpr std::size_t IntegerTextBytes = 64;
// A byte read past the widest text kept shows whether a character is cut there, so the
// cut falls where cutting the whole text would.
constexpr std::size_t LookAheadBytes = 1;

struct TBoundColumn
{
    TOdbcColumn Described;
    EBinding Binding = EBinding::None;
    std::size_t MaxBytes = 0;
    std::vector<char> Buffer; // bound: its address stays fixed until Close
    SQLLEN Indicator = 0;
    // The current row's value, set by Fetch.
    std::int64_t Integer = 0;
    double DateTime = 0;
    std::string_view Text;
    std::string Utf8; // a wide text converted
};

} // namespace

struct TDbRowStream::Impl
{
    TDbConnection& Connection;
    std::unique_lock<std::recursive_mutex> Lock;
    TOdbcHandle Statement;
    std::vector<TBoundColumn> Columns; // sized once per statement: the bound buffers never move
    bool Utf8Texts = false;

    explicit Impl(TDbConnection& connection) : Connection(connection) {}

    TBoundColumn& At(int column)
    {
        if (column < 0 || static_cast<std::size_t>(column) >= Columns.size())
            throw EDbError("The result has no column " + std::to_string(column) + ".", "Torvane");
        return Columns[static_cast<std::size_t>(column)];
    }

    const TBoundColumn& Bound(int column, EBinding a, EBinding b = EBinding::None)
    {
        const TBoundColumn& bound = At(column);
        if (bound.Binding != a && (b == EBinding::None || bound.Binding != b))
            throw EDbError("The column " + bound.Described.Name + " is not read that way.", "Torvane");
        return bound;
    }

    void Bind(int column, EBinding binding, SQLSMALLINT cType, std::size_t bytes, std::size_t maxBytes = 0)
    {
        TBoundColumn& bound = At(column);
        bound.Binding = binding;
        bound.MaxBytes = maxBytes;
        bound.Buffer.assign(bytes, '\0');
        CheckOdbc(SQLBindCol(Statement.Get(), static_cast<SQLUSMALLINT>(column + 1), cType,
                             bound.Buffer.data(), static_cast<SQLLEN>(bytes), &bound.Indicator),
                  Statement, "A column could not be bound.");
    }

    // Bytes (or, for wide text, characters) the driver put into a buffer of `room` units.
    static std::size_t Received(SQLLEN indicator, std::size_t room, std::size_t unit)
    {
        if (indicator == SQL_NO_TOTAL)
            return room - 1;
        return std::min(room - 1, static_cast<std::size_t>(std::max<SQLLEN>(indicator, 0)) / unit);
    }

    void TakeValue(TBoundColumn& bound)
    {
        const bool null = bound.Indicator == SQL_NULL_DATA;
        bound.Integer = 0;
        bound.DateTime = 0;
        bound.Text = {};
        if (null)
            return;
        switch (bound.Binding) {
        case EBinding::None:
            break;
        case EBinding::Integer: {
            SQLBIGINT value = 0;
            std::memcpy(&value, bound.Buffer.data(), sizeof value);
            bound.Integer = value;
            break;
        }
        case EBinding::IntegerText:
            bound.Integer = IntegerOfText(
                std::string_view(bound.Buffer.data(), Received(bound.Indicator, bound.Buffer.size(), 1)));
            break;
        case EBinding::Text: {
            const std::string_view text(bound.Buffer.data(),
                                        Received(bound.Indicator, bound.Buffer.size(), 1));
            bound.Text = text.substr(0, Utf8PrefixLength(text, bound.MaxBytes));
            break;
        }
        case EBinding::WideText: {
            const std::size_t room = bound.Buffer.size() / sizeof(char16_t);
            bound.Utf8.clear();
            AppendUtf8(bound.Utf8, reinterpret_cast<const char16_t*>(bound.Buffer.data()),
                       Received(bound.Indicator, room, sizeof(char16_t)));
            bound.Text = std::string_view(bound.Utf8).substr(0, Utf8PrefixLength(bound.Utf8, bound.MaxBytes));
            break;
        }
        case EBinding::DateTime: {
            SQL_TIMESTAMP_STRUCT value{};
            std::memcpy(&value, bound.Buffer.data(), sizeof value);
            bound.DateTime = DaysSince18991230(value);
            break;
        }
        }
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
        d->Utf8Texts = IsFreeTdsDriver(d->Connection.Driver());
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
    if (d->Utf8Texts)
        d->Bind(column, EBinding::Text, SQL_C_CHAR, maxBytes + LookAheadBytes + 1, maxBytes);
    else
        d->Bind(column, EBinding::WideText, SQL_C_WCHAR, (maxBytes + 2) * sizeof(char16_t), maxBytes);
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
    const SQLRETURN rc = SQLFetch(d->Statement.Get());
    if (rc == SQL_NO_DATA)
        return false;
    CheckOdbc(rc, d->Statement, "The result could not be read.");
    for (TBoundColumn& column : d->Columns)
        d->TakeValue(column);
    return true;
}

bool TDbRowStream::IsNull(int column) const
{
    return d->At(column).Indicator == SQL_NULL_DATA;
}

std::int64_t TDbRowStream::Integer(int column) const
{
    return d->Bound(column, EBinding::Integer, EBinding::IntegerText).Integer;
}

std::string_view TDbRowStream::Text(int column) const
{
    return d->Bound(column, EBinding::Text, EBinding::WideText).Text;
}

double TDbRowStream::DateTime(int column) const
{
    return d->Bound(column, EBinding::DateTime).DateTime;
}
