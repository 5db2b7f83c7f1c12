#include "engine/Dbaccess.h"

#include "engine/Dbconnectionstring.h"
#include "engine/Dbodbc.h"
#include "engine/Freetdsconfig.h"
#include "engine/Tlsprobe.h"

#include <QDate>
#include <QDateTime>
#include <QDebug>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {
// The longest wait of each step of the check that explains a failed connection.
constexpr int ProbeSeconds = 5;
} // namespace

const char* const ConnectionStringTooLong =
    "The server name, login or password is too long: the connection string for the ODBC driver "
    "holds at most 32767 characters.";

TDbTimeouts TDbTimeouts::FromEnvironment()
{
    TDbTimeouts timeouts;
    const auto read = [](const char* name, int& seconds) {
        const char* value = std::getenv(name);
        if (!value || *value == '\0')
            return;
        int parsed = 0;
        const char* end = value + std::char_traits<char>::length(value);
        const auto [ptr, error] = std::from_chars(value, end, parsed);
        if (error == std::errc() && ptr == end && parsed >= MinTimeoutSeconds &&
            parsed <= MaxTimeoutSeconds) {
            seconds = parsed;
            return;
        }
        // A mistyped value must not pass unnoticed, nor wait for ever or overflow.
        qWarning().noquote() << QStringLiteral(
                                    "%1=%2 is refused: it takes a whole number of seconds from %3 to %4. "
                                    "%5 seconds are used.")
                                    .arg(QString::fromLatin1(name), QString::fromLocal8Bit(value))
                                    .arg(MinTimeoutSeconds)
                                    .arg(MaxTimeoutSeconds)
                                    .arg(seconds);
    };
    read("TORVANE_LOGIN_TIMEOUT", timeouts.LoginSeconds);
    read("TORVANE_QUERY_TIMEOUT", timeouts.QuerySeconds);
    return timeouts;
}

struct TDbConnection::Impl
{
    std::recursive_mutex Lock;
    std::string ConnectionString;
    std::string Driver = DefaultOdbcDriver;
    TDbTimeouts Timeouts = TDbTimeouts::FromEnvironment();
    int PacketSize = 0;
    TConnectionSecurity Security;
    TOdbcHandle Environment;
    TOdbcHandle Connection; // allocated and connected while open
    std::atomic<bool> Open = false;

    bool FreeTds() const { return IsFreeTdsDriver(Driver); }

    void Disconnect()
    {
        Open = false;
        if (Connection) {
            SQLDisconnect(Connection.Get());
            Connection.Reset();
        }
    }
};

TDbConnection::TDbConnection()
    : d(std::make_unique<Impl>())
{
}

TDbConnection::~TDbConnection()
{
    Close();
}

void TDbConnection::SetConnectionString(const std::string& connectionString)
{
    const std::lock_guard guard(d->Lock);
    d->ConnectionString = connectionString;
}

const std::string& TDbConnection::ConnectionString() const
{
    return d->ConnectionString;
}

void TDbConnection::SetDriver(const std::string& driver)
{
    const std::lock_guard guard(d->Lock);
    d->Driver = driver.empty() ? std::string(DefaultOdbcDriver) : driver;
}

const std::string& TDbConnection::Driver() const
{
    return d->Driver;
}

void TDbConnection::SetSecurity(const TConnectionSecurity& security)
{
    const std::lock_guard guard(d->Lock);
    d->Security = security;
}

void TDbConnection::SetTimeouts(const TDbTimeouts& timeouts)
{
    const std::lock_guard guard(d->Lock);
    d->Timeouts = timeouts;
}

TDbTimeouts TDbConnection::Timeouts() const
{
    const std::lock_guard guard(d->Lock);
    return d->Timeouts;
}

void TDbConnection::SetPacketSize(int bytes)
{
    const std::lock_guard guard(d->Lock);
    d->PacketSize = bytes;
}

int TDbConnection::PacketSize() const
{
    const std::lock_guard guard(d->Lock);
    if (!d->Open || !d->Connection)
        return 0;
    SQLUINTEGER bytes = 0;
    if (!SQL_SUCCEEDED(
            SQLGetConnectAttr(d->Connection.Get(), SQL_ATTR_PACKET_SIZE, &bytes, sizeof bytes, nullptr)))
        return 0;
    return static_cast<int>(bytes);
}

