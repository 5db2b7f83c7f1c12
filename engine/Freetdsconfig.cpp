#include "engine/Freetdsconfig.h"

#include "engine/Dberror.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

#include <cstdlib>

namespace {

constexpr char Marker[] = "# Torvane's own FreeTDS settings; its sections are rewritten as it connects.\n";
constexpr char SectionsStart[] = "# Torvane's sections\n";
constexpr qint64 MaxFormerSize = 1024 * 1024;

QString OwnFile()
{
    const QByteArray path = qgetenv("FREETDSCONF");
    if (path.isEmpty())
        return {};
    QFile file(QFile::decodeName(path));
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly) || file.read(sizeof Marker - 1) != Marker)
        return {};
    return file.fileName();
}

// The text of the file FREETDSCONF named before, with a line end. Only a regular file
// of a size a configuration has is read: a device, a FIFO or a huge file would stop
// the program before it starts; those are left out with a warning.
QByteArray FormerText(const QString& path)
{
    const QFileInfo info(path);
    QFile former(path);
    if (!info.isFile() || info.size() > MaxFormerSize || !former.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "FREETDSCONF names" << path
                             << "which is not a readable regular file of at most 1 MB; its settings are not used.";
        return {};
    }
    const QByteArray text = former.read(MaxFormerSize + 1);
    if (text.size() > MaxFormerSize) {
        qWarning().noquote() << "FREETDSCONF names" << path << "which is larger than 1 MB; its settings are not used.";
        return {};
    }
    return text + '\n';
}

} // namespace

TFreeTdsConfig::TFreeTdsConfig()
    : FDirectory(QDir::tempPath() + QStringLiteral("/torvane-freetds-XXXXXX")),
      FFormer(qgetenv("FREETDSCONF"))
{
    if (!FDirectory.isValid()) {
        qWarning().noquote() << "Torvane's own freetds.conf could not be made:" << FDirectory.errorString();
        return;
    }
    // A program that exits from anywhere (the command line parser does after --help or
    // a bad option) still takes the folder away.
    static const bool removedAtExit = std::atexit(RemoveOwnFreeTdsConfig) == 0;
    static_cast<void>(removedAtExit);
    QByteArray text = Marker;
    if (!FFormer.isEmpty())
        text += FormerText(QFile::decodeName(FFormer));
    text += SectionsStart;
    QSaveFile file(FDirectory.filePath(QStringLiteral("freetds.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        qWarning().noquote() << "Torvane's own freetds.conf could not be written:" << file.errorString();
        return;
    }
    qputenv("FREETDSCONF", QFile::encodeName(file.fileName()));
    FValid = true;
}

TFreeTdsConfig::~TFreeTdsConfig()
{
    if (!FValid)
        return;
    if (FFormer.isEmpty())
        qunsetenv("FREETDSCONF");
    else
        qputenv("FREETDSCONF", FFormer);
}

void RemoveOwnFreeTdsConfig()
{
    if (const QString path = OwnFile(); !path.isEmpty())
        QFileInfo(path).dir().removeRecursively();
}

std::string FreeTdsSectionName(const std::string& host, const std::string& instance, const std::string& port)
{
    // FNV-1a: a name FreeTDS reads as a plain word, whatever the server name holds.
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : host + '\n' + instance + '\n' + port) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    return "torvane-" + QByteArray::number(static_cast<qulonglong>(hash), 16).toStdString();
}

void WriteFreeTdsSection(const std::string& name,
                         const std::vector<std::pair<std::string, std::string>>& lines)
{
    const QString path = OwnFile();
    if (path.isEmpty())
        throw EDbError("Checking the server's certificate with FreeTDS needs Torvane's own freetds.conf, "
                       "which could not be made (see the program's standard error).",
                       "Torvane");
    QByteArray section = "[" + QByteArray::fromStdString(name) + "]\n";
    for (const auto& [key, value] : lines) {
        if (value.find_first_of("\r\n") != std::string::npos)
            throw EDbError("A server name or CA file that holds a line break cannot be given to FreeTDS.",
                           "Torvane");
        section += '\t' + QByteArray::fromStdString(key) + " = " + QByteArray::fromStdString(value) + '\n';
    }
    // Connections to several servers may be made at once, each writing its own section.
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.lock())
        throw EDbError("Torvane's own freetds.conf could not be locked.", "Torvane");
    QFile current(path);
    if (!current.open(QIODevice::ReadOnly))
        throw EDbError("Torvane's own freetds.conf could not be read: " + current.errorString().toStdString(),
                       "Torvane");
    const QByteArray text = current.readAll();
    current.close();
    const qsizetype start = text.indexOf(SectionsStart);
    QByteArray updated = text.left(start < 0 ? text.size() : start) + SectionsStart;
    const QByteArray header = "[" + QByteArray::fromStdString(name) + "]";
    // Below the start line every section is one of ours, as written here: the lines from
    // its header to the next one.
    bool skipping = false;
    if (start >= 0) {
        for (const QByteArray& line : text.mid(start + qsizetype(sizeof SectionsStart - 1)).split('\n')) {
            if (line.startsWith('['))
                skipping = line == header;
            if (!skipping && !line.isEmpty())
                updated += line + '\n';
        }
    }
    updated += section;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(updated) != updated.size() || !file.commit())
        throw EDbError("Torvane's own freetds.conf could not be written: " + file.errorString().toStdString(),
                       "Torvane");
}
