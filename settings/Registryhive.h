#pragma once
// One hive of the registry-style store held in memory: a tree of keys, each with typed
// values, as the Windows registry models it. Key and value names compare without regard
// to letter case and keep the case they were first written with.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

// The registry's own type numbers. A value keeps its number and raw bytes, so types that
// Torvane never writes (expandable and multi strings, 64-bit integers) survive a load
// and a save unchanged.
enum TRegistryType : std::uint32_t
{
    RegNone = 0,
    RegSz = 1,
    RegExpandSz = 2,
    RegBinary = 3,
    RegDword = 4,
    RegMultiSz = 7,
    RegQword = 11,
};

// What a reader is told about a value's type.
enum class TRegDataType
{
    rdUnknown,
    rdString,
    rdExpandString,
    rdInteger,
    rdBinary,
};

struct TRegistryValue
{
    QString Name;          // empty for the key's default value ("@" in a .reg file)
    std::uint32_t Type = RegNone;
    QByteArray Data;       // the registry's bytes: strings UTF-16LE with a terminator

    static TRegistryValue FromInteger(const QString& name, std::int32_t value);
    static TRegistryValue FromString(const QString& name, const QString& value);
    static TRegistryValue FromBinary(const QString& name, const QByteArray& value);

    TRegDataType DataType() const;
    std::optional<std::int32_t> AsInteger() const;   // only a 4-byte RegDword
    std::optional<QString> AsString() const;         // RegSz or RegExpandSz
    std::optional<QByteArray> AsBinary() const;      // RegBinary
};

class TRegistryHive
{
public:
    // rootName is how the hive's sections begin in a .reg file, e.g. "HKEY_CURRENT_USER".
    explicit TRegistryHive(QString rootName);

    const QString& RootName() const { return FRootName; }

    // Key paths are relative to the root, components separated by backslashes; leading,
    // trailing and doubled backslashes are ignored ("\Software\X\" is "Software\X").
    // The empty path is the root itself, which always exists.
    static QStringList SplitKeyPath(const QString& path);

    bool KeyExists(const QString& path) const;
    void CreateKey(const QString& path);              // with every missing parent
    bool DeleteKey(const QString& path);              // with its subkeys; false if absent
    QStringList SubKeyNames(const QString& path) const;

    QStringList ValueNames(const QString& path) const;
    const TRegistryValue* FindValue(const QString& path, const QString& name) const;
    void SetValue(const QString& path, const TRegistryValue& value);   // creates the key
    bool DeleteValue(const QString& path, const QString& name);

    struct TKey
    {
        QStringList Components;                       // as first written
        std::vector<TRegistryValue> Values;           // in the order they were added
        // Where each value stands in Values, by case-folded name: a key may hold tens of
        // thousands of values, and reading a file sets every one of them.
        QHash<QString, std::size_t> Positions;
    };
    // Every key except the root, parents before children, siblings ordered by name
    // without regard to case, as a registry export lists them.
    const std::map<QStringList, TKey>& Keys() const { return FKeys; }
    // Values stored at the root itself (rare; an export cannot show them).
    const std::vector<TRegistryValue>& RootValues() const { return FRoot.Values; }

private:
    const TKey* KeyAt(const QStringList& folded) const;
    TKey* KeyAt(const QStringList& folded);

    QString FRootName;
    std::map<QStringList, TKey> FKeys;                // by case-folded components
    TKey FRoot;
};