void TDbConnection::Open()
{
    const std::lock_guard guard(d->Lock);
    d->Disconnect();
    if (!d->Environment) {
        TOdbcHandle environment(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
        CheckOdbc(SQLSetEnvAttr(environment.Get(), SQL_ATTR_ODBC_VERSION,
                                reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
                  environment, "The ODBC driver manager does not support ODBC 3.");
        d->Environment = std::move(environment);
    }
    TOdbcHandle connection(SQL_HANDLE_DBC, d->Environment.Get());
    CheckOdbc(SQLSetConnectAttr(connection.Get(), SQL_ATTR_LOGIN_TIMEOUT,
                                reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(d->Timeouts.LoginSeconds)), 0),
              connection, "The login time-out could not be set.");
    // FreeTDS takes the size from its connection string only (it accepts the attribute
    // and ignores it); other drivers take the attribute, and one that refuses it keeps
    // its own size, which is no reason to fail the connection.
    if (d->PacketSize != 0 && !d->FreeTds())
        SQLSetConnectAttr(connection.Get(), SQL_ATTR_PACKET_SIZE,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(d->PacketSize)), 0);
    const TDriverSecurity security = DriverSecurity(d->Security, d->Driver);
    const TServerAddress address = ServerAddressOf(d->ConnectionString);
    std::string section;
    if (!security.FreeTdsCaFile.empty()) {
        // FreeTDS takes the CA file only from a freetds.conf section, so the server's
        // section there names the host too.
        section = FreeTdsSectionName(address.Host, address.Instance, address.Port);
        std::vector<std::pair<std::string, std::string>> lines = {{"host", address.Host}};
        if (!address.Port.empty())
            lines.emplace_back("port", address.Port);
        else if (!address.Instance.empty())
            lines.emplace_back("instance", address.Instance);
        lines.emplace_back("ca file", security.FreeTdsCaFile);
        WriteFreeTdsSection(section, lines);
    }
    std::u16string attributes =
        ToUtf16(TranslateConnectionString(d->ConnectionString, d->Driver, security, section, d->PacketSize));
    // The call takes the length as a 16-bit count: a longer string would be refused by
    // the driver or, past 65,535, cut (a long wrong password that begins with the right
    // one would then log on). It is refused here instead, whole.
    if (attributes.size() > static_cast<std::size_t>(std::numeric_limits<SQLSMALLINT>::max()))
        throw EDbError(ConnectionStringTooLong, "Torvane");
    SQLWCHAR completed[1024];
    SQLSMALLINT completedLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(
        connection.Get(), nullptr, reinterpret_cast<SQLWCHAR*>(attributes.data()),
        static_cast<SQLSMALLINT>(attributes.size()), completed,
        static_cast<SQLSMALLINT>(std::size(completed)), &completedLength, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        const EDbError error = OdbcError(connection, "The connection to the server could not be opened.");
        if (IsDriverManagerFailure(connection))
            throw error;
        const std::string explanation = ExplainTlsFailure(address, security, d->FreeTds(),
                                                          std::min(d->Timeouts.LoginSeconds, ProbeSeconds));
        if (explanation.empty())
            throw error;
        throw EDbError(error.Message + "\n\n" + explanation, error.Source);
    }
    d->Connection = std::move(connection);
    d->Open = true;
}

bool TDbConnection::IsOpen() const
{
    return d->Open;
}

void TDbConnection::Close()
{
    const std::lock_guard guard(d->Lock);
    d->Disconnect();
}

std::recursive_mutex& TDbConnection::RequestLock()
{
    return d->Lock;
}

TOdbcHandle NewStatement(TDbConnection& connection)
{
    TDbConnection::Impl& impl = *connection.d;
    if (!impl.Open || !impl.Connection)
        throw EDbError("Operation is not allowed when the object is closed.", "Torvane");
    TOdbcHandle statement(SQL_HANDLE_STMT, impl.Connection.Get());
    // FreeTDS waits one time-out for the answer, then sends a cancel and waits another
    // for its acknowledgement; a server that stops answering is given up after both.
    const int queryTimeout =
        impl.FreeTds() ? (impl.Timeouts.QuerySeconds + 1) / 2 : impl.Timeouts.QuerySeconds;
    CheckOdbc(SQLSetStmtAttr(statement.Get(), SQL_ATTR_QUERY_TIMEOUT,
                             reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(queryTimeout)), 0),
              statement, "The query time-out could not be set.");
    return statement;
}

