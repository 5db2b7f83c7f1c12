#pragma once
// Connection strings. The monitor builds the OLE DB form ("Key=Value;Key=Value");
// the access layer turns it into the attribute string an ODBC driver takes.

#include "engine/Connectionsecurity.h"

#include <string>
#include <utility>
#include <vector>

// The driver used when neither the environment (TORVANE_ODBC_DRIVER) nor the settings
// store names one.
inline constexpr const char* DefaultOdbcDriver = "FreeTDS";

using TConnectionKeywords = std::vector<std::pair<std::string, std::string>>;

// An OLE DB value as it must be written so that the string still parses back to it:
// unchanged when it is plain, else in double quotes with inner double quotes doubled.
std::string QuoteOleDbValue(const std::string& value);

// The keywords of an OLE DB connection string in order, quoted values unquoted.
TConnectionKeywords ParseOleDbConnectionString(const std::string& text);

// An ODBC attribute value as the driver's parser reads it back: in braces when it holds
// anything the parser would stop at, "}" doubled for the standard parser. FreeTDS reads
// braces its own way; a value it cannot take (one holding "};") throws EDbError.
std::string QuoteOdbcValue(const std::string& value, bool freeTds);

// A server name as SQL Server users type it: "host", "host\instance", "host,port",
// an IPv4 address, an IPv6 address with or without brackets.
struct TServerAddress
{
    std::string Host;
    std::string Instance;
    std::string Port; // decimal, empty = the default or the instance's port
};
TServerAddress ParseServerName(const std::string& serverName);
// The server named by the "Data Source" of an OLE DB connection string.
TServerAddress ServerAddressOf(const std::string& oleDbConnectionString);

// True for the FreeTDS driver, which TranslateConnectionString tells to send every text
// as UTF-8 (ClientCharset=UTF-8); other drivers convert texts to the process's locale.
bool IsFreeTdsDriver(const std::string& driver);

// The ODBC connection string for the named driver. FreeTDS gets its own attribute names
// (host and port apart, TDS 7.4, UTF-8 client character set); any other driver gets the
// names of Microsoft's SQL Server drivers. The security's attributes follow. With a
// freeTdsSection, FreeTDS is sent to that section of its freetds.conf for the server
// (which names host, port and CA file) instead of being given host and port. A
// packetSize other than 0 is FreeTDS's PacketSize (other drivers take it as a connection
// attribute instead). Throws EDbError for a value the driver cannot take.
std::string TranslateConnectionString(const std::string& oleDbConnectionString, const std::string& driver,
                                      const TDriverSecurity& security = {},
                                      const std::string& freeTdsSection = {}, int packetSize = 0);
