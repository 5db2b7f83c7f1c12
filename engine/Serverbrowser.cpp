#include "engine/Serverbrowser.h"

#include "engine/Dbconnectionstring.h"
#include "engine/Dbodbc.h"
#include "engine/Odbcdriver.h"

#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <utility>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::uint16_t BrowserPort = 1434;
constexpr std::uint8_t ClientBroadcastEx = 0x02;
constexpr std::uint8_t ServerResponse = 0x05;
// The browse call's answer: at most 15,998 bytes and two terminating zero bytes.
constexpr std::size_t BrowseBufferSize = 16000;
// How often a search waiting for answers looks whether it is to stop.
constexpr std::chrono::milliseconds StopCheckInterval{100};

bool SameText(const std::string& a, const std::string& b)
{
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

// Adds the names not listed yet (compared ignoring case, as seen holds them), keeping
// the order found. A flood of answers costs a lookup per name, not a pass over the list.
void AddNames(std::vector<std::string>& names, std::unordered_set<std::string>& seen,
              const std::vector<std::string>& found)
{
    for (const std::string& name : found) {
        if (seen.insert(QString::fromStdString(name).toCaseFolded().toStdString()).second)
            names.push_back(name);
    }
}

std::string TextOf(std::span<const std::uint8_t> bytes)
{
    const QByteArrayView view(reinterpret_cast<const char*>(bytes.data()),
                              static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(view);
    return (utf8.hasError() ? QString::fromLatin1(view) : text).toStdString();
}

std::vector<std::string> SplitFields(const std::string& text)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(';', start);
        fields.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

// The driver's browse call. Any failure (no driver, a driver without the call, no
// network) simply finds nothing.
std::vector<std::string> BrowseDriver(const std::string& driver)
{
    try {
        TOdbcHandle environment(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
        if (!SQL_SUCCEEDED(SQLSetEnvAttr(environment.Get(), SQL_ATTR_ODBC_VERSION,
                                         reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)))
            return {};
        TOdbcHandle connection(SQL_HANDLE_DBC, environment.Get());
        std::string request = "DRIVER=" + QuoteOdbcValue(driver, false);
        std::array<SQLCHAR, BrowseBufferSize> answer{};
        SQLSMALLINT length = 0;
        // One call with the whole buffer: it asks for what the driver needs to connect,
        // and the servers it can offer come back as "Server={...}".
        const SQLRETURN rc = SQLBrowseConnect(connection.Get(), reinterpret_cast<SQLCHAR*>(request.data()),
                                              static_cast<SQLSMALLINT>(request.size()), answer.data(),
                                              static_cast<SQLSMALLINT>(answer.size() - 1), &length);
        SQLDisconnect(connection.Get());
        if (rc < 0)
            return {};
        return ParseBrowseConnectAnswer(reinterpret_cast<const char*>(answer.data()));
    } catch (const EDbError&) {
        return {};
    }
}

class TUdpSocket
{
public:
    explicit TUdpSocket(int family) : FFd(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~TUdpSocket()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TUdpSocket(const TUdpSocket&) = delete;
    TUdpSocket& operator=(const TUdpSocket&) = delete;
    int Get() const { return FFd; }

private:
    const int FFd;
};

struct TTarget
{
    sockaddr_storage Address{};
    socklen_t Length = 0;
};

// "host:port", "[IPv6]:port", or a host alone for port 1434.
bool ResolveAddress(const std::string& text, TTarget& target, std::string& error)
{
    std::string host = text;
    std::string port = std::to_string(BrowserPort);
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || (close + 1 < text.size() && text[close + 1] != ':')) {
            error = "TORVANE_BROWSE_ADDRESS must be host:port, not '" + text + "'";
            return false;
        }
        host = text.substr(1, close - 1);
        if (close + 1 < text.size())
            port = text.substr(close + 2);
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        const std::size_t colon = text.find(':');
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    unsigned number = 0;
    const auto [end, failure] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (host.empty() || failure != std::errc() || end != port.data() + port.size() || number == 0 ||
        number > 65535) {
        error = "TORVANE_BROWSE_ADDRESS must be host:port, not '" + text + "'";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (const int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0) {
        error = "TORVANE_BROWSE_ADDRESS: " + host + ": " + ::gai_strerror(rc);
        return false;
    }
    std::memcpy(&target.Address, found->ai_addr, found->ai_addrlen);
    target.Length = found->ai_addrlen;
    ::freeaddrinfo(found);
    return true;
}

// The broadcast address of every local IPv4 network that has one, else the limited
// broadcast.
std::vector<TTarget> BroadcastTargets()
{
    std::vector<TTarget> targets;
    const auto add = [&](in_addr address) {
        TTarget target;
        auto* ipv4 = reinterpret_cast<sockaddr_in*>(&target.Address);
        ipv4->sin_family = AF_INET;
        ipv4->sin_port = htons(BrowserPort);
        ipv4->sin_addr = address;
        target.Length = sizeof(sockaddr_in);
        const bool known = std::any_of(targets.begin(), targets.end(), [&](const TTarget& t) {
            return reinterpret_cast<const sockaddr_in*>(&t.Address)->sin_addr.s_addr == address.s_addr;
        });
        if (!known)
            targets.push_back(target);
    };
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) == 0) {
        for (const ifaddrs* i = interfaces; i; i = i->ifa_next) {
            if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET && (i->ifa_flags & IFF_UP) &&
                (i->ifa_flags & IFF_BROADCAST) && i->ifa_broadaddr)
                add(reinterpret_cast<const sockaddr_in*>(i->ifa_broadaddr)->sin_addr);
        }
        ::freeifaddrs(interfaces);
    }
    if (targets.empty())
        add(in_addr{htonl(INADDR_BROADCAST)});
    return targets;
}

} // namespace

