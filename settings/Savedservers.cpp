#include "settings/Savedservers.h"

#include "settings/Registryhive.h"

#include <QStringDecoder>

namespace {
QString Latin1(const char* text)
{
    return QString::fromLatin1(text);
}

QString ServerKeyPath(const QString& server)
{
    return Latin1(TSavedServers::ServersKey) + server;
}

QString ListKeyPath()
{
    return Latin1(TSavedServers::ServersKey) + Latin1(TSavedServers::ListOfServersKey);
}
} // namespace

TSavedServers::TSavedServers(TRegistryPaths paths) : FPaths(std::move(paths)) {}

QStringList TSavedServers::ListOfServers() const
{
    QStringList names = LoadHive(TRegistryRoot::CurrentUser, FPaths).Hive.ValueNames(ListKeyPath());
    names.removeAll(QString());
    return names;
}

std::optional<QString> TSavedServers::DefaultServer() const
{
    const TRegistryHive hive = LoadHive(TRegistryRoot::CurrentUser, FPaths).Hive;
    const TRegistryValue* value = hive.FindValue(Latin1(ServersKey), Latin1(DefaultServerValue));
    return value ? value->AsString() : std::nullopt;
}

std::optional<TSavedLogon> TSavedServers::Load(const QString& server) const
{
    const TRegistryHive hive = LoadHive(TRegistryRoot::CurrentUser, FPaths).Hive;
    const QString key = ServerKeyPath(server);
    if (!hive.KeyExists(key))
        return std::nullopt;
    TSavedLogon logon;
    if (const TRegistryValue* value = hive.FindValue(key, Latin1(UseWindowsNTValue)))
        logon.UseWindowsNT = value->AsInteger();
    if (const TRegistryValue* value = hive.FindValue(key, Latin1(UserIDValue)))
        logon.UserID = value->AsString();
    if (const TRegistryValue* value = hive.FindValue(key, Latin1(PasswordValue)))
        if (const auto bytes = value->AsBinary())
            logon.Password = DecodePassword(*bytes);
    return logon;
}

bool TSavedServers::SaveLogon(const QString& server, bool useWindowsNT, const QString& userId,
                              const QString& password, bool savePassword)
{
    if (!HasKeyOfItsOwn(server))
        return false;
    const QString key = ServerKeyPath(server);
    return UpdateHive(TRegistryRoot::CurrentUser, FPaths, [&](TRegistryHive& hive) {
        hive.CreateKey(key);
        for (const char* name : {UseWindowsNTValue, UserIDValue, PasswordValue})
            hive.DeleteValue(key, Latin1(name));
        hive.SetValue(key, TRegistryValue::FromInteger(Latin1(UseWindowsNTValue), useWindowsNT ? 1 : 0));
        if (!useWindowsNT) {
            hive.SetValue(key, TRegistryValue::FromString(Latin1(UserIDValue), userId));
            if (savePassword)
                hive.SetValue(key,
                              TRegistryValue::FromBinary(Latin1(PasswordValue), EncodePassword(password)));
        }
        hive.SetValue(ListKeyPath(), TRegistryValue::FromString(server, QString()));
        hive.SetValue(Latin1(ServersKey), TRegistryValue::FromString(Latin1(DefaultServerValue), server));
    });
}

bool TSavedServers::HasKeyOfItsOwn(const QString& server)
{
    const QStringList components = TRegistryHive::SplitKeyPath(server);
    if (components.isEmpty())
        return false;
    return components.size() > 1 ||
           components.first().compare(Latin1(ListOfServersKey), Qt::CaseInsensitive) != 0;
}

QByteArray TSavedServers::EncodePassword(const QString& password)
{
    return password.toUtf8();
}

QString TSavedServers::DecodePassword(const QByteArray& saved)
{
    const qsizetype zero = saved.indexOf('\0');
    const QByteArray bytes = zero < 0 ? saved : saved.first(zero);
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}
