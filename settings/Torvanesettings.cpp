#include "settings/Torvanesettings.h"

#include "settings/Registryfiles.h"

using namespace TorvaneSettings;

namespace
{
// Readers over a hive loaded once, so that settings read together cost one look at the
// file: a key that is missing reads as one without values.
bool HiveBool(const TRegistryHive& hive, const char* key, const char* name)
{
    const TRegistryValue* value = hive.FindValue(QString::fromLatin1(key), QString::fromLatin1(name));
    return value && value->AsInteger().value_or(0) != 0;
}

std::optional<std::int32_t> HiveInteger(const TRegistryHive& hive, const char* key, const char* name)
{
    const TRegistryValue* value = hive.FindValue(QString::fromLatin1(key), QString::fromLatin1(name));
    return value ? value->AsInteger() : std::nullopt;
}

std::optional<QString> HiveString(const TRegistryHive& hive, const char* key, const char* name)
{
    const TRegistryValue* value = hive.FindValue(QString::fromLatin1(key), QString::fromLatin1(name));
    return value ? value->AsString() : std::nullopt;
}

TRegistryHive MachineHive(const TRegistryPaths& paths)
{
    return LoadHive(TRegistryRoot::LocalMachine, paths).Hive;
}

std::optional<TAlertRule> ReadAlertRule(const TRegistryHive& hive, const char* flag, const char* count,
                                        const char* threshold)
{
    if (!HiveBool(hive, RootKey, EmailAlerts) || !HiveBool(hive, AlertsKey, flag))
        return std::nullopt;
    const auto samples = HiveInteger(hive, AlertsKey, count);
    const auto limit = HiveInteger(hive, AlertsKey, threshold);
    if (!samples || !limit)
        return std::nullopt;
    return TAlertRule{*samples, *limit};
}

std::optional<TAlertRule> ReadCpuAlertRule(const TRegistryHive& hive)
{
    return ReadAlertRule(hive, CPUUsage, CPUUsageRefresh, CPUUsageValue);
}

std::optional<TAlertRule> ReadResponseAlertRule(const TRegistryHive& hive)
{
    return ReadAlertRule(hive, ServerResponse, ServerResponseRefresh, ServerResponseValue);
}

std::optional<TLogSettings> ReadLogSettings(const TRegistryHive& hive)
{
    if (!HiveBool(hive, RootKey, Logging))
        return std::nullopt;
    const std::optional<QString> directory = HiveString(hive, LoggingKey, LoggingDirectory);
    if (!directory)
        return std::nullopt;
    return TLogSettings{*directory,
                        HiveInteger(hive, LoggingKey, RefreshCount).value_or(DefaultLogRefreshCount)};
}
} // namespace

std::optional<std::int32_t> ReadRefreshInterval(const TRegistryPaths& paths)
{
    return HiveInteger(MachineHive(paths), RootKey, RefreshInterval);
}

bool ReadEmailAlertsEnabled(const TRegistryPaths& paths)
{
    return HiveBool(MachineHive(paths), RootKey, EmailAlerts);
}

bool ReadDisconnectAlertEnabled(const TRegistryPaths& paths)
{
    const TRegistryHive hive = MachineHive(paths);
    return HiveBool(hive, RootKey, EmailAlerts) && HiveBool(hive, AlertsKey, ServerDisconnect);
}

std::optional<TAlertRule> ReadCpuAlertRule(const TRegistryPaths& paths)
{
    return ReadCpuAlertRule(MachineHive(paths));
}

std::optional<TAlertRule> ReadResponseAlertRule(const TRegistryPaths& paths)
{
    return ReadResponseAlertRule(MachineHive(paths));
}

TRefreshSettings ReadRefreshSettings(const TRegistryPaths& paths)
{
    const TRegistryHive hive = MachineHive(paths);
    return {ReadCpuAlertRule(hive), ReadResponseAlertRule(hive), ReadLogSettings(hive)};
}