std::vector<std::string> ParseBrowseConnectAnswer(std::string_view answer)
{
    answer = answer.substr(0, answer.find('\0'));
    const std::size_t n = answer.size();
    if (n <= 15)
        return {};
    const std::size_t start = answer.find("Server={");
    if (start == std::string_view::npos || start > n - 15)
        return {};
    std::size_t p = start + 8;
    if (answer[p] == '}')
        return {};
    std::vector<std::string> names;
    while (p < n) {
        std::string name(1, answer[p++]);
        while (p < n && answer[p] != ',' && answer[p] != '}')
            name += answer[p++];
        names.push_back(std::move(name));
        if (p >= n || answer[p] == '}')
            break;
        ++p; // the comma
    }
    return names;
}

std::vector<std::string> ParseResolutionAnswer(std::span<const std::uint8_t> datagram)
{
    if (datagram.size() < 3 || datagram[0] != ServerResponse)
        return {};
    const std::size_t length = datagram[1] | (std::size_t{datagram[2]} << 8);
    if (datagram.size() != 3 + length)
        return {};
    const std::vector<std::string> fields = SplitFields(TextOf(datagram.subspan(3)));
    std::vector<std::string> names;
    // Records of key;value pairs, each ended by an empty field (";;").
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string server;
        std::string instance;
        for (; i < fields.size() && !fields[i].empty(); i += 2) {
            const std::string value = i + 1 < fields.size() ? fields[i + 1] : std::string();
            if (SameText(fields[i], "ServerName"))
                server = value;
            else if (SameText(fields[i], "InstanceName"))
                instance = value;
        }
        if (server.empty() || instance.empty())
            continue;
        names.push_back(SameText(instance, "MSSQLSERVER") ? server : server + '\\' + instance);
    }
    return names;
}

TServerBrowser::TOptions TServerBrowser::TOptions::FromEnvironment()
{
    TOptions options;
    options.Driver = ChosenOdbcDriver();
    if (const char* address = std::getenv("TORVANE_BROWSE_ADDRESS"))
        options.Address = address;
    return options;
}

TServerBrowser::TServerBrowser(TOptions options) : FOptions(std::move(options)) {}

TBrowseResult TServerBrowser::BrowseServers(std::stop_token stop) const
{
    TBrowseResult result;
    std::unordered_set<std::string> seen;
    if (!FOptions.Driver.empty())
        AddNames(result.Names, seen, BrowseDriver(FOptions.Driver));

    std::vector<TTarget> targets(1);
    if (FOptions.Address.empty())
        targets = BroadcastTargets();
    else if (!ResolveAddress(FOptions.Address, targets.front(), result.Error))
        return result;
    const TUdpSocket socket(targets.front().Address.ss_family);
    if (socket.Get() < 0) {
        result.Error = std::string("no socket for the server search: ") + std::strerror(errno);
        return result;
    }
    const int on = 1;
    ::setsockopt(socket.Get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // A network that cannot be reached answers nothing, as a quiet one does.
    for (const TTarget& target : targets)
        ::sendto(socket.Get(), &ClientBroadcastEx, 1, 0, reinterpret_cast<const sockaddr*>(&target.Address),
                 target.Length);

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + FOptions.CollectTime;
    std::vector<std::uint8_t> datagram(65536);
    while (!stop.stop_requested()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd waiting{socket.Get(), POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(std::min(left, StopCheckInterval).count())) <= 0)
            continue;
        const ssize_t size = ::recv(socket.Get(), datagram.data(), datagram.size(), MSG_TRUNC);
        if (size > 0 && static_cast<std::size_t>(size) <= datagram.size())
            AddNames(result.Names, seen,
                     ParseResolutionAnswer(std::span(datagram).first(static_cast<std::size_t>(size))));
    }
    return result;
}
