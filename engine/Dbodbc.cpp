#include "engine/Dbodbc.h"

#include <QDate>
#include <QString>

#include <algorithm>
#include <charconv>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

TOdbcHandle::TOdbcHandle(SQLSMALLINT type, SQLHANDLE parent)
    : HandleType(type)
{
    const SQLRETURN rc = SQLAllocHandle(type, parent, &Handle);
    if (!SQL_SUCCEEDED(rc)) {
        Handle = SQL_NULL_HANDLE;
        throw EDbError("The ODBC driver manager could not allocate a handle.", "ODBC");
    }
}

TOdbcHandle::~TOdbcHandle()
{
    Reset();
}

TOdbcHandle::TOdbcHandle(TOdbcHandle&& other) noexcept
    : HandleType(other.HandleType), Handle(std::exchange(other.Handle, SQLHANDLE{}))
{
}

TOdbcHandle& TOdbcHandle::operator=(TOdbcHandle&& other) noexcept
{
    if (this != &other) {
        Reset();
        HandleType = other.HandleType;
        Handle = std::exchange(other.Handle, SQLHANDLE{});
    }
    return *this;
}

void TOdbcHandle::Reset()
{
    if (Handle != SQL_NULL_HANDLE)
        SQLFreeHandle(HandleType, std::exchange(Handle, SQLHANDLE{}));
}

void SplitDiagnosticText(const std::string& text, std::string& message, std::string& source)
{
    std::size_t pos = 0;
    source.clear();
    while (pos < text.size() && text[pos] == '[') {
        const auto close = text.find(']', pos);
        if (close == std::string::npos)
            break;
        if (!source.empty())
            source += ' ';
        source += text.substr(pos + 1, close - pos - 1);
        pos = close + 1;
    }
    message = text.substr(pos);
}

namespace {

struct TDiagnosticRecord
{
    std::string State;
    SQLINTEGER Native = 0;
    std::string Message;
    std::string Source;
    int Components = 0;
};

std::vector<TDiagnosticRecord> DiagnosticRecords(const TOdbcHandle& handle)
{
    std::vector<TDiagnosticRecord> records;
    for (SQLSMALLINT number = 1;; ++number) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        std::u16string text(1024, u'\0');
        SQLRETURN rc = SQLGetDiagRecW(handle.Type(), handle.Get(), number, state, &native,
                                      reinterpret_cast<SQLWCHAR*>(text.data()),
                                      static_cast<SQLSMALLINT>(text.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
            text.assign(static_cast<std::size_t>(length) + 1, u'\0');
            rc = SQLGetDiagRecW(handle.Type(), handle.Get(), number, state, &native,
                                reinterpret_cast<SQLWCHAR*>(text.data()),
                                static_cast<SQLSMALLINT>(text.size()), &length);
        }
        if (!SQL_SUCCEEDED(rc))
            break;
        TDiagnosticRecord record;
        record.State = ToUtf8(reinterpret_cast<const char16_t*>(state), 5);
        record.Native = native;
        const std::string full =
            ToUtf8(text.data(), std::min<std::size_t>(static_cast<std::size_t>(length), text.size()));
        SplitDiagnosticText(full, record.Message, record.Source);
        for (const char c : full.substr(0, full.size() - record.Message.size()))
            record.Components += c == '[' ? 1 : 0;
        records.push_back(std::move(record));
    }
    return records;
}

// The failure the records describe, the most telling first. The numbers are FreeTDS's
// (20009 nothing at the address, 20013 unknown host), the Windows socket errors
// Microsoft's drivers pass on (10060 timed out, 10061 refused, 11001 no such host), and
// SQL Server's failed login (18456).
TDbFailure FailureOf(const std::vector<TDiagnosticRecord>& records)
{
    const auto any = [&](auto matches) { return std::any_of(records.begin(), records.end(), matches); };
    const auto timedOut = [](const TDiagnosticRecord& r) {
        return r.State == "HYT00" || r.State == "HYT01" || r.Native == 10060;
    };
    if (any(timedOut))
        return TDbFailure::NoAnswer;
    if (any([](const TDiagnosticRecord& r) { return r.Native == 20013 || r.Native == 11001; }))
        return TDbFailure::UnknownHost;
    if (any([](const TDiagnosticRecord& r) { return r.Native == 20009 || r.Native == 10061; }))
        return TDbFailure::Refused;
    if (any([](const TDiagnosticRecord& r) { return r.Native == 18456 || r.State == "28000"; }))
        return TDbFailure::LoginFailed;
    return TDbFailure::Other;
}

} // namespace

EDbError OdbcError(const TOdbcHandle& handle, const std::string& fallback)
{
    const std::vector<TDiagnosticRecord> records = DiagnosticRecords(handle);
    if (records.empty())
        return EDbError(fallback, "ODBC");
    // The deepest component wrote the most specific text; among equals, the one that
    // carries a server error number (a failed logon's 18456, not the driver's summary).
    const TDiagnosticRecord* best = &records.front();
    for (const TDiagnosticRecord& record : records) {
        const bool deeper = record.Components > best->Components;
        const bool numbered = record.Components == best->Components && best->Native == 0 && record.Native != 0;
        if (deeper || numbered)
            best = &record;
    }
    return EDbError(best->Message, best->Source, FailureOf(records));
}

