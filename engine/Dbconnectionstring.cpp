#include "engine/Dbconnectionstring.h"

#include "engine/Dbaccess.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string Lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Keyword(const TConnectionKeywords& keywords, const std::string& name)
{
    const std::string wanted = Lowered(name);
    for (const auto& [key, value] : keywords)
        if (Lowered(key) == wanted)
            return value;
    return {};
}

bool HasKeyword(const TConnectionKeywords& keywords, const std::string& name)
{
    const std::string wanted = Lowered(name);
    return std::any_of(keywords.begin(), keywords.end(),
                       [&](const auto& pair) { return Lowered(pair.first) == wanted; });
}

} // namespace

std::string QuoteOleDbValue(const std::string& value)
{
    const bool plain = value.find_first_of(";'\"") == std::string::npos && Trimmed(value) == value;
    if (plain)
        return value;
    std::string quoted = "\"";
    for (const char c : value) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + '"';
}

TConnectionKeywords ParseOleDbConnectionString(const std::string& text)
{
    TConnectionKeywords keywords;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto equals = text.find('=', pos);
        if (equals == std::string::npos)
            break;
        const std::string key = Trimmed(text.substr(pos, equals - pos));
        pos = equals + 1;
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        std::string value;
        if (pos < text.size() && (text[pos] == '"' || text[pos] == '\'')) {
            const char quote = text[pos++];
            while (pos < text.size()) {
                if (text[pos] == quote) {
                    if (pos + 1 < text.size() && text[pos + 1] == quote) {
                        value += quote;
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                value += text[pos++];
            }
            const auto end = text.find(';', pos);
            pos = end == std::string::npos ? text.size() : end + 1;
        } else {
            const auto end = text.find(';', pos);
            value = Trimmed(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
            pos = end == std::string::npos ? text.size() : end + 1;
        }
        if (!key.empty())
            keywords.emplace_back(key, value);
    }
    return keywords;
}

std::string QuoteOdbcValue(const std::string& value, bool freeTds)
{
    if (freeTds) {
        // FreeTDS (1.3, as Debian 12 ships it) reads a plain value up to the next ";"
        // and a braced one up to the first "};", taking "}}" literally.
        if (value.find(';') == std::string::npos && (value.empty() || value.front() != '{'))
            return value;
        if (value.find("};") != std::string::npos)
            throw EDbError("A value containing \"};\" cannot be given to the FreeTDS driver.", "Torvane");
        return '{' + value + '}';
    }
    const bool plain = value.find_first_of(";{}=[]()',!@ \t\"") == std::string::npos;
    if (plain)
        return value;
    std::string quoted = "{";
    for (const char c : value) {
        quoted += c;
        if (c == '}')
            quoted += '}';
    }
    return quoted + '}';
}

TServerAddress ParseServerName(const std::string& serverName)
{
    TServerAddress address;
    std::string rest = Trimmed(serverName);
    // A leading "tcp:" names the protocol SQL Server clients accept; TCP is all we speak.
    if (Lowered(rest.substr(0, 4)) == "tcp:")
        rest = rest.substr(4);
    if (const auto comma = rest.rfind(','); comma != std::string::npos) {
        address.Port = Trimmed(rest.substr(comma + 1));
        rest = Trimmed(rest.substr(0, comma));
    }
    if (const auto backslash = rest.find('\\'); backslash != std::string::npos) {
        address.Instance = rest.substr(backslash + 1);
        rest = rest.substr(0, backslash);
    }
    if (rest.size() >= 2 && rest.front() == '[' && rest.back() == ']')
        rest = rest.substr(1, rest.size() - 2);
    // "." and "(local)" are how Windows users name the server on their own machine.
    if (rest == "." || Lowered(rest) == "(local)")
        rest = "localhost";
    address.Host = rest;
    return address;
}

TServerAddress ServerAddressOf(const std::string& oleDbConnectionString)
{
    return ParseServerName(Keyword(ParseOleDbConnectionString(oleDbConnectionString), "Data Source"));
}

bool IsFreeTdsDriver(const std::string& driver)
{
    return Lowered(driver) == "freetds";
}

std::string TranslateConnectionString(const std::string& oleDbConnectionString, const std::string& driver,
                                      const TDriverSecurity& driverSecurity,
                                      const std::string& freeTdsSection, int packetSize)
{
    const TConnectionKeywords keywords = ParseOleDbConnectionString(oleDbConnectionString);
    const std::string security = Lowered(Keyword(keywords, "Integrated Security"));
    const bool integrated = security == "sspi" || security == "true" || security == "yes";
    const bool freeTds = IsFreeTdsDriver(driver);
    const std::string dataSource = Keyword(keywords, "Data Source");

    std::string odbc = "Driver=" + QuoteOdbcValue(driver, false);
    const auto add = [&odbc, freeTds](const std::string& name, const std::string& value) {
        odbc += ';' + name + '=' + QuoteOdbcValue(value, freeTds);
    };
    if (freeTds && !freeTdsSection.empty()) {
        add("ServerName", freeTdsSection);
    } else if (freeTds) {
        const TServerAddress address = ParseServerName(dataSource);
        add("Server", address.Instance.empty() ? address.Host : address.Host + '\\' + address.Instance);
        if (!address.Port.empty())
            add("Port", address.Port);
    } else {
        add("Server", dataSource);
    }
    if (integrated) {
        add("Trusted_Connection", "Yes");
    } else {
        add("UID", Keyword(keywords, "User ID"));
        add("PWD", Keyword(keywords, "Password"));
    }
    if (HasKeyword(keywords, "Initial Catalog"))
        add("Database", Keyword(keywords, "Initial Catalog"));
    if (HasKeyword(keywords, "Application Name"))
        add("APP", Keyword(keywords, "Application Name"));
    if (freeTds) {
        add("TDS_Version", "7.4");
        add("ClientCharset", "UTF-8");
        if (packetSize != 0)
            add("PacketSize", std::to_string(packetSize));
    }
    for (const auto& [name, value] : driverSecurity.Attributes)
        add(name, value);
    return odbc;
}
