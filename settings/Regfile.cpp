#include "settings/Regfile.h"

#include <QByteArrayView>
#include <QStringDecoder>

namespace
{
const QString Header5 = QStringLiteral("Windows Registry Editor Version 5.00");
const QString Header4 = QStringLiteral("REGEDIT4");
constexpr qsizetype HexLineWidth = 76;   // where the registry editor wraps hex data

// The Windows-1252 characters of the bytes 0x80 to 0x9f; the five bytes it leaves
// undefined stand for the control characters of the same number, as Windows reads them.
constexpr char16_t Windows1252High[32] = {
    0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008d, 0x017d, 0x008f, 0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
    0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178,
};

QString FromWindows1252(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        text.append(QChar(b >= 0x80 && b < 0xa0 ? Windows1252High[b - 0x80] : char16_t(b)));
    }
    return text;
}

// REGEDIT4 files are ANSI text, as the registry editor of Windows 95 and NT 4 wrote them
// (Windows-1252 in the western code page); version 5.00 files are UTF-16LE with a byte
// order mark as the editor exports them, or UTF-8 as this store writes them.
QString DecodeText(const QByteArray& content, bool& ok, bool& ansi)
{
    ok = true;
    ansi = false;
    if (content.startsWith("\xff\xfe")) {
        QStringDecoder decoder(QStringDecoder::Utf16LE);
        const QString text = decoder.decode(content.mid(2));
        ok = !decoder.hasError() && content.size() % 2 == 0;
        return text;
    }
    if (content.startsWith(Header4.toLatin1())) {
        ansi = true;
        return FromWindows1252(content);
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(content.startsWith("\xef\xbb\xbf") ? content.mid(3) : content);
    ok = !decoder.hasError();
    return text;
}

struct TLogicalLine
{
    int Number;   // of its first physical line
    QString Text; // trimmed
};

// Joins the continuation lines of long hex data ("...,\" then indented lines). Only a
// value's data continues: a comment or key line that happens to end in a backslash ends
// there, and the line after it is read as a line of its own.
std::vector<TLogicalLine> LogicalLines(const QString& text)
{
    std::vector<TLogicalLine> lines;
    bool continuing = false;
    int number = 0;
    for (const QStringView physical : QStringView(text).split(u'\n')) {
        ++number;
        const QStringView line = physical.trimmed();
        const bool valueData = continuing || line.startsWith(u'"') || line.startsWith(u'@');
        if (continuing)
            lines.back().Text += line;
        else
            lines.push_back({number, line.toString()});
        continuing = valueData && line.endsWith(u'\\');
        if (continuing)
            lines.back().Text.chop(1);
    }
    return lines;
}

// Reads a quoted text at pos (which points at the opening quote); pos ends after the
// closing quote.
bool ReadQuoted(const QString& line, qsizetype& pos, QString& out)
{
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
        const QChar c = line[pos];
        if (c == QLatin1Char('"')) {
            ++pos;
            return true;
        }
        if (c == QLatin1Char('\\')) {
            if (pos + 1 >= line.size())
                return false;
            const QChar next = line[++pos];
            if (next != QLatin1Char('\\') && next != QLatin1Char('"'))
                return false;
            out.append(next);
        } else {
            out.append(c);
        }
    }
    return false;
}

bool ReadHexBytes(const QString& text, QByteArray& out)
{
    out.clear();
    const QString compact = QString(text).remove(QLatin1Char(' ')).remove(QLatin1Char('\t'));
    if (compact.isEmpty())
        return true;
    const QStringList parts = compact.split(QLatin1Char(','));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& part = parts[i];
        if (part.isEmpty() && i == parts.size() - 1)
            break;   // a trailing comma
        bool ok = false;
        const uint byte = part.toUInt(&ok, 16);
        if (!ok || part.size() > 2 || byte > 0xff)
            return false;
        out.append(static_cast<char>(byte));
    }
    return true;
}