bool IsDriverManagerFailure(const TOdbcHandle& handle)
{
    const std::vector<TDiagnosticRecord> records = DiagnosticRecords(handle);
    // unixODBC reports a driver it cannot load as "[unixODBC][Driver Manager]..." with
    // SQLSTATE 01000, not in the IM class the standard gives it.
    return !records.empty() &&
           std::all_of(records.begin(), records.end(), [](const TDiagnosticRecord& record) {
               return record.State.rfind("IM", 0) == 0 ||
                      record.Source.find("Driver Manager") != std::string::npos;
           });
}

void CheckOdbc(SQLRETURN rc, const TOdbcHandle& handle, const std::string& what)
{
    if (!SQL_SUCCEEDED(rc))
        throw OdbcError(handle, what);
}

std::u16string ToUtf16(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toStdU16String();
}

std::string ToUtf8(const char16_t* text, std::size_t length)
{
    return QString::fromUtf16(text, static_cast<qsizetype>(length)).toStdString();
}

std::size_t WriteUtf8(char* out, const char16_t* text, std::size_t length)
{
    char* to = out;
    std::size_t i = 0;
    for (;;) {
#if defined(__SSE2__)
        // The names a server holds are mostly ASCII: eight units at a time while they
        // are, each narrowed to its byte. (u - 1) is at most 0x7E only for 1 to 0x7F.
        while (i + 8 <= length) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
            const __m128i above =
                _mm_subs_epu16(_mm_sub_epi16(units, _mm_set1_epi16(1)), _mm_set1_epi16(0x7E));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(above, _mm_setzero_si128())) != 0xFFFF)
                break;
            _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm_packus_epi16(units, units));
            to += 8;
            i += 8;
        }
#endif
        if (i >= length)
            break;
        char32_t c = text[i++];
        if (c == 0)
            break;
        if (c < 0x80) {
            *to++ = static_cast<char>(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c <= 0xDBFF && i < length && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
                c = 0x10000 + ((c - 0xD800) << 10) + (char32_t{text[i++]} - 0xDC00);
            else
                c = 0xFFFD;
        }
        if (c < 0x800) {
            *to++ = static_cast<char>(0xC0 | (c >> 6));
            *to++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *to++ = static_cast<char>(0xE0 | (c >> 12));
            *to++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *to++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *to++ = static_cast<char>(0xF0 | (c >> 18));
            *to++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *to++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *to++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return static_cast<std::size_t>(to - out);
}

SQLSMALLINT ExecuteToFirstColumns(const TOdbcHandle& statement, const std::string& sql)
{
    std::u16string text = ToUtf16(sql);
    SQLRETURN rc = SQLExecDirectW(statement.Get(), reinterpret_cast<SQLWCHAR*>(text.data()),
                                  static_cast<SQLINTEGER>(text.size()));
    if (rc == SQL_NO_DATA)
        return 0;
    CheckOdbc(rc, statement, "The command could not be run.");
    for (;;) {
        SQLSMALLINT columns = 0;
        CheckOdbc(SQLNumResultCols(statement.Get(), &columns), statement, "The result could not be read.");
        if (columns > 0)
            return columns;
        rc = SQLMoreResults(statement.Get());
        if (rc == SQL_NO_DATA)
            return 0;
        CheckOdbc(rc, statement, "The command could not be run.");
    }
}

TOdbcColumn DescribeColumn(const TOdbcHandle& statement, SQLUSMALLINT column)
{
    char16_t name[256] = {};
    SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    CheckOdbc(SQLDescribeColW(statement.Get(), column, reinterpret_cast<SQLWCHAR*>(name),
                              static_cast<SQLSMALLINT>(std::size(name)), &nameLength, &sqlType, &size,
                              &digits, &nullable),
              statement, "The result could not be read.");
    TOdbcColumn described;
    described.Name =
        ToUtf8(name, std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)),
                                           std::size(name) - 1));
    std::transform(described.Name.begin(), described.Name.end(), described.Name.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    described.SqlType = sqlType;
    return described;
}

bool SameColumnName(std::string_view lowered, std::string_view asked)
{
    return lowered.size() == asked.size() &&
           std::equal(lowered.begin(), lowered.end(), asked.begin(), [](char lower, char given) {
               return lower == (given >= 'A' && given <= 'Z' ? static_cast<char>(given - 'A' + 'a') : given);
           });
}

bool IsTextType(SQLSMALLINT sqlType)
{
    switch (sqlType) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
        return true;
    default:
        return false;
    }
}

bool IsDateTimeType(SQLSMALLINT sqlType)
{
    return sqlType == SQL_TYPE_TIMESTAMP || sqlType == SQL_TYPE_DATE || sqlType == SQL_DATETIME;
}

double DaysSince18991230(const SQL_TIMESTAMP_STRUCT& timestamp)
{
    constexpr qint64 JulianDay18991230 = 2415019;
    const QDate date(timestamp.year, timestamp.month, timestamp.day);
    if (!date.isValid())
        throw EDbError("The server sent a date that does not exist.", "Torvane");
    const qint64 day = date.toJulianDay() - JulianDay18991230;
    const double seconds =
        timestamp.hour * 3600.0 + timestamp.minute * 60.0 + timestamp.second + timestamp.fraction / 1e9;
    return static_cast<double>(day) + seconds / 86400.0;
}

std::int64_t IntegerOfText(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return 0;
    const auto last = text.find_last_not_of(" \t");
    const char* begin = text.data() + first + (text[first] == '+' ? 1 : 0);
    const char* end = text.data() + last + 1;
    std::int64_t value = 0;
    const auto [ptr, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || ptr != end)
        throw EDbError("Conversion failed when converting the value '" + std::string(text) +
                           "' to an integer.",
                       "Torvane");
    return value;
}
