#include "engine/Dbodbc.h"

#include <QString>

#include <utility>
#include <vector>

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
    return EDbError(best->Message, best->Source);
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