// The data after "=": fills value (type and bytes); deletes is set for "-". In an ANSI
// file the hex data of the string types is ANSI text too, kept here as UTF-16LE.
QString ReadData(const QString& data, bool ansi, TRegistryValue& value, bool& deletes)
{
    deletes = false;
    if (data == QLatin1String("-")) {
        deletes = true;
        return {};
    }
    if (data.startsWith(QLatin1Char('"'))) {
        qsizetype pos = 0;
        QString text;
        if (!ReadQuoted(data, pos, text) || pos != data.size())
            return QStringLiteral("a text value must be one quoted text with \\\\ and \\\" escapes");
        value = TRegistryValue::FromString(value.Name, text);
        return {};
    }
    if (data.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
        const QString digits = data.mid(6);
        bool ok = false;
        const uint number = digits.toUInt(&ok, 16);
        if (!ok || digits.isEmpty() || digits.size() > 8)
            return QStringLiteral("a dword value needs up to eight hexadecimal digits");
        value = TRegistryValue::FromInteger(value.Name, static_cast<std::int32_t>(number));
        return {};
    }
    if (data.startsWith(QLatin1String("hex"), Qt::CaseInsensitive)) {
        std::uint32_t type = RegBinary;
        qsizetype colon = 3;
        if (data.mid(3, 1) == QLatin1String("(")) {
            const qsizetype close = data.indexOf(QLatin1Char(')'));
            bool ok = false;
            type = data.mid(4, close - 4).toUInt(&ok, 16);
            if (close < 0 || !ok)
                return QStringLiteral("hex(type) needs a hexadecimal type number");
            colon = close + 1;
        }
        if (data.mid(colon, 1) != QLatin1String(":"))
            return QStringLiteral("hex data must follow a colon");
        QByteArray bytes;
        if (!ReadHexBytes(data.mid(colon + 1), bytes))
            return QStringLiteral("hex data must be two-digit hexadecimal bytes separated by commas");
        value.Type = type;
        value.Data = bytes;
        if (ansi && (type == RegSz || type == RegExpandSz || type == RegMultiSz)) {
            value.Data.clear();
            for (const QChar c : FromWindows1252(bytes)) {
                value.Data.append(static_cast<char>(c.unicode() & 0xff));
                value.Data.append(static_cast<char>(c.unicode() >> 8));
            }
        }
        return {};
    }
    return QStringLiteral("unknown value data");
}

QString Quoted(const QString& text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"'))
            out.append(QLatin1Char('\\'));
        out.append(c);
    }
    out.append(QLatin1Char('"'));
    return out;
}

// A text the quoted form can carry: no line breaks or other control characters, and no
// bytes after the terminator.
bool QuotableString(const TRegistryValue& value)
{
    const auto text = value.AsString();
    if (!text || TRegistryValue::FromString(value.Name, *text).Data != value.Data)
        return false;
    return std::none_of(text->begin(), text->end(), [](QChar c) { return c.unicode() < 0x20; });
}

QString HexData(const QString& prefix, const QByteArray& bytes)
{
    QString out = prefix;
    qsizetype lineLength = prefix.size();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const QString byte = QStringLiteral("%1").arg(static_cast<unsigned char>(bytes[i]), 2, 16, QLatin1Char('0'));
        const bool last = i == bytes.size() - 1;
        out += byte;
        lineLength += 2;
        if (!last) {
            out += QLatin1Char(',');
            ++lineLength;
            if (lineLength >= HexLineWidth) {
                out += QStringLiteral("\\\r\n  ");
                lineLength = 2;
            }
        }
    }
    return out;
}

QString ValueLine(const TRegistryValue& value)
{
    const QString name = value.Name.isEmpty() ? QStringLiteral("@") : Quoted(value.Name);
    if (value.Type == RegSz && QuotableString(value))
        return name + QLatin1Char('=') + Quoted(*value.AsString());
    if (const auto number = value.AsInteger())
        return name + QStringLiteral("=dword:%1").arg(static_cast<std::uint32_t>(*number), 8, 16, QLatin1Char('0'));
    const QString prefix = value.Type == RegBinary ? QStringLiteral("=hex:")
                                                   : QStringLiteral("=hex(%1):").arg(value.Type, 0, 16);
    return HexData(name + prefix, value.Data);
}
} // namespace

