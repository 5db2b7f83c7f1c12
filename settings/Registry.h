#pragma once
// A handle on one hive of the settings store, in the manner of a registry key handle:
// open one key read-only or for writing, then test, read, write and delete its values.
// Every open reads the hive file afresh and every write is saved at once, so a handle
// holds nothing that another handle or another process could see out of date for long.

#include "settings/Registryfiles.h"
#include "settings/Registryhive.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

class TRegistry
{
public:
    explicit TRegistry(TRegistryRoot root,
                       TRegistryPaths paths = TRegistryPaths::FromEnvironment());

    // False, with no key open, when the key does not exist.
    bool OpenKeyReadOnly(const QString& key);
    // For writing. With canCreate the key and its missing parents are created. False
    // when the key is missing and may not be created, or cannot be saved.
    bool OpenKey(const QString& key, bool canCreate);
    void CloseKey();
    bool HasCurrentKey() const { return FOpen; }

    bool KeyExists(const QString& key) const;
    QStringList GetKeyNames() const;      // subkeys of the open key
    QStringList GetValueNames() const;    // values of the open key

    bool ValueExists(const QString& name) const;
    TRegDataType GetDataType(const QString& name) const;   // rdUnknown when missing
    // Empty when the value is missing or of another type.
    std::optional<std::int32_t> ReadInteger(const QString& name) const;
    std::optional<QString> ReadString(const QString& name) const;
    std::optional<QByteArray> ReadBinaryData(const QString& name) const;
    // Present and not 0; a missing value is false.
    bool ReadBool(const QString& name) const;

    // Only on a key opened for writing; false when not saved.
    bool WriteInteger(const QString& name, std::int32_t value);
    bool WriteBool(const QString& name, bool value);
    bool WriteString(const QString& name, const QString& value);
    bool WriteBinaryData(const QString& name, const QByteArray& value);
    bool DeleteValue(const QString& name);     // true also when it was not there
    // A key of this hive (not relative to the open key), with its subkeys.
    bool DeleteKey(const QString& key);

private:
    const TRegistryValue* Find(const QString& name) const;
    bool Write(const TRegistryValue& value);

    TRegistryRoot FRoot;
    TRegistryPaths FPaths;
    TRegistryHive FHive;
    QString FKey;
    bool FOpen = false;
    bool FWritable = false;
};
