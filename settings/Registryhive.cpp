#include "settings/Registryhive.h"

#include <QtEndian>

#include <algorithm>

namespace
{
QStringList Folded(const QStringList& components)
{
    QStringList folded;
    folded.reserve(components.size());
    for (const QString& c : components)
        folded.append(c.toCaseFolded());
    return folded;
}

bool IsBelow(const QStringList& key, const QStringList& parent)
{
    return key.size() > parent.size()
           && std::equal(parent.begin(), parent.end(), key.begin());
}
} // namespace

TRegistryValue TRegistryValue::FromInteger(const QString& name, std::int32_t value)
{
    QByteArray data(4, '\0');
    qToLittleEndian(static_cast<std::uint32_t>(value), data.data());
    return {name, RegDword, data};
}

TRegistryValue TRegistryValue::FromString(const QString& name, const QString& value)
{
    QByteArray data;
    data.reserve((value.size() + 1) * 2);
    for (const QChar c : value) {
        data.append(static_cast<char>(c.unicode() & 0xff));
        data.append(static_cast<char>(c.unicode() >> 8));
    }
    data.append(2, '\0');
    return {name, RegSz, data};
}

TRegistryValue TRegistryValue::FromBinary(const QString& name, const QByteArray& value)
{
    return {name, RegBinary, value};
}

TRegDataType TRegistryValue::DataType() const
{
    switch (Type) {
    case RegSz: return TRegDataType::rdString;
    case RegExpandSz: return TRegDataType::rdExpandString;
    case RegDword: return TRegDataType::rdInteger;
    case RegBinary: return TRegDataType::rdBinary;
    default: return TRegDataType::rdUnknown;
    }
}

std::optional<std::int32_t> TRegistryValue::AsInteger() const
{
    if (Type != RegDword || Data.size() != 4)
        return std::nullopt;
    return static_cast<std::int32_t>(qFromLittleEndian<std::uint32_t>(Data.constData()));
}

std::optional<QString> TRegistryValue::AsString() const
{
    if (Type != RegSz && Type != RegExpandSz)
        return std::nullopt;
    QString text;
    text.reserve(Data.size() / 2);
    for (qsizetype i = 0; i + 1 < Data.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(static_cast<unsigned char>(Data[i])
                                                    | (static_cast<unsigned char>(Data[i + 1]) << 8));
        if (unit == 0)   // the registry's terminator; anything after it is not the text
            break;
        text.append(QChar(unit));
    }
    return text;
}

std::optional<QByteArray> TRegistryValue::AsBinary() const
{
    if (Type != RegBinary)
        return std::nullopt;
    return Data;
}

TRegistryHive::TRegistryHive(QString rootName)
    : FRootName(std::move(rootName))
{
}

QStringList TRegistryHive::SplitKeyPath(const QString& path)
{
    return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

bool TRegistryHive::KeyExists(const QString& path) const
{
    const QStringList components = SplitKeyPath(path);
    return components.isEmpty() || FKeys.count(Folded(components)) != 0;
}

void TRegistryHive::CreateKey(const QString& path)
{
    const QStringList components = SplitKeyPath(path);
    for (qsizetype n = 1; n <= components.size(); ++n) {
        const QStringList prefix = components.first(n);
        FKeys.try_emplace(Folded(prefix), TKey{prefix, {}, {}});
    }
}

bool TRegistryHive::DeleteKey(const QString& path)
{
    const QStringList folded = Folded(SplitKeyPath(path));
    if (folded.isEmpty())
        return false;   // the root cannot be deleted
    const auto it = FKeys.find(folded);
    if (it == FKeys.end())
        return false;
    auto end = std::next(it);
    while (end != FKeys.end() && IsBelow(end->first, folded))
        ++end;
    FKeys.erase(it, end);
    return true;
}

QStringList TRegistryHive::SubKeyNames(const QString& path) const
{
    const QStringList folded = Folded(SplitKeyPath(path));
    QStringList names;
    for (const auto& [key, data] : FKeys) {
        if (key.size() == folded.size() + 1 && IsBelow(key, folded))
            names.append(data.Components.last());
    }
    return names;
}

const TRegistryHive::TKey* TRegistryHive::KeyAt(const QStringList& folded) const
{
    if (folded.isEmpty())
        return &FRoot;
    const auto it = FKeys.find(folded);
    return it == FKeys.end() ? nullptr : &it->second;
}

TRegistryHive::TKey* TRegistryHive::KeyAt(const QStringList& folded)
{
    return const_cast<TKey*>(std::as_const(*this).KeyAt(folded));
}

QStringList TRegistryHive::ValueNames(const QString& path) const
{
    QStringList names;
    if (const TKey* key = KeyAt(Folded(SplitKeyPath(path)))) {
        for (const TRegistryValue& v : key->Values)
            names.append(v.Name);
    }
    return names;
}

const TRegistryValue* TRegistryHive::FindValue(const QString& path, const QString& name) const
{
    const TKey* key = KeyAt(Folded(SplitKeyPath(path)));
    if (!key)
        return nullptr;
    const auto it = key->Positions.constFind(name.toCaseFolded());
    return it == key->Positions.cend() ? nullptr : &key->Values[*it];
}

void TRegistryHive::SetValue(const QString& path, const TRegistryValue& value)
{
    CreateKey(path);
    TKey* key = KeyAt(Folded(SplitKeyPath(path)));
    const QString folded = value.Name.toCaseFolded();
    const auto it = key->Positions.constFind(folded);
    if (it == key->Positions.cend()) {
        key->Positions.insert(folded, key->Values.size());
        key->Values.push_back(value);
    } else {
        // The registry keeps the name's first spelling.
        TRegistryValue& kept = key->Values[*it];
        kept.Type = value.Type;
        kept.Data = value.Data;
    }
}

bool TRegistryHive::DeleteValue(const QString& path, const QString& name)
{
    TKey* key = KeyAt(Folded(SplitKeyPath(path)));
    if (!key)
        return false;
    const auto it = key->Positions.find(name.toCaseFolded());
    if (it == key->Positions.end())
        return false;
    const std::size_t position = *it;
    key->Positions.erase(it);
    key->Values.erase(key->Values.begin() + static_cast<std::ptrdiff_t>(position));
    for (std::size_t& later : key->Positions) {
        if (later > position)
            --later;
    }
    return true;
}