TRegFileContent ReadRegFile(const QByteArray& content, const QString& rootName)
{
    TRegFileContent result{TRegistryHive(rootName), {}};
    bool decoded = true;
    bool ansi = false;
    const QString text = DecodeText(content, decoded, ansi);
    if (!decoded) {
        result.Error = QStringLiteral("the file is neither UTF-8 nor UTF-16LE text");
        return result;
    }
    const std::vector<TLogicalLine> lines = LogicalLines(text);
    bool headerSeen = false;
    std::optional<QString> key;   // none before the first section and after [-...]
    for (const TLogicalLine& logical : lines) {
        const QString& line = logical.Text;
        const auto fail = [&](const QString& why) {
            result.Error = QStringLiteral("line %1: %2").arg(logical.Number).arg(why);
        };
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (!headerSeen) {
            if (line != Header5 && line != Header4) {
                fail(QStringLiteral("the first line must be \"%1\"").arg(Header5));
                return result;
            }
            headerSeen = true;
            continue;
        }
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']'))) {
                fail(QStringLiteral("a key line must end with ']'"));
                return result;
            }
            QString path = line.mid(1, line.size() - 2);
            const bool deletes = path.startsWith(QLatin1Char('-'));
            if (deletes)
                path.remove(0, 1);
            QStringList components = TRegistryHive::SplitKeyPath(path);
            if (components.isEmpty() || components.first().compare(rootName, Qt::CaseInsensitive) != 0) {
                fail(QStringLiteral("the key is not under %1").arg(rootName));
                return result;
            }
            components.removeFirst();
            const QString relative = components.join(QLatin1Char('\\'));
            if (deletes) {
                result.Hive.DeleteKey(relative);
                key.reset();
            } else {
                result.Hive.CreateKey(relative);
                key = relative;
            }
            continue;
        }
        if (!key) {
            fail(QStringLiteral("a value must follow a key line"));
            return result;
        }
        TRegistryValue value;
        qsizetype pos = 0;
        if (line.startsWith(QLatin1Char('@'))) {
            pos = 1;
        } else if (!line.startsWith(QLatin1Char('"')) || !ReadQuoted(line, pos, value.Name)) {
            fail(QStringLiteral("a value name must be @ or a quoted text"));
            return result;
        }
        while (pos < line.size() && line[pos].isSpace())
            ++pos;
        if (pos >= line.size() || line[pos] != QLatin1Char('=')) {
            fail(QStringLiteral("'=' must follow the value name"));
            return result;
        }
        bool deletes = false;
        const QString why = ReadData(line.mid(pos + 1).trimmed(), ansi, value, deletes);
        if (!why.isEmpty()) {
            fail(why);
            return result;
        }
        if (deletes)
            result.Hive.DeleteValue(*key, value.Name);
        else
            result.Hive.SetValue(*key, value);
    }
    return result;
}

QByteArray WriteRegFile(const TRegistryHive& hive)
{
    QString out = Header5 + QStringLiteral("\r\n\r\n");
    const auto writeKey = [&](const QString& section, const std::vector<TRegistryValue>& values) {
        out += QLatin1Char('[') + section + QStringLiteral("]\r\n");
        for (const TRegistryValue& value : values)
            out += ValueLine(value) + QStringLiteral("\r\n");
        out += QStringLiteral("\r\n");
    };
    if (!hive.RootValues().empty())
        writeKey(hive.RootName(), hive.RootValues());
    for (const auto& [folded, key] : hive.Keys())
        writeKey(hive.RootName() + QLatin1Char('\\') + key.Components.join(QLatin1Char('\\')), key.Values);
    return out.toUtf8();
}
