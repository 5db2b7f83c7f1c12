#pragma once
// The program's settings under HKEY_LOCAL_MACHINE and the readers the monitoring, the
// alerts and the main window use. Every reader opens the store when it is called and
// keeps nothing, so a change saved by the properties dialog counts from the next refresh.
// A key or value that is missing gives the default, which switches alerts and logging off.

#include "settings/Registryfiles.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace TorvaneSettings
{
// Key paths relative to HKEY_LOCAL_MACHINE.
inline constexpr const char* RootKey = "\\SOFTWARE\\Velquin\\Torvane";
inline constexpr const char* AlertsKey = "\\SOFTWARE\\Velquin\\Torvane\\Alerts";
inline constexpr const char* LoggingKey = "\\SOFTWARE\\Velquin\\Torvane\\Logging";

// In RootKey.
inline constexpr const char* RefreshInterval = "RefreshInterval";
inline constexpr const char* EmailAlerts = "EmailAlerts";
inline constexpr const char* Logging = "Logging";
// Also in RootKey: how every connection to a server is secured. A missing value leaves
// the choice to the ODBC driver.
inline constexpr const char* Encrypt = "Encrypt";                               // integer, EEncrypt
inline constexpr const char* TrustServerCertificate = "TrustServerCertificate"; // boolean
inline constexpr const char* CAFile = "CAFile";                                 // string, a PEM file
// Also in RootKey: the TDS packet size connections ask for (integer, bytes; 0 leaves it
// to the driver). Read by the engine, which checks it.
inline constexpr const char* PacketSize = "PacketSize";
// In AlertsKey.
inline constexpr const char* CPUUsage = "CPUUsage";
inline constexpr const char* ServerDisconnect = "ServerDisconnect";
inline constexpr const char* ServerResponse = "ServerResponse";
inline constexpr const char* CPUUsageRefresh = "CPUUsageRefresh";
inline constexpr const char* CPUUsageValue = "CPUUsageValue";
inline constexpr const char* ServerResponseRefresh = "ServerResponseRefresh";
inline constexpr const char* ServerResponseValue = "ServerResponseValue";
inline constexpr const char* AlertEmails = "AlertEmails";
inline constexpr const char* SMTPHost = "SMTPHost";
inline constexpr const char* SMTPUser = "SMTPUser";
inline constexpr const char* SMTPSender = "SMTPSender";
// In LoggingKey.
inline constexpr const char* LoggingDirectory = "LoggingDirectory";
inline constexpr const char* RefreshCount = "RefreshCount";

// What the properties dialog shows for missing values.
inline constexpr std::int32_t DefaultRefreshInterval = 1;
inline constexpr std::int32_t DefaultAlertRefreshes = 5;
inline constexpr std::int32_t DefaultCpuUsageValue = 98;
inline constexpr std::int32_t DefaultServerResponseValue = 500;
inline constexpr std::int32_t DefaultLogRefreshCount = 1;
} // namespace TorvaneSettings

// The saved interval in seconds; empty when none is saved (the caller keeps its own).
std::optional<std::int32_t> ReadRefreshInterval(
    const TRegistryPaths& paths = TRegistryPaths::FromEnvironment());

// "EmailAlerts" present and true.
bool ReadEmailAlertsEnabled(const TRegistryPaths& paths = TRegistryPaths::FromEnvironment());

// "EmailAlerts" and "ServerDisconnect" both present and true: disconnect alerts are mailed.
bool ReadDisconnectAlertEnabled(const TRegistryPaths& paths = TRegistryPaths::FromEnvironment());

// An alert condition: the newest SampleCount samples must each reach Threshold.
struct TAlertRule
{
    std::int32_t SampleCount = 0;
    std::int32_t Threshold = 0;
};
// Empty unless e-mail alerts and the alert's own switch are on and both of its numbers
// are saved: a switch saved without its numbers (a save the dialog stopped half-way)
// raises no alert.
std::optional<TAlertRule> ReadCpuAlertRule(
    const TRegistryPaths& paths = TRegistryPaths::FromEnvironment());
std::optional<TAlertRule> ReadResponseAlertRule(
    const TRegistryPaths& paths = TRegistryPaths::FromEnvironment());

struct TSmtpSettings
{
    QString Host;
    QString UserId;      // empty when not saved
    QString Sender;
    QString Recipient;   // "AlertEmails"
};
// Empty unless e-mail alerts are on and "SMTPHost", "SMTPSender" and "AlertEmails" all
// exist (empty strings count as existing).
std::optional<TSmtpSettings> ReadSmtpSettings(
    const TRegistryPaths& paths = TRegistryPaths::FromEnvironment());

struct TLogSettings
{
    QString Directory;
    std::int32_t RefreshCount = TorvaneSettings::DefaultLogRefreshCount;
};
// Empty unless "Logging" is present and true and "LoggingDirectory" exists.
std::optional<TLogSettings> ReadLogSettings(const TRegistryPaths& paths = TRegistryPaths::FromEnvironment());

// What a refresh consults once its sample is taken: both alert rules and the log
// settings, as the three readers above give them, from one reading of the store.
struct TRefreshSettings
{
    std::optional<TAlertRule> CpuAlert;
    std::optional<TAlertRule> ResponseAlert;
    std::optional<TLogSettings> Log;
};
TRefreshSettings ReadRefreshSettings(const TRegistryPaths& paths = TRegistryPaths::FromEnvironment());

// Whether connections are encrypted, as the "Encrypt" integer stores it.
enum class EEncrypt : std::int32_t
{
    Off = 0,
    WhenOffered = 1, // when the server can
    Required = 2,
};

// The connection security settings; empty and empty text leave the choice to the driver.
struct TConnectionSecurity
{
    std::optional<EEncrypt> Encrypt;
    std::optional<bool> TrustServerCertificate;
    QString CAFile;
    bool operator==(const TConnectionSecurity&) const = default;
};
// The machine hive's values; an "Encrypt" outside 0 to 2 counts as missing.
TConnectionSecurity ReadConnectionSecurity(const TRegistryPaths& paths = TRegistryPaths::FromEnvironment());

// Every value the properties dialog shows and saves.
struct TAllSettings
{
    std::int32_t RefreshInterval = TorvaneSettings::DefaultRefreshInterval;
    bool EmailAlerts = false;
    bool Logging = false;
    bool CPUUsage = false;
    bool ServerDisconnect = false;
    bool ServerResponse = false;
    std::int32_t CPUUsageRefresh = TorvaneSettings::DefaultAlertRefreshes;
    std::int32_t CPUUsageValue = TorvaneSettings::DefaultCpuUsageValue;
    std::int32_t ServerResponseRefresh = TorvaneSettings::DefaultAlertRefreshes;
    std::int32_t ServerResponseValue = TorvaneSettings::DefaultServerResponseValue;
    QString AlertEmails;
    QString SMTPHost;
    QString SMTPUser;
    QString SMTPSender;
    QString LoggingDirectory;
    std::int32_t RefreshCount = TorvaneSettings::DefaultLogRefreshCount;
    TConnectionSecurity Security; // what is left to the driver is removed from the store
};

// Writes every value in one change of the machine hive, so the store holds all of them
// or, when it cannot be written, none. The file written, or empty when nothing could be
// (the reason is on standard error). A user who cannot write the shared file gets the
// per-user copy (see settings/Registryfiles.h), which the returned path then names.
std::optional<QString> SaveAllSettings(const TAllSettings& settings,
                                       const TRegistryPaths& paths = TRegistryPaths::FromEnvironment());
