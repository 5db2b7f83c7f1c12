#include "engine/Projectversion.h"

#include <QFile>
#include <QtEndian>

#include <elf.h>

#include <cstring>

namespace {

constexpr std::string_view SectionName = ".torvane_version";
// The block is a few hundred bytes; a larger section of that name is not ours, and a
// bound keeps a damaged file from asking for gigabytes.
constexpr quint64 MaxBlockSize = 64 * 1024;

// Reads what an ELF file stores at offset, or nothing when the file ends before.
std::optional<QByteArray> ReadAt(QFile& file, quint64 offset, quint64 size)
{
    const auto fileSize = static_cast<quint64>(file.size());
    if (offset > fileSize || size > fileSize - offset)
        return std::nullopt;
    if (!file.seek(static_cast<qint64>(offset)))
        return std::nullopt;
    QByteArray bytes = file.read(static_cast<qint64>(size));
    if (static_cast<quint64>(bytes.size()) != size)
        return std::nullopt;
    return bytes;
}

template <typename T> T Native(T value, bool swap)
{
    return swap ? qbswap(value) : value;
}

template <typename Struct> Struct StructAt(const QByteArray& bytes, qsizetype offset)
{
    Struct value;
    std::memcpy(&value, bytes.constData() + offset, sizeof value);
    return value;
}

// The contents of the named section of a 32-bit (Elf32_*) or 64-bit (Elf64_*) file whose
// byte order is native, or swapped when swap is set. Every offset and size taken from the
// file is checked against the file before it is used.
template <typename Ehdr, typename Shdr> std::optional<QByteArray> FindSection(QFile& file, bool swap)
{
    const std::optional<QByteArray> headerBytes = ReadAt(file, 0, sizeof(Ehdr));
    if (!headerBytes)
        return std::nullopt;
    const auto header = StructAt<Ehdr>(*headerBytes, 0);
    const quint64 tableOffset = Native(header.e_shoff, swap);
    if (tableOffset == 0 || Native(header.e_shentsize, swap) != sizeof(Shdr))
        return std::nullopt;

    // Files with very many sections keep the real count and string table index in the
    // first section header.
    const std::optional<QByteArray> firstBytes = ReadAt(file, tableOffset, sizeof(Shdr));
    if (!firstBytes)
        return std::nullopt;
    const auto first = StructAt<Shdr>(*firstBytes, 0);
    quint64 count = Native(header.e_shnum, swap);
    if (count == 0)
        count = Native(first.sh_size, swap);
    quint64 namesIndex = Native(header.e_shstrndx, swap);
    if (namesIndex == SHN_XINDEX)
        namesIndex = Native(first.sh_link, swap);
    if (count == 0 || namesIndex >= count || count > static_cast<quint64>(file.size()) / sizeof(Shdr))
        return std::nullopt;

    const std::optional<QByteArray> table = ReadAt(file, tableOffset, count * sizeof(Shdr));
    if (!table)
        return std::nullopt;
    const auto section = [&](quint64 index) {
        return StructAt<Shdr>(*table, static_cast<qsizetype>(index * sizeof(Shdr)));
    };
    const Shdr namesHeader = section(namesIndex);
    if (Native(namesHeader.sh_type, swap) == SHT_NOBITS)
        return std::nullopt;
    const std::optional<QByteArray> names =
        ReadAt(file, Native(namesHeader.sh_offset, swap), Native(namesHeader.sh_size, swap));
    if (!names)
        return std::nullopt;

    for (quint64 index = 1; index < count; ++index) {
        const Shdr candidate = section(index);
        const quint64 nameOffset = Native(candidate.sh_name, swap);
        if (nameOffset >= static_cast<quint64>(names->size()))
            continue;
        const QByteArrayView rest = QByteArrayView(*names).sliced(static_cast<qsizetype>(nameOffset));
        const qsizetype end = rest.indexOf('\0');
        if (end < 0 || rest.first(end) != QByteArrayView(SectionName.data(), SectionName.size()))
            continue;
        const quint64 size = Native(candidate.sh_size, swap);
        if (Native(candidate.sh_type, swap) == SHT_NOBITS || size > MaxBlockSize)
            return std::nullopt;
        return ReadAt(file, Native(candidate.sh_offset, swap), size);
    }
    return std::nullopt;
}

std::optional<QByteArray> ReadVersionSection(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<QByteArray> ident = ReadAt(file, 0, EI_NIDENT);
    if (!ident || !ident->startsWith(QByteArrayView(ELFMAG, SELFMAG)) || (*ident)[EI_VERSION] != EV_CURRENT)
        return std::nullopt;
    const char data = (*ident)[EI_DATA];
    if (data != ELFDATA2LSB && data != ELFDATA2MSB)
        return std::nullopt;
    const bool bigEndianFile = data == ELFDATA2MSB;
    const bool swap = bigEndianFile != (QSysInfo::ByteOrder == QSysInfo::BigEndian);
    switch ((*ident)[EI_CLASS]) {
    case ELFCLASS32:
        return FindSection<Elf32_Ehdr, Elf32_Shdr>(file, swap);
    case ELFCLASS64:
        return FindSection<Elf64_Ehdr, Elf64_Shdr>(file, swap);
    default:
        return std::nullopt;
    }
}

// "key=value" lines up to the first zero byte; lines without "=" are skipped.
std::map<QString, QString> ParseBlock(const QByteArray& section)
{
    std::map<QString, QString> values;
    const qsizetype end = section.indexOf('\0');
    const QByteArrayView text = end < 0 ? QByteArrayView(section) : QByteArrayView(section).first(end);
    for (const QString& line : QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype equals = line.indexOf(u'=');
        if (equals > 0)
            values.insert_or_assign(line.first(equals), line.sliced(equals + 1));
    }
    return values;
}

} // namespace

TProjectRCVersion::TProjectRCVersion() : TProjectRCVersion(QStringLiteral("/proc/self/exe")) {}

TProjectRCVersion::TProjectRCVersion(const QString& programFile)
{
    if (const std::optional<QByteArray> section = ReadVersionSection(programFile))
        Block = ParseBlock(*section);
}

bool TProjectRCVersion::GetValue(const QString& key, QString& value) const
{
    if (!Block)
        return false;
    const auto found = Block->find(key);
    if (found == Block->end())
        return false;
    value = found->second;
    return true;
}

bool TProjectRCVersion::GetProductName(QString& productName) const
{
    return GetValue(QStringLiteral("ProductName"), productName);
}

bool TProjectRCVersion::GetFileVersion(QString& fileVersion) const
{
    return GetValue(QStringLiteral("FileVersion"), fileVersion);
}

QString TProjectRCVersion::VersionText() const
{
    const QString unknown = QStringLiteral("Version 1.3");
    QString productName;
    QString fileVersion;
    if (!GetProductName(productName) || !GetFileVersion(fileVersion))
        return unknown;
    const qsizetype dot = fileVersion.lastIndexOf(u'.');
    const QString version = dot < 0 ? fileVersion : fileVersion.first(dot);
    const QString build = dot < 0 ? QString() : fileVersion.sliced(dot + 1);
    if (version.isEmpty())
        return unknown;
    if (build.isEmpty())
        return QStringLiteral("Version ") + version;
    return QStringLiteral("Version %1 Build %2").arg(version, build);
}