namespace {

constexpr qint64 JulianDay18991230 = 2415019;

enum class ECellKind { Null, Integer, Real, Text, DateTime };

struct TCell
{
    ECellKind Kind = ECellKind::Null;
    std::int64_t Integer = 0;
    double Real = 0; // a float or a date-time in days since 1899-12-30
    std::string Text;
};

ECellKind KindOfColumn(SQLSMALLINT sqlType)
{
    switch (sqlType) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return ECellKind::Integer;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        return ECellKind::Real;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_DATETIME:
        return ECellKind::DateTime;
    default:
        return ECellKind::Text;
    }
}

TCell ReadCell(const TOdbcHandle& statement, SQLUSMALLINT column, ECellKind kind)
{
    TCell cell;
    SQLLEN indicator = 0;
    switch (kind) {
    case ECellKind::Integer: {
        SQLBIGINT value = 0;
        CheckOdbc(SQLGetData(statement.Get(), column, SQL_C_SBIGINT, &value, sizeof value, &indicator),
                  statement, "A column could not be read.");
        cell.Integer = value;
        break;
    }
    case ECellKind::Real: {
        double value = 0;
        CheckOdbc(SQLGetData(statement.Get(), column, SQL_C_DOUBLE, &value, sizeof value, &indicator),
                  statement, "A column could not be read.");
        cell.Real = value;
        break;
    }
    case ECellKind::DateTime: {
        SQL_TIMESTAMP_STRUCT value{};
        CheckOdbc(SQLGetData(statement.Get(), column, SQL_C_TYPE_TIMESTAMP, &value, sizeof value, &indicator),
                  statement, "A column could not be read.");
        if (indicator != SQL_NULL_DATA)
            cell.Real = DaysSince18991230(value);
        break;
    }
    case ECellKind::Text:
    case ECellKind::Null: {
        // Wide characters reach every driver's text unchanged; long values come in pieces.
        std::u16string text;
        char16_t chunk[2048];
        for (;;) {
            const SQLRETURN rc = SQLGetData(statement.Get(), column, SQL_C_WCHAR, chunk, sizeof chunk, &indicator);
            if (rc == SQL_NO_DATA)
                break;
            CheckOdbc(rc, statement, "A column could not be read.");
            if (indicator == SQL_NULL_DATA)
                break;
            const std::size_t room = std::size(chunk) - 1;
            const std::size_t got = indicator == SQL_NO_TOTAL
                ? room
                : std::min(room, static_cast<std::size_t>(indicator) / sizeof(char16_t));
            text.append(chunk, got);
            if (rc == SQL_SUCCESS)
                break;
        }
        cell.Text = ToUtf8(text.data(), text.size());
        kind = ECellKind::Text;
        break;
    }
    }
    cell.Kind = indicator == SQL_NULL_DATA ? ECellKind::Null : kind;
    return cell;
}

} // namespace

struct TDbQuery::Impl
{
    TDbConnection& Connection;
    std::string CommandText;
    bool Open = false;
    std::vector<std::string> ColumnNames; // lower case
    std::vector<std::vector<TCell>> Rows;
    std::size_t Current = 0;

    explicit Impl(TDbConnection& connection) : Connection(connection) {}

    const TCell& Cell(const std::string& column) const
    {
        if (!Open || Current >= Rows.size())
            throw EDbError("Either BOF or EOF is True, or the current record has been deleted.", "Torvane");
        const auto found =
            std::find_if(ColumnNames.begin(), ColumnNames.end(),
                         [&column](const std::string& name) { return SameColumnName(name, column); });
        if (found == ColumnNames.end())
            throw EDbError("Item cannot be found in the collection corresponding to the requested name: " + column,
                           "Torvane");
        return Rows[Current][static_cast<std::size_t>(found - ColumnNames.begin())];
    }

