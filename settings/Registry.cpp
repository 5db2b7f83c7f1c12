#include "settings/Registry.h"

TRegistry::TRegistry(TRegistryRoot root, TRegistryPaths paths)
    : FRoot(root), FPaths(std::move(paths)), FHive(RegistryRootName(root))
{
}

bool TRegistry::OpenKeyReadOnly(const QString& key)
{
    CloseKey();
    FHive = LoadHive(FRoot, FPaths).Hive;
    if (!FHive.KeyExists(key))
        return false;
    FKey = key;
    FOpen = true;
    return true;
}

bool TRegistry::OpenKey(const QString& key, bool canCreate)
{
    CloseKey();
    TLoadedHive loaded = LoadHive(FRoot, FPaths);
    if (!loaded.Complete)
        return false;   // a save would drop what the file holds beyond its error
    const bool exists = loaded.Hive.KeyExists(key);
    if (!exists && !canCreate)
        return false;
    if (!exists && !UpdateHive(FRoot, FPaths, [&](TRegistryHive& hive) { hive.CreateKey(key); }))
        return false;
    FHive = exists ? std::move(loaded.Hive) : LoadHive(FRoot, FPaths).Hive;
    FKey = key;
    FOpen = true;
    FWritable = true;
    return true;
}

void TRegistry::CloseKey()
{
    FOpen = false;
    FWritable = false;
    FKey.clear();
}

bool TRegistry::KeyExists(const QString& key) const
{
    return LoadHive(FRoot, FPaths).Hive.KeyExists(key);
}

QStringList TRegistry::GetKeyNames() const
{
    return FOpen ? FHive.SubKeyNames(FKey) : QStringList();
}

QStringList TRegistry::GetValueNames() const
{
    return FOpen ? FHive.ValueNames(FKey) : QStringList();
}

const TRegistryValue* TRegistry::Find(const QString& name) const
{
    return FOpen ? FHive.FindValue(FKey, name) : nullptr;
}

bool TRegistry::ValueExists(const QString& name) const
{
    return Find(name) != nullptr;
}

TRegDataType TRegistry::GetDataType(const QString& name) const
{
    const TRegistryValue* value = Find(name);
    return value ? value->DataType() : TRegDataType::rdUnknown;
}

std::optional<std::int32_t> TRegistry::ReadInteger(const QString& name) const
{
    const TRegistryValue* value = Find(name);
    return value ? value->AsInteger() : std::nullopt;
}

std::optional<QString> TRegistry::ReadString(const QString& name) const
{
    const TRegistryValue* value = Find(name);
    return value ? value->AsString() : std::nullopt;
}

std::optional<QByteArray> TRegistry::ReadBinaryData(const QString& name) const
{
    const TRegistryValue* value = Find(name);
    return value ? value->AsBinary() : std::nullopt;
}

bool TRegistry::ReadBool(const QString& name) const
{
    return ReadInteger(name).value_or(0) != 0;
}

bool TRegistry::Write(const TRegistryValue& value)
{
    if (!FOpen || !FWritable)
        return false;
    if (!UpdateHive(FRoot, FPaths, [&](TRegistryHive& hive) { hive.SetValue(FKey, value); }))
        return false;
    FHive.SetValue(FKey, value);
    return true;
}

bool TRegistry::WriteInteger(const QString& name, std::int32_t value)
{
    return Write(TRegistryValue::FromInteger(name, value));
}

bool TRegistry::WriteBool(const QString& name, bool value)
{
    return WriteInteger(name, value ? 1 : 0);
}

bool TRegistry::WriteString(const QString& name, const QString& value)
{
    return Write(TRegistryValue::FromString(name, value));
}

bool TRegistry::WriteBinaryData(const QString& name, const QByteArray& value)
{
    return Write(TRegistryValue::FromBinary(name, value));
}

bool TRegistry::DeleteValue(const QString& name)
{
    if (!FOpen || !FWritable)
        return false;
    if (!ValueExists(name))
        return true;
    if (!UpdateHive(FRoot, FPaths, [&](TRegistryHive& hive) { hive.DeleteValue(FKey, name); }))
        return false;
    FHive.DeleteValue(FKey, name);
    return true;
}

bool TRegistry::DeleteKey(const QString& key)
{
    if (TRegistryHive::SplitKeyPath(key).isEmpty())
        return false;
    bool existed = false;
    if (!UpdateHive(FRoot, FPaths, [&](TRegistryHive& hive) { existed = hive.DeleteKey(key); }))
        return false;
    FHive.DeleteKey(key);
    if (FOpen && !FHive.KeyExists(FKey))
        CloseKey();
    return existed;
}