std::optional<TSmtpSettings> ReadSmtpSettings(const TRegistryPaths& paths)
{
    const TRegistryHive hive = MachineHive(paths);
    if (!HiveBool(hive, RootKey, EmailAlerts))
        return std::nullopt;
    const auto host = HiveString(hive, AlertsKey, SMTPHost);
    const auto sender = HiveString(hive, AlertsKey, SMTPSender);
    const auto recipient = HiveString(hive, AlertsKey, AlertEmails);
    if (!host || !sender || !recipient)
        return std::nullopt;
    return TSmtpSettings{*host, HiveString(hive, AlertsKey, SMTPUser).value_or(QString()), *sender, *recipient};
}

std::optional<TLogSettings> ReadLogSettings(const TRegistryPaths& paths)
{
    return ReadLogSettings(MachineHive(paths));
}

TConnectionSecurity ReadConnectionSecurity(const TRegistryPaths& paths)
{
    const TRegistryHive hive = MachineHive(paths);
    TConnectionSecurity security;
    if (const auto encrypt = HiveInteger(hive, RootKey, Encrypt); encrypt && *encrypt >= 0 && *encrypt <= 2)
        security.Encrypt = static_cast<EEncrypt>(*encrypt);
    if (hive.FindValue(QString::fromLatin1(RootKey), QString::fromLatin1(TrustServerCertificate)))
        security.TrustServerCertificate = HiveBool(hive, RootKey, TrustServerCertificate);
    security.CAFile = HiveString(hive, RootKey, CAFile).value_or(QString());
    return security;
}

std::optional<QString> SaveAllSettings(const TAllSettings& s, const TRegistryPaths& paths)
{
    const auto integer = [](const char* name, std::int32_t value) {
        return TRegistryValue::FromInteger(QString::fromLatin1(name), value);
    };
    const auto text = [](const char* name, const QString& value) {
        return TRegistryValue::FromString(QString::fromLatin1(name), value);
    };
    const std::pair<const char*, TRegistryValue> values[] = {
        {RootKey, integer(RefreshInterval, s.RefreshInterval)},
        {RootKey, integer(EmailAlerts, s.EmailAlerts)},
        {RootKey, integer(Logging, s.Logging)},
        {AlertsKey, integer(CPUUsage, s.CPUUsage)},
        {AlertsKey, integer(ServerDisconnect, s.ServerDisconnect)},
        {AlertsKey, integer(ServerResponse, s.ServerResponse)},
        {AlertsKey, integer(CPUUsageRefresh, s.CPUUsageRefresh)},
        {AlertsKey, integer(CPUUsageValue, s.CPUUsageValue)},
        {AlertsKey, integer(ServerResponseRefresh, s.ServerResponseRefresh)},
        {AlertsKey, integer(ServerResponseValue, s.ServerResponseValue)},
        {AlertsKey, text(AlertEmails, s.AlertEmails)},
        {AlertsKey, text(SMTPHost, s.SMTPHost)},
        {AlertsKey, text(SMTPUser, s.SMTPUser)},
        {AlertsKey, text(SMTPSender, s.SMTPSender)},
        {LoggingKey, text(LoggingDirectory, s.LoggingDirectory)},
        {LoggingKey, integer(RefreshCount, s.RefreshCount)},
    };
    const bool saved = UpdateHive(TRegistryRoot::LocalMachine, paths, [&](TRegistryHive& hive) {
        for (const auto& [key, value] : values)
            hive.SetValue(QString::fromLatin1(key), value);
        const QString root = QString::fromLatin1(RootKey);
        if (s.Security.Encrypt)
            hive.SetValue(root, integer(Encrypt, static_cast<std::int32_t>(*s.Security.Encrypt)));
        else
            hive.DeleteValue(root, QString::fromLatin1(Encrypt));
        if (s.Security.TrustServerCertificate)
            hive.SetValue(root, integer(TrustServerCertificate, *s.Security.TrustServerCertificate));
        else
            hive.DeleteValue(root, QString::fromLatin1(TrustServerCertificate));
        if (!s.Security.CAFile.isEmpty())
            hive.SetValue(root, text(CAFile, s.Security.CAFile));
        else
            hive.DeleteValue(root, QString::fromLatin1(CAFile));
    });
    if (!saved)
        return std::nullopt;
    return paths.ReadPath(TRegistryRoot::LocalMachine);
}