    void Run(const TOdbcHandle& statement)
    {
        const SQLSMALLINT columns = ExecuteToFirstColumns(statement, CommandText);
        if (columns == 0)
            return;
        std::vector<ECellKind> kinds;
        for (SQLUSMALLINT column = 1; column <= columns; ++column) {
            TOdbcColumn described = DescribeColumn(statement, column);
            ColumnNames.push_back(std::move(described.Name));
            kinds.push_back(KindOfColumn(described.SqlType));
        }
        SQLRETURN rc;
        while ((rc = SQLFetch(statement.Get())) != SQL_NO_DATA) {
            CheckOdbc(rc, statement, "The result could not be read.");
            std::vector<TCell> row;
            row.reserve(kinds.size());
            for (SQLUSMALLINT column = 1; column <= columns; ++column)
                row.push_back(ReadCell(statement, column, kinds[column - 1]));
            Rows.push_back(std::move(row));
        }
    }
};

TDbQuery::TDbQuery(TDbConnection& connection)
    : d(std::make_unique<Impl>(connection))
{
}

TDbQuery::~TDbQuery() = default;

void TDbQuery::SetCommandText(const std::string& sql)
{
    d->CommandText = sql;
}

const std::string& TDbQuery::CommandText() const
{
    return d->CommandText;
}

void TDbQuery::Open()
{
    Close();
    const std::lock_guard guard(d->Connection.RequestLock());
    // The statement handle goes before the lock does, which also discards whatever
    // the batch sends after the first result set.
    const TOdbcHandle statement = NewStatement(d->Connection);
    try {
        d->Run(statement);
    } catch (...) {
        d->ColumnNames.clear();
        d->Rows.clear();
        throw;
    }
    d->Open = true;
    d->Current = 0;
}

void TDbQuery::Close()
{
    d->Open = false;
    d->ColumnNames.clear();
    d->Rows.clear();
    d->Current = 0;
}

bool TDbQuery::IsOpen() const
{
    return d->Open;
}

bool TDbQuery::Eof() const
{
    return !d->Open || d->Current >= d->Rows.size();
}

void TDbQuery::Next()
{
    if (!Eof())
        ++d->Current;
}

int TDbQuery::RecordCount() const
{
    return static_cast<int>(d->Rows.size());
}

bool TDbQuery::IsNull(const std::string& column) const
{
    return d->Cell(column).Kind == ECellKind::Null;
}

std::int32_t TDbQuery::AsInteger(const std::string& column) const
{
    return static_cast<std::int32_t>(AsLargeInt(column));
}

std::int64_t TDbQuery::AsLargeInt(const std::string& column) const
{
    const TCell& cell = d->Cell(column);
    switch (cell.Kind) {
    case ECellKind::Null:
        return 0;
    case ECellKind::Integer:
        return cell.Integer;
    case ECellKind::Real:
    case ECellKind::DateTime:
        return static_cast<std::int64_t>(std::trunc(cell.Real));
    case ECellKind::Text:
        break;
    }
    return IntegerOfText(cell.Text);
}

std::string TDbQuery::AsString(const std::string& column) const
{
    const TCell& cell = d->Cell(column);
    switch (cell.Kind) {
    case ECellKind::Null:
        return {};
    case ECellKind::Integer:
        return std::to_string(cell.Integer);
    case ECellKind::Real:
        return QString::number(cell.Real, 'g', 15).toStdString();
    case ECellKind::DateTime:
        return QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC)
            .addMSecs(static_cast<qint64>(std::llround(cell.Real * 86400000.0)))
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
            .toStdString();
    case ECellKind::Text:
        break;
    }
    return cell.Text;
}

double TDbQuery::AsDateTime(const std::string& column) const
{
    const TCell& cell = d->Cell(column);
    switch (cell.Kind) {
    case ECellKind::Null:
        return 0;
    case ECellKind::Integer:
        return static_cast<double>(cell.Integer);
    case ECellKind::Real:
    case ECellKind::DateTime:
        return cell.Real;
    case ECellKind::Text:
        break;
    }
    const QDateTime parsed = QDateTime::fromString(QString::fromStdString(cell.Text).trimmed(), Qt::ISODateWithMs);
    if (!parsed.isValid())
        throw EDbError("Conversion failed when converting the value '" + cell.Text + "' to a date-time.", "Torvane");
    return static_cast<double>(parsed.date().toJulianDay() - JulianDay18991230)
        + parsed.time().msecsSinceStartOfDay() / 86400000.0;
}
