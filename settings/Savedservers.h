#pragma once
// The servers a user has logged on to, kept in the user hive so that the logon dialog
// lists them and fills in the logon details of the one chosen:
//
//   \Software\Velquin\Servers\ + server          "UseWindowsNT", "UserID", "Password"
//   \Software\Velquin\Servers\List Of Servers    one empty string per server, named by it
//   \Software\Velquin\Servers\                   "Default Server"
//
// The server name goes into the key path as typed, so "host\instance" is the key
// "instance" below the key "host". Key and value names compare without regard to
// letter case, so names that differ only in case share one key and one list entry.

#include "settings/Registryfiles.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// What a server's key holds; a value that is missing or of another type is empty.
struct TSavedLogon
{
    std::optional<std::int32_t> UseWindowsNT;
    std::optional<QString> UserID;
    std::optional<QString> Password;
};

class TSavedServers
{
public:
    static constexpr const char* ServersKey = "\\Software\\Velquin\\Servers\\";
    static constexpr const char* ListOfServersKey = "List Of Servers";
    static constexpr const char* DefaultServerValue = "Default Server";
    static constexpr const char* UseWindowsNTValue = "UseWindowsNT";
    static constexpr const char* UserIDValue = "UserID";
    static constexpr const char* PasswordValue = "Password";

    explicit TSavedServers(TRegistryPaths paths = TRegistryPaths::FromEnvironment());

    // The names in "List Of Servers" as they were saved; empty names are left out.
    QStringList ListOfServers() const;
    std::optional<QString> DefaultServer() const;
    // Empty when the server has no key.
    std::optional<TSavedLogon> Load(const QString& server) const;

    // Remembers a successful logon in one save of the hive: the server's key then holds
    // exactly what this logon writes ("UseWindowsNT"; for a SQL Server login also
    // "UserID", and "Password" when it is to be saved), the server is in the list and
    // is the default. Only those three values of the server's key are replaced, never
    // keys below it (a host's key holds its named instances). False, with the file as
    // it was, when the name has no key of its own or the hive cannot be written.
    bool SaveLogon(const QString& server, bool useWindowsNT, const QString& userId, const QString& password,
                   bool savePassword);

    // An empty name (or only backslashes) would be the servers key itself and "List Of
    // Servers" the list: neither may hold a server's logon details.
    static bool HasKeyOfItsOwn(const QString& server);

    // A password is saved as its UTF-8 bytes, without a terminator, so a password of
    // ASCII characters is one byte per character. Saved bytes are read up to the first
    // zero byte, whatever their length; bytes that are not UTF-8 (a password saved one
    // byte per character in a Western code page) read as Latin-1.
    static QByteArray EncodePassword(const QString& password);
    static QString DecodePassword(const QByteArray& saved);

private:
    const TRegistryPaths FPaths;
};
